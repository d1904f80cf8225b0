// Capture content without pictures, for builds without FFmpeg: the stream's
// tables (a program with no elementary streams) every half second. The
// writer pads each frame to the stream rate.
#include <array>
#include <memory>
#include <string>

#include "simulator/CaptureStreamContent.h"
#include "simulator/CaptureStreamWriter.h"

namespace zelto::sim {

namespace {

constexpr std::size_t kPacketSize = CaptureStreamWriter::kPacketSize;
constexpr std::uint16_t kPmtPid = 0x1000;

// The CRC of MPEG-2 sections: polynomial 0x04C11DB7, no reflection.
std::uint32_t SectionCrc(const std::uint8_t* data, std::size_t size) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= static_cast<std::uint32_t>(data[i]) << 24;
    for (int bit = 0; bit < 8; ++bit) crc = crc & 0x80000000 ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
  }
  return crc;
}

// One packet carrying a whole section of 8 header bytes and `body`, then its CRC.
std::array<std::uint8_t, kPacketSize> SectionPacket(std::uint16_t pid, std::uint8_t counter, std::uint8_t tableId,
                                                    std::uint16_t id, std::array<std::uint8_t, 4> body) {
  std::array<std::uint8_t, kPacketSize> packet;
  packet.fill(0xFF);
  std::uint8_t* p = packet.data();
  *p++ = 0x47;
  *p++ = static_cast<std::uint8_t>(0x40 | pid >> 8);  // a section starts here
  *p++ = static_cast<std::uint8_t>(pid);
  *p++ = static_cast<std::uint8_t>(0x10 | (counter & 0x0F));
  *p++ = 0;  // pointer field
  std::uint8_t* section = p;
  const std::size_t length = 5 + body.size() + 4;  // after the length field: header, body, CRC
  *p++ = tableId;
  *p++ = static_cast<std::uint8_t>(0xB0 | length >> 8);
  *p++ = static_cast<std::uint8_t>(length);
  *p++ = static_cast<std::uint8_t>(id >> 8);
  *p++ = static_cast<std::uint8_t>(id);
  *p++ = 0xC1;  // version 0, current
  *p++ = 0;     // section 0 of 0
  *p++ = 0;
  for (std::uint8_t b : body) *p++ = b;
  const std::uint32_t crc = SectionCrc(section, static_cast<std::size_t>(p - section));
  for (int shift = 24; shift >= 0; shift -= 8) *p++ = static_cast<std::uint8_t>(crc >> shift);
  return packet;
}

class PaddingContent final : public CaptureStreamContent {
 public:
  PaddingContent(CaptureSink sink, const CaptureStreamShape& shape)
      : sink_(std::move(sink)), tablesEvery_(shape.framesPerSecond / 2) {}

  bool Write(const PictureContent&, std::int64_t, std::string* error) override {
    if (frames_ % tablesEvery_ == 0) {
      // Program 1 on the PMT's PID; the PMT names no PCR (0x1FFF) and no streams.
      const auto pat = SectionPacket(0, counter_, 0x00, 1, {0x00, 0x01, 0xE0 | kPmtPid >> 8, kPmtPid & 0xFF});
      const auto pmt = SectionPacket(kPmtPid, counter_, 0x02, 1, {0xFF, 0xFF, 0xF0, 0x00});
      ++counter_;
      if (!sink_(pat.data(), pat.size()) || !sink_(pmt.data(), pmt.size())) {
        if (error) *error = "writing the capture file failed";
        return false;
      }
    }
    ++frames_;
    return true;
  }

  bool Finish(std::string*) override { return true; }

 private:
  CaptureSink sink_;
  unsigned tablesEvery_;
  std::uint64_t frames_ = 0;
  std::uint8_t counter_ = 0;
};

}  // namespace

std::unique_ptr<CaptureStreamContent> CreateCaptureStreamContent(CaptureSink sink, const CaptureStreamShape& shape,
                                                                 std::string*) {
  return std::make_unique<PaddingContent>(std::move(sink), shape);
}

}  // namespace zelto::sim
