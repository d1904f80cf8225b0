// Feeds bytes as a primary capture to the pass assembly together with two
// damaged variants of them as re-read passes, each cut from a place the
// first bytes choose: the assembly ends, writes whole packets only, and
// its report adds up.
#include <algorithm>
#include <cstring>

#include "fuzz/FuzzSupport.h"
#include "streamcheck/PassAssembly.h"

namespace {

class MemorySource final : public zelto::streamcheck::ByteSource {
 public:
  MemorySource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::size_t Read(std::uint8_t* out, std::size_t size) override {
    const std::size_t n = std::min(size, size_ - at_);
    if (n == 0) return 0;
    std::memcpy(out, data_ + at_, n);
    at_ += n;
    return n;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// A pass: the input from `first` to `end`, with every `every`-th packet
// dropped and the one after it flagged, as a tape that drops out.
std::vector<std::uint8_t> Pass(const std::uint8_t* data, std::size_t size, std::size_t first, std::size_t end,
                               std::size_t every) {
  std::vector<std::uint8_t> pass;
  first = std::min(first, size);
  end = std::clamp(end, first, size);
  for (std::size_t at = first, k = 0; at < end; at += 188, ++k) {
    const std::size_t n = std::min<std::size_t>(188, end - at);
    if (every > 0 && k % every == 0) continue;
    const std::size_t start = pass.size();
    pass.insert(pass.end(), data + at, data + at + n);
    if (every > 0 && k % every == 1 && n > 1) pass[start + 1] |= 0x80;
  }
  return pass;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const std::uint8_t* stream = data + 4;
  const std::size_t bytes = size - 4;
  const std::size_t unit = std::max<std::size_t>(1, bytes / 256);
  const auto second = Pass(stream, bytes, data[0] * unit, bytes - data[1] * unit, 3 + data[2] % 8);
  const auto third = Pass(stream, bytes, data[1] * unit, bytes - data[0] * unit, 2 + data[3] % 5);

  MemorySource primary(stream, bytes), pass2(second.data(), second.size()), pass3(third.data(), third.size());
  std::uint64_t written = 0;
  const auto report = zelto::streamcheck::Assemble(primary, {&pass2, &pass3}, [&](const std::uint8_t*, std::size_t n) {
    written += n;
    return true;
  });
  if (report.failure != zelto::streamcheck::AssemblyReport::Failure::None) return 0;
  FUZZ_CHECK(written % 188 == 0 && written == report.assembled.bytes, "%llu bytes written, %llu counted",
             static_cast<unsigned long long>(written), static_cast<unsigned long long>(report.assembled.bytes));
  FUZZ_CHECK(report.assembled.packets * 188 == written, "the assembly wrote something other than whole packets");
  std::uint64_t recovered = 0, replaced = 0;
  for (const auto& r : report.repairs) {
    FUZZ_CHECK(r.firstByte <= r.endByte && r.endByte <= bytes && (r.pass == 2 || r.pass == 3), "repair %llu-%llu",
               static_cast<unsigned long long>(r.firstByte), static_cast<unsigned long long>(r.endByte));
    recovered += r.packetsRecovered;
    replaced += r.packetsReplaced;
  }
  if (report.repairsNotListed == 0)
    FUZZ_CHECK(recovered == report.packetsRecovered && replaced == report.packetsReplaced,
               "the repairs do not add up to the counts");
  for (const auto& line : zelto::streamcheck::AssemblyReportLines(report)) FUZZ_CHECK(!line.empty(), "an empty line");
  return 0;
}
