// What an inspection of a transport stream found: its packets, the packets
// lost and flagged, the bytes that were no packet, the damaged stretches as
// byte ranges with the stream's time, and the pictures the decoder found
// damaged. Lists are capped (kMostListed each) so that a file damaged
// everywhere still takes bounded memory; the counts stay exact.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zelto::streamcheck {

inline constexpr std::size_t kMostListed = 1000;

// A stretch of the file where damage was found: [firstByte, endByte) of the
// file as it is. Lost packets are somewhere between the packets of their
// PID either side, so a loss covers the bytes between those two; where
// they were neighbours the stretch is empty (a point, firstByte == endByte).
struct DamagedStretch {
  std::uint64_t firstByte = 0;
  std::uint64_t endByte = 0;
  std::uint64_t packetsLost = 0;
  std::uint64_t packetsFlagged = 0;
  std::uint64_t bytesOutsidePackets = 0;  // garbage, or a packet cut short
  // The stream's time (90 kHz) at the first byte: the last video PTS before
  // it, else the last PCR; none before the first.
  std::optional<std::int64_t> clock;
};

struct DamagedPicture {
  std::optional<std::int64_t> clock;  // its presentation time (90 kHz)
};

struct StreamReport {
  std::uint64_t bytes = 0;
  std::uint64_t packets = 0;           // whole packets found, flagged ones too
  std::uint64_t packetsLost = 0;       // continuity counter gaps, summed over PIDs
  std::uint64_t packetsFlagged = 0;    // transport error indicator set
  std::uint64_t duplicatePackets = 0;  // sent twice, as the stream may
  std::uint64_t syncLosses = 0;
  std::uint64_t resyncs = 0;
  std::uint64_t bytesOutsidePackets = 0;
  std::vector<DamagedStretch> stretches;
  std::uint64_t stretchesNotListed = 0;

  bool picturesChecked = false;
  std::string picturesNotCheckedWhy;  // when not checked
  std::uint64_t pictures = 0;         // pictures decoded
  std::uint64_t picturesDamaged = 0;
  std::vector<DamagedPicture> damagedPictures;
  std::uint64_t damagedPicturesNotListed = 0;
  // The video's frame rate, when the decoder told it.
  std::optional<double> framesPerSecond;
  // The first and the last presentation time (90 kHz) of the video read
  // well: the stretch of tape's time code the file holds.
  std::optional<std::int64_t> firstPictureClock;
  std::optional<std::int64_t> lastPictureClock;

  bool Whole() const {
    return packetsLost == 0 && packetsFlagged == 0 && syncLosses == 0 && bytesOutsidePackets == 0 &&
           picturesDamaged == 0;
  }
  // Adds damage over [firstByte, endByte), merged with the stretches it
  // overlaps or touches.
  void AddDamage(const DamagedStretch& damage);
  void AddDamagedPicture(const DamagedPicture& picture);
};

// A stream time as a tape time code, HH:MM:SS:FF at the nominal whole frame
// rate (29.97 counts as 30); without a frame rate, HH:MM:SS.mmm.
std::string TimeCodeText(std::int64_t clock, std::optional<double> framesPerSecond);

}  // namespace zelto::streamcheck
