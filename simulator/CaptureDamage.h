// What worn tape (Cassette::dropouts) does to a capture: as the head reads
// a worn stretch, some of the stream's packets are lost and some come with
// the transport error indicator set and their payload garbled, each packet
// decided by a hash of the stretch, the pass over it, where the file began
// on the tape and the packet's place in the file's stream. The camcorder
// counts the passes over each stretch, so a second read loses other packets
// than the first, and the same reads of the same tape give the same bytes.
//
// One capture's: its thread tells it where on the tape the bytes of the
// open file lie (Place) before the writer produces them, and the writer
// asks it about each packet (PacketDamage). What it did to each file goes
// to the camcorder's DamageLog, the ground truth a test compares with.
//
// One thread at a time; the log is thread-safe.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "simulator/CaptureStreamWriter.h"
#include "simulator/Cassette.h"

namespace zelto::sim {

// A packet the tape lost or flagged, as the file has it.
struct DamagedPacket {
  std::uint64_t fileByte;  // a lost packet: where it would have been (before the packet now there)
  std::uint16_t pid;
  bool payload;  // it carried a payload: a lost one shows as a gap in its PID's count
};

// What the tape did to one capture file.
struct FileDamage {
  std::filesystem::path file;
  // Each worn stretch read into the file, with the pass it was.
  struct Pass {
    std::uint32_t startTrack;
    std::uint32_t endTrack;
    std::uint32_t pass;
  };
  std::vector<Pass> passes;
  std::uint64_t lost = 0;           // packets, padding included
  std::uint64_t lostCounted = 0;    // of them, payload packets of a stream with a count
  std::uint64_t flagged = 0;
  std::uint64_t flaggedCounted = 0;  // of them, payload packets of a stream with a count
  // Lists of at most kMostListed each; the counts stay exact.
  static constexpr std::size_t kMostListed = 100'000;
  std::vector<DamagedPacket> lostPackets;
  std::vector<DamagedPacket> flaggedPackets;
};

// Every capture file worn tape touched, in the order they were closed.
class DamageLog {
 public:
  void Add(FileDamage damage);
  std::vector<FileDamage> Files() const;

 private:
  mutable std::mutex lock_;
  std::vector<FileDamage> files_;
};

class CaptureDamage final : public PacketDamage {
 public:
  // `takePass` answers the pass number of a read of a stretch that begins
  // (the camcorder counts them); `log` is told each file's damage.
  CaptureDamage(std::function<std::uint32_t(const Dropout&)> takePass, std::shared_ptr<DamageLog> log);

  // A file begins and ends; a file no worn stretch reached is not logged.
  void BeginFile(const std::filesystem::path& file);
  void EndFile();
  // The open file's stream bytes [fromByte, toByte) lie on the tracks
  // [fromTrack, toTrack) of a tape worn as `dropouts` say. In the order
  // played: a read that goes on where the last one ended is the same pass.
  void Place(const std::vector<Dropout>& dropouts, std::uint64_t fromByte, std::uint64_t toByte, double fromTrack,
             double toTrack);

  bool Keep(std::uint8_t* packet, std::uint64_t streamByte, std::uint64_t fileByte) override;

 private:
  struct Reading {  // a worn stretch as one pass reads it
    Dropout dropout;
    std::uint32_t pass;
  };
  struct Stretch {  // bytes of the file over worn tape
    std::uint64_t fromByte;
    std::uint64_t toByte;
    double fromTrack;
    double toTrack;
    std::vector<Reading> readings;
  };

  std::function<std::uint32_t(const Dropout&)> takePass_;
  std::shared_ptr<DamageLog> log_;
  std::optional<FileDamage> file_;
  std::optional<std::uint32_t> fileKey_;  // where the file began on the tape
  std::vector<Stretch> stretches_;  // in byte order; those behind the writer dropped
  std::size_t next_ = 0;
  // The passes under way: by stretch start, while the reads go on.
  std::map<std::uint32_t, std::uint32_t> passes_;
  std::optional<double> lastTrack_;
};

}  // namespace zelto::sim
