#include "streamcheck/ReportText.h"

namespace zelto::streamcheck {

std::string CountText(std::uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string PlaceText(std::uint64_t firstByte, std::uint64_t endByte) {
  return firstByte == endByte ? "at byte " + std::to_string(firstByte)
                              : "bytes " + std::to_string(firstByte) + "-" + std::to_string(endByte - 1);
}

std::string StretchText(const DamagedStretch& s) {
  std::string text;
  const auto add = [&](std::uint64_t n, const char* one, const char* many) {
    if (n == 0) return;
    text += (text.empty() ? "" : ", ") + CountText(n, one, many);
  };
  add(s.packetsLost, "packet lost", "packets lost");
  add(s.packetsFlagged, "packet flagged", "packets flagged");
  add(s.bytesOutsidePackets, "byte outside packets", "bytes outside packets");
  return text;
}

}  // namespace zelto::streamcheck
