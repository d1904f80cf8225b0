// One transport stream packet on its way through the pass assembly: its
// bytes, a hash of them to find it in another pass, and where it lies in
// the primary capture.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#include "streamcheck/TransportPacket.h"

namespace zelto::streamcheck {

struct AssemblyPacket {
  std::array<std::uint8_t, kPacketBytes> bytes{};
  std::uint64_t hash = 0;
  // The primary's byte where this packet lies: its own for the primary's
  // packets; for one a pass added, that of the primary's packet it precedes.
  std::uint64_t primaryByte = 0;

  static AssemblyPacket From(const std::uint8_t* p, std::uint64_t primaryByte) {
    AssemblyPacket packet;
    std::memcpy(packet.bytes.data(), p, kPacketBytes);
    packet.primaryByte = primaryByte;
    // FNV-1a over eight bytes at a time: fast, and a match is confirmed byte for byte anyway.
    std::uint64_t h = 0xCBF29CE484222325ull;
    for (std::size_t at = 0; at + 8 <= kPacketBytes; at += 8) {
      std::uint64_t word;
      std::memcpy(&word, p + at, sizeof word);
      h = (h ^ word) * 0x100000001B3ull;
    }
    std::uint32_t tail;
    std::memcpy(&tail, p + kPacketBytes - 4, sizeof tail);
    packet.hash = (h ^ tail) * 0x100000001B3ull;
    return packet;
  }

  PacketHeader Header() const { return PacketHeader::Read(bytes.data()); }
  bool Flagged() const { return (bytes[1] & 0x80) != 0; }
  bool Null() const { return Header().pid == kNullPid; }
  // A packet that says where it is: read well, not padding, with a payload
  // (an adaptation field alone may recur byte for byte in another recording).
  bool Content() const {
    const PacketHeader h = Header();
    return !h.errorFlagged && h.pid != kNullPid && h.hasPayload;
  }
  bool SameBytes(const AssemblyPacket& other) const { return hash == other.hash && bytes == other.bytes; }
};

}  // namespace zelto::streamcheck
