#include "simulator/TransportStream.h"

#include <algorithm>
#include <fstream>
#include <system_error>

#include "simulator/Cassette.h"
#include "streamcheck/TransportPacket.h"

namespace zelto::sim {

namespace {

using zelto::streamcheck::kSyncByte;
// Packets from the start whose sync is checked: enough to tell a stream
// from other data, few enough to look at a huge file at once.
constexpr std::uint64_t kCheckedPackets = 16;

std::optional<std::uint64_t> Refuse(std::string* why, std::string text) {
  if (why) *why = std::move(text);
  return std::nullopt;
}

}  // namespace

std::optional<std::uint64_t> TransportStreamBytes(std::istream& in, std::uint64_t size, std::string* why) {
  if (size < kPacketBytes) return Refuse(why, "not an MPEG transport stream (shorter than one packet)");
  if (size > kLargestStreamFileBytes) return Refuse(why, "larger than any tape holds");
  const std::uint64_t packets = size / kPacketBytes;
  const auto synced = [&](std::uint64_t packet) {
    char byte = 0;
    in.clear();
    in.seekg(static_cast<std::streamoff>(packet * kPacketBytes));
    if (!in.get(byte)) return std::optional<bool>();
    return std::optional<bool>(static_cast<unsigned char>(byte) == kSyncByte);
  };
  const std::uint64_t checked = std::min(packets, kCheckedPackets);
  for (std::uint64_t packet = 0; packet <= checked; ++packet) {
    // The first packets, then the last whole one.
    const std::uint64_t at = packet < checked ? packet : packets - 1;
    const std::optional<bool> sync = synced(at);
    if (!sync) return Refuse(why, "cannot be read");
    if (!*sync)
      return Refuse(why, "not an MPEG transport stream (no sync byte at byte " + std::to_string(at * kPacketBytes) + ")");
  }
  return packets * kPacketBytes;
}

std::optional<std::uint64_t> TransportStreamFileBytes(const std::filesystem::path& file, std::string* why) {
  std::error_code ec;
  const auto status = std::filesystem::status(file, ec);
  if (ec || !std::filesystem::exists(status)) return Refuse(why, "no such file");
  if (!std::filesystem::is_regular_file(status)) return Refuse(why, "not a file");
  const std::uint64_t size = std::filesystem::file_size(file, ec);
  std::ifstream in(file, std::ios::binary);
  if (ec || !in) return Refuse(why, "cannot be read");
  return TransportStreamBytes(in, size, why);
}

}  // namespace zelto::sim
