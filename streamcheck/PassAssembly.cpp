#include "streamcheck/PassAssembly.h"

#include <algorithm>
#include <deque>
#include <fstream>
#include <memory>
#include <system_error>

#include "streamcheck/PacketAccounting.h"
#include "streamcheck/PassMerger.h"

namespace zelto::streamcheck {

namespace {

constexpr std::size_t kPieceBytes = 256 * 1024;

// A file's bytes in order; a failed read ends it and is remembered.
class FileSource final : public ByteSource {
 public:
  // From byte `from` of the file on.
  explicit FileSource(const std::filesystem::path& file, std::uint64_t from = 0)
      : in_(file, std::ios::binary), failed_(!in_) {
    if (!failed_ && from > 0 && !in_.seekg(static_cast<std::streamoff>(from))) failed_ = true;
  }
  bool ReadFailed() const override { return failed_; }
  std::size_t Read(std::uint8_t* data, std::size_t size) override {
    if (failed_ || !in_) return 0;
    in_.read(reinterpret_cast<char*>(data), static_cast<std::streamsize>(size));
    if (in_.bad()) failed_ = true;
    return static_cast<std::size_t>(in_.gcount());
  }

 private:
  std::ifstream in_;
  bool failed_ = false;
};

// The whole packets of a byte source, counted by the accounting on the way.
class PacketReader final : public PacketSource {
 public:
  explicit PacketReader(ByteSource& in)
      : in_(in), accounting_([this](const std::uint8_t* p, std::uint64_t byte) {
          ready_.push_back(AssemblyPacket::From(p, byte));
        }) {}

  bool Next(AssemblyPacket& packet) override {
    while (ready_.empty() && !ended_) {
      const std::size_t got = in_.Read(piece_.data(), piece_.size());
      if (got == 0) {
        accounting_.Finish();
        ended_ = true;
      } else {
        accounting_.Feed(piece_.data(), got);
      }
    }
    if (ready_.empty()) return false;
    packet = std::move(ready_.front());
    ready_.pop_front();
    return true;
  }
  const StreamReport& Report() const { return accounting_.Report(); }
  std::uint64_t BytesRead() const { return accounting_.Report().bytes; }

 private:
  ByteSource& in_;
  std::deque<AssemblyPacket> ready_;
  PacketAccounting accounting_;
  std::vector<std::uint8_t> piece_ = std::vector<std::uint8_t>(kPieceBytes);
  bool ended_ = false;
};

// A pass read whole; empty with the reason in *why when it cannot be used.
std::vector<AssemblyPacket> ReadPass(ByteSource& in, PassOutcome& outcome) {
  PacketReader reader(in);
  std::vector<AssemblyPacket> packets;
  AssemblyPacket p;
  while (reader.Next(p)) {
    if (reader.BytesRead() > kMostPassBytes) {
      outcome.why = "it is longer than a re-read of a stretch (over " + std::to_string(kMostPassBytes >> 20) + " MiB)";
      return {};
    }
    packets.push_back(std::move(p));
  }
  outcome.damage = reader.Report();
  if (in.ReadFailed()) {
    outcome.why = "it cannot be read";
    return {};
  }
  if (packets.empty())
    outcome.why = outcome.damage.bytes == 0 ? "it is empty" : "it is not an MPEG transport stream (no packets found)";
  return packets;
}

// The assembled packets out through the sink in pieces, counted on the way.
class PacketWriter {
 public:
  explicit PacketWriter(const ByteSink& sink) : sink_(sink) { buffer_.reserve(kPieceBytes); }
  bool Write(const AssemblyPacket& p) {
    buffer_.insert(buffer_.end(), p.bytes.begin(), p.bytes.end());
    return buffer_.size() + kPacketBytes <= kPieceBytes || Flush();
  }
  bool Flush() {
    if (buffer_.empty()) return true;
    accounting_.Feed(buffer_.data(), buffer_.size());
    const bool written = sink_(buffer_.data(), buffer_.size());
    buffer_.clear();
    return written;
  }
  StreamReport Finish() {
    accounting_.Finish();
    return accounting_.Report();
  }

