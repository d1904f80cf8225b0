// The fixed layout of an MPEG transport stream packet: what the stream
// inspector reads from each packet's header and adaptation field, and what
// the simulator's check of a file to record shares with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace zelto::streamcheck {

inline constexpr std::size_t kPacketBytes = 188;
inline constexpr std::uint8_t kSyncByte = 0x47;
// PIDs are 13 bits.
inline constexpr std::size_t kPidCount = 0x2000;
// Padding: its continuity counter means nothing.
inline constexpr std::uint16_t kNullPid = 0x1FFF;
// The stream's clocks (PCR base, PTS) tick at 90 kHz.
inline constexpr std::int64_t kClockHz = 90'000;

// A packet's header fields, from the 4 bytes after (and with) the sync byte.
struct PacketHeader {
  bool errorFlagged;   // transport error indicator: the sender could not correct it
  bool unitStart;      // payload unit start indicator
  std::uint16_t pid;
  bool hasAdaptation;  // adaptation field control bit 1
  bool hasPayload;     // adaptation field control bit 0
  std::uint8_t continuity;

  static PacketHeader Read(const std::uint8_t* p) {
    return PacketHeader{(p[1] & 0x80) != 0,
                        (p[1] & 0x40) != 0,
                        static_cast<std::uint16_t>(((p[1] & 0x1F) << 8) | p[2]),
                        (p[3] & 0x20) != 0,
                        (p[3] & 0x10) != 0,
                        static_cast<std::uint8_t>(p[3] & 0x0F)};
  }
};

// What a packet's adaptation field says about continuity and time.
struct Adaptation {
  std::size_t length = 0;          // bytes after the header taken by the field, its length byte included
  bool discontinuity = false;      // the counter (or the clock) may jump here
  std::optional<std::int64_t> pcr;  // the clock reference's 90 kHz base

  static Adaptation Read(const std::uint8_t* p, const PacketHeader& header) {
    Adaptation a;
    if (!header.hasAdaptation) return a;
    const std::size_t fieldBytes = p[4];
    a.length = fieldBytes + 1;
    if (a.length > kPacketBytes - 4) a.length = kPacketBytes - 4;  // a damaged length: the packet is all field
    if (fieldBytes == 0) return a;
    const std::uint8_t flags = p[5];
    a.discontinuity = (flags & 0x80) != 0;
    if ((flags & 0x10) != 0 && fieldBytes >= 7)
      a.pcr = (std::int64_t{p[6]} << 25) | (std::int64_t{p[7]} << 17) | (std::int64_t{p[8]} << 9) |
              (std::int64_t{p[9]} << 1) | (p[10] >> 7);
    return a;
  }
};

// The presentation time of a PES packet that begins at `payload` (a unit
// start), when its header carries one.
inline std::optional<std::int64_t> PesPresentationTime(const std::uint8_t* payload, std::size_t size) {
  if (size < 14 || payload[0] != 0 || payload[1] != 0 || payload[2] != 1) return std::nullopt;
  if ((payload[7] & 0x80) == 0) return std::nullopt;
  const std::uint8_t* t = payload + 9;
  return (std::int64_t{(t[0] >> 1) & 0x07} << 30) | (std::int64_t{t[1]} << 22) | (std::int64_t{t[2] >> 1} << 15) |
         (std::int64_t{t[3]} << 7) | (t[4] >> 1);
}

// Whether a PES stream id is a video stream's.
inline bool IsVideoStreamId(std::uint8_t id) { return (id & 0xF0) == 0xE0; }

// The presentation time of the video picture whose PES begins in packet
// `p`, when it begins there and says.
inline std::optional<std::int64_t> VideoPresentationTime(const std::uint8_t* p, const PacketHeader& header,
                                                         const Adaptation& adaptation) {
  const std::size_t payloadAt = 4 + adaptation.length;
  if (!header.unitStart || !header.hasPayload || payloadAt + 14 > kPacketBytes || !IsVideoStreamId(p[payloadAt + 3]))
    return std::nullopt;
  return PesPresentationTime(p + payloadAt, kPacketBytes - payloadAt);
}

}  // namespace zelto::streamcheck
