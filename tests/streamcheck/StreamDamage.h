// Transport streams for tests: a capture file as the simulated camcorder
// writes it, read into memory, and the damage a tape does to one (packets
// gone, packets flagged by the error correction, bytes that are no packet),
// done by the test so that it knows exactly what the inspector must find.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "simulator/CaptureStreamWriter.h"
#include "streamcheck/TransportPacket.h"

namespace streamtest {

using Bytes = std::vector<std::uint8_t>;
using zelto::streamcheck::kPacketBytes;

inline Bytes ReadAll(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void WriteAll(const std::filesystem::path& file, const Bytes& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// `frames` frames at 25 a second from time code frame `first`; empty when
// the writer failed (the reason in *error).
inline Bytes CaptureStream(const std::filesystem::path& file, unsigned frames, std::uint32_t first, std::string* error) {
  std::filesystem::remove(file);
  auto writer = zelto::sim::CaptureStreamWriter::Create(file, 25, true, error);
  if (!writer || !writer->WriteFrames(1, first, frames, error) || !writer->Close(error)) return {};
  return ReadAll(file);
}

inline std::size_t PacketCount(const Bytes& s) { return s.size() / kPacketBytes; }
inline zelto::streamcheck::PacketHeader Header(const Bytes& s, std::size_t packet) {
  return zelto::streamcheck::PacketHeader::Read(&s[packet * kPacketBytes]);
}

// The packets of the video's pictures: per picture, its packets' indices.
inline std::vector<std::vector<std::size_t>> VideoPictures(const Bytes& s) {
  std::vector<std::vector<std::size_t>> pictures;
  int videoPid = -1;
  for (std::size_t i = 0; i < PacketCount(s); ++i) {
    const auto h = Header(s, i);
    const std::uint8_t* p = &s[i * kPacketBytes];
    const std::size_t payload = 4 + (h.hasAdaptation ? p[4] + 1u : 0u);
    if (videoPid < 0 && h.unitStart && payload + 4 <= kPacketBytes && p[payload] == 0 && p[payload + 1] == 0 &&
        p[payload + 2] == 1 && zelto::streamcheck::IsVideoStreamId(p[payload + 3]))
      videoPid = h.pid;
    if (h.pid != videoPid || !h.hasPayload) continue;
    if (h.unitStart) pictures.emplace_back();
    if (!pictures.empty()) pictures.back().push_back(i);
  }
  return pictures;
}

// Packets removed (indices of the stream as it was).
inline Bytes WithoutPackets(const Bytes& s, const std::set<std::size_t>& packets) {
  Bytes out;
  for (std::size_t i = 0; i < PacketCount(s); ++i)
    if (!packets.count(i)) out.insert(out.end(), s.begin() + i * kPacketBytes, s.begin() + (i + 1) * kPacketBytes);
  return out;
}

inline Bytes WithErrorFlags(Bytes s, const std::set<std::size_t>& packets) {
  for (std::size_t i : packets) s[i * kPacketBytes + 1] |= 0x80;
  return s;
}

// `count` bytes that never hold a sync byte, inserted at `at`.
inline Bytes WithGarbage(Bytes s, std::size_t at, std::size_t count) {
  Bytes garbage(count);
  for (std::size_t i = 0; i < count; ++i) {
    garbage[i] = static_cast<std::uint8_t>(i * 37 + 11);
    if (garbage[i] == zelto::streamcheck::kSyncByte) garbage[i] = 0x48;
  }
  s.insert(s.begin() + static_cast<std::ptrdiff_t>(at), garbage.begin(), garbage.end());
  return s;
}

// `count` bytes cut out at `at`.
inline Bytes WithoutBytes(Bytes s, std::size_t at, std::size_t count) {
  s.erase(s.begin() + static_cast<std::ptrdiff_t>(at), s.begin() + static_cast<std::ptrdiff_t>(at + count));
  return s;
}

}  // namespace streamtest
