#include "streamcheck/StreamReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "streamcheck/TransportPacket.h"

namespace zelto::streamcheck {

void StreamReport::AddDamage(const DamagedStretch& damage) {
  DamagedStretch merged = damage;
  // Damage arrives in file order, except that a loss reaches back to its
  // PID's previous packet: it may swallow the last few stretches.
  while (!stretches.empty() && stretches.back().endByte >= merged.firstByte &&
         stretches.back().firstByte <= merged.endByte) {
    const DamagedStretch& last = stretches.back();
    if (last.firstByte <= merged.firstByte) merged.clock = last.clock;
    merged.firstByte = std::min(merged.firstByte, last.firstByte);
    merged.endByte = std::max(merged.endByte, last.endByte);
    merged.packetsLost += last.packetsLost;
    merged.packetsFlagged += last.packetsFlagged;
    merged.bytesOutsidePackets += last.bytesOutsidePackets;
    stretches.pop_back();
  }
  if (stretches.size() < kMostListed) stretches.push_back(merged);
  else ++stretchesNotListed;
}

void StreamReport::AddDamagedPicture(const DamagedPicture& picture) {
  ++picturesDamaged;
  if (damagedPictures.size() < kMostListed) damagedPictures.push_back(picture);
  else ++damagedPicturesNotListed;
}

std::string TimeCodeText(std::int64_t clock, std::optional<double> framesPerSecond) {
  if (clock < 0) clock = 0;
  const std::int64_t seconds = clock / kClockHz;
  const std::int64_t rest = clock % kClockHz;
  char text[40];
  if (framesPerSecond && *framesPerSecond > 0) {
    const auto nominal = static_cast<std::int64_t>(std::lround(*framesPerSecond));
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60),
                  static_cast<long long>(rest * nominal / kClockHz));
  } else {
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60),
                  static_cast<long long>(rest / 90));
  }
  return text;
}

}  // namespace zelto::streamcheck