 private:
  const ByteSink& sink_;
  std::vector<std::uint8_t> buffer_;
  PacketAccounting accounting_;
};

// The bytes a pass needs not hold: those it shares with the primary from
// the start, less a lead for the merger to align on, in whole packets. A
// pass read from where the primary began is the same stream up to the
// first damage of either, so only a little before that is held.
constexpr std::uint64_t kAlignmentLeadBytes = std::uint64_t{8} << 20;

std::uint64_t SharedLeadToSkip(const std::filesystem::path& primary, const std::filesystem::path& pass) {
  std::ifstream a(primary, std::ios::binary), b(pass, std::ios::binary);
  std::vector<char> x(kPieceBytes), y(kPieceBytes);
  std::uint64_t same = 0;
  while (a && b) {
    a.read(x.data(), static_cast<std::streamsize>(x.size()));
    b.read(y.data(), static_cast<std::streamsize>(y.size()));
    const auto got = static_cast<std::size_t>(std::min(a.gcount(), b.gcount()));
    const auto differs = std::mismatch(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(got), y.begin()).first;
    same += static_cast<std::uint64_t>(differs - x.begin());
    if (differs != x.begin() + static_cast<std::ptrdiff_t>(got)) break;
  }
  const std::uint64_t skip = same > kAlignmentLeadBytes ? same - kAlignmentLeadBytes : 0;
  return skip / kPacketBytes * kPacketBytes;
}

AssemblyReport Failed(AssemblyReport::Failure failure, std::string why) {
  AssemblyReport report;
  report.failure = failure;
  report.why = std::move(why);
  return report;
}

}  // namespace

AssemblyReport Assemble(ByteSource& primary, const std::vector<ByteSource*>& passes, const ByteSink& output) {
  AssemblyReport report;
  report.passes.resize(passes.size());
  std::vector<std::vector<AssemblyPacket>> passPackets(passes.size());
  for (std::size_t k = 0; k < passes.size(); ++k) passPackets[k] = ReadPass(*passes[k], report.passes[k]);

  PacketReader reader(primary);
  PacketSource* upstream = &reader;
  std::vector<std::unique_ptr<PassMerger>> stages;
  for (std::size_t k = 0; k < passes.size(); ++k) {
    if (passPackets[k].empty()) continue;  // refused already, with its reason
    stages.push_back(std::make_unique<PassMerger>(*upstream, std::move(passPackets[k]), k + 2, report.passes[k], report));
    upstream = stages.back().get();
  }

  PacketWriter writer(output);
  AssemblyPacket p;
  bool written = true;
  while (written && upstream->Next(p)) written = writer.Write(p);
  written = written && writer.Flush();
  report.primary = reader.Report();
  report.assembled = writer.Finish();
  if (!written) return Failed(AssemblyReport::Failure::OutputUnwritable, "the assembled stream could not be written");
  if (primary.ReadFailed())
    return Failed(AssemblyReport::Failure::PrimaryUnreadable, "the primary cannot be read (a read failed part of the way)");
  if (report.primary.packets == 0)
    return Failed(AssemblyReport::Failure::NotTransportStream,
                  report.primary.bytes == 0 ? "the primary is not an MPEG transport stream (empty)"
                                            : "the primary is not an MPEG transport stream (no packets found)");
  for (const PassOutcome& o : report.passes) {
    report.packetsRecovered += o.packetsRecovered;
    report.packetsReplaced += o.packetsReplaced;
  }
  return report;
}

AssemblyReport Assemble(const std::filesystem::path& primary, const std::vector<std::filesystem::path>& passes,
                        const std::filesystem::path& output) {
  using Failure = AssemblyReport::Failure;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(primary, ec)) return Failed(Failure::PrimaryUnreadable, "the primary is no file");
  FileSource primaryIn(primary);
  if (primaryIn.ReadFailed()) return Failed(Failure::PrimaryUnreadable, "the primary cannot be read");
  if (std::filesystem::exists(std::filesystem::symlink_status(output, ec)))
    return Failed(Failure::OutputExists, "the output file exists already");

  std::vector<std::unique_ptr<FileSource>> passIn;
  std::vector<ByteSource*> passSources;
  for (const auto& pass : passes) {
    passIn.push_back(std::make_unique<FileSource>(pass, SharedLeadToSkip(primary, pass)));
    passSources.push_back(passIn.back().get());
  }
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  if (!out) return Failed(Failure::OutputUnwritable, "the output file cannot be made");
  AssemblyReport report = Assemble(primaryIn, passSources, [&out](const std::uint8_t* data, std::size_t size) {
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return static_cast<bool>(out);
  });
  out.close();
  if (report.failure == Failure::None && out.fail())
    report = Failed(Failure::OutputUnwritable, "the assembled stream could not be written");
  if (report.failure != Failure::None) std::filesystem::remove(output, ec);
  return report;
}

}  // namespace zelto::streamcheck
