#include "streamcheck/StreamInspector.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <system_error>
#include <vector>

#include "streamcheck/PacketAccounting.h"
#include "streamcheck/PictureCheck.h"

namespace zelto::streamcheck {

namespace {

// The file in order, each piece through the accounting on its way out.
class AccountedFile final : public ByteSource {
 public:
  AccountedFile(std::ifstream& in, PacketAccounting& accounting) : in_(in), accounting_(accounting) {}

  std::size_t Read(std::uint8_t* data, std::size_t size) override {
    if (failed_ || !in_) return 0;
    in_.read(reinterpret_cast<char*>(data), static_cast<std::streamsize>(size));
    const auto got = static_cast<std::size_t>(in_.gcount());
    if (in_.bad()) failed_ = true;
    accounting_.Feed(data, got);
    return got;
  }
  // The rest of the file, for the accounting alone.
  void Drain() {
    std::vector<std::uint8_t> buffer(kReadBytes);
    while (Read(buffer.data(), buffer.size()) > 0) {
    }
  }
  bool Failed() const { return failed_; }

 private:
  std::ifstream& in_;
  PacketAccounting& accounting_;
  bool failed_ = false;
};

InspectOutcome NoInspection(InspectOutcome::Failure failure, std::string why) {
  InspectOutcome outcome;
  outcome.failure = failure;
  outcome.why = std::move(why);
  return outcome;
}

}  // namespace

InspectOutcome InspectFile(const std::filesystem::path& file, const InspectOptions& options) {
  using Failure = InspectOutcome::Failure;
  std::error_code ec;
  const auto status = std::filesystem::status(file, ec);
  if (ec || !std::filesystem::exists(status)) return NoInspection(Failure::Missing, "no such file");
  if (!std::filesystem::is_regular_file(status)) return NoInspection(Failure::NotAFile, "not a file");
  std::ifstream in(file, std::ios::binary);
  if (!in) return NoInspection(Failure::Unreadable, "cannot be read");

  PacketAccounting accounting;
  AccountedFile source(in, accounting);
  if (options.pictures && CanCheckPictures()) {
    CheckPictures(source, accounting.Report());
  } else {
    accounting.Report().picturesNotCheckedWhy =
        CanCheckPictures() ? "not asked for" : "this build has no video decoder";
  }
  source.Drain();
  if (source.Failed()) return NoInspection(Failure::Unreadable, "cannot be read (a read failed part of the way)");
  accounting.Finish();

  InspectOutcome outcome;
  outcome.report = std::move(accounting.Report());
  if (outcome.report.bytes == 0)
    return NoInspection(Failure::NotTransportStream, "not an MPEG transport stream (empty)");
  if (outcome.report.packets == 0)
    return NoInspection(Failure::NotTransportStream, "not an MPEG transport stream (no packets found)");
  return outcome;
}

}  // namespace zelto::streamcheck
