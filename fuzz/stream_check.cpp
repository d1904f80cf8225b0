// Feeds bytes as a transport stream file given to zelto verify to the
// packet accounting (PacketAccounting), read in pieces whose size the first
// byte chooses: every byte is in a packet or counted outside one, the
// stretches lie in the file in order, and the count is the same however
// the reads fall.
#include <algorithm>

#include "fuzz/FuzzSupport.h"
#include "streamcheck/PacketAccounting.h"

namespace {

zelto::streamcheck::StreamReport Account(const std::uint8_t* data, std::size_t size, std::size_t piece) {
  zelto::streamcheck::PacketAccounting accounting;
  for (std::size_t at = 0; at < size; at += piece) accounting.Feed(data + at, std::min(piece, size - at));
  accounting.Finish();
  return accounting.Report();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = 1 + data[0] % 200;
  const auto whole = Account(data + 1, size - 1, size);
  const auto pieces = Account(data + 1, size - 1, piece);
  const std::uint64_t bytes = size - 1;
  FUZZ_CHECK(whole.packets * 188 + whole.bytesOutsidePackets == bytes, "%llu packets and %llu bytes outside of %llu",
             static_cast<unsigned long long>(whole.packets),
             static_cast<unsigned long long>(whole.bytesOutsidePackets), static_cast<unsigned long long>(bytes));
  FUZZ_CHECK(whole.resyncs == whole.syncLosses || whole.resyncs + 1 == whole.syncLosses, "sync regained more than lost");
  std::uint64_t lost = 0, flagged = 0, outside = 0, end = 0;
  for (const auto& s : whole.stretches) {
    FUZZ_CHECK(s.firstByte <= s.endByte && s.endByte <= bytes && (end == 0 || s.firstByte > end),
               "stretch %llu-%llu out of place", static_cast<unsigned long long>(s.firstByte),
               static_cast<unsigned long long>(s.endByte));
    end = s.endByte;
    lost += s.packetsLost;
    flagged += s.packetsFlagged;
    outside += s.bytesOutsidePackets;
  }
  FUZZ_CHECK(lost == whole.packetsLost && flagged == whole.packetsFlagged && outside == whole.bytesOutsidePackets,
             "the stretches do not add up to the counts");
  FUZZ_CHECK(pieces.packets == whole.packets && pieces.packetsLost == whole.packetsLost &&
                 pieces.packetsFlagged == whole.packetsFlagged && pieces.duplicatePackets == whole.duplicatePackets &&
                 pieces.syncLosses == whole.syncLosses && pieces.bytesOutsidePackets == whole.bytesOutsidePackets &&
                 pieces.stretches.size() == whole.stretches.size(),
             "read %zu bytes at a time, the count differs", piece);
  return 0;
}
