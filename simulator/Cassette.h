// The simulated cassette: its length, the scenes recorded on it and the blank
// tape between them, its write protection and whether it carries a memory.
// Positions are absolute track numbers: 300 tracks per second of tape.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/foundation/TimeCodeRecord.h"

namespace zelto::sim {

inline constexpr std::uint32_t kTracksPerSecond = 300;
// The longest tape the camcorder takes, in tracks: the last track a seek
// command can address (its 28 bits), some 248 hours. Every count of tape
// in the simulator and in the zelto command holds up to it.
inline constexpr std::uint32_t kLongestTapeTracks = 0x0FFFFFFF;
// The largest file a scene refers to or the camcorder sends (64 TiB): far
// beyond what the longest tape holds, and small enough that no count of
// its packets overflows.
inline constexpr std::uint64_t kLargestStreamFileBytes = std::uint64_t{1} << 46;

// What a recording from a file (the transmit) put into a scene: a stretch
// of the file's packets lying somewhere in the scene's stream. The scene's
// stream counts kStreamBytesPerTrack bytes of 188-byte packets a track from
// its start, over all its tracks; packet j lies on track
// startTrack + j * 188 / 5300. Packets of the stream outside the file's
// stretch are null packets. The tape keeps a reference, not a copy: a
// capture reads the file again, and where it can no longer be read (moved,
// shortened) it gets null packets instead.
struct SceneContent {
  std::string file;            // UTF-8 native path (platform::PathFromUtf8)
  std::uint64_t fileSize = 0;  // bytes, when it was recorded
  std::uint64_t fromPacket = 0;  // the file's packets [fromPacket, toPacket)
  std::uint64_t toPacket = 0;
  std::int64_t atPacket = 0;   // where fromPacket lies in the scene's stream (before its start when cut)

  bool operator==(const SceneContent&) const = default;
};

inline constexpr std::uint64_t kPacketBytes = 188;
// The stream rate the library assumes, 1,590,000 bytes a second, per track.
inline constexpr std::uint64_t kStreamBytesPerTrack = 1'590'000 / kTracksPerSecond;
// The first packet of a scene's stream at or after `tracks` tracks into it.
constexpr std::uint64_t PacketAtTrack(std::uint64_t tracks) {
  return (tracks * kStreamBytesPerTrack + kPacketBytes - 1) / kPacketBytes;
}

// A recorded scene covering the tracks [startTrack, endTrack).
struct Scene {
  std::uint32_t startTrack = 0;
  std::uint32_t endTrack = 0;
  std::uint32_t startFrame = 0;  // time code at startTrack, counted in frames
  std::string recorded;          // recording date, "YYYY-MM-DDTHH:MM:SS"
  int videoSystem = 1;           // 0: 30 frames per second; otherwise 25
  bool wide = true;              // 16:9 picture
  // Its record in the cassette memory: the host's key (0: none given) and
  // a note.
  std::uint32_t memoryKey = 0;
  std::string note;
  // Recorded from a file; none: the camcorder's own pictures.
  std::optional<SceneContent> content;

  unsigned FramesPerSecond() const { return videoSystem != 0 ? 25u : 30u; }
  // Time code frames at a track inside the scene (or at its end).
  std::uint32_t FrameAt(std::uint32_t track) const;
  __MIDL___MIDL_itf_plgdefs_0000_0001 TimeCodeAt(std::uint32_t track) const;
};

// A worn stretch of tape [startTrack, endTrack). Each time the head reads
// it, a fraction of the stream's packets is lost and another fraction comes
// with the transport error indicator set (what the error correction could
// not correct). Which packets, differs from pass to pass: the camcorder
// counts the passes, so that the same reads of the same tape give the same
// bytes.
struct Dropout {
  std::uint32_t startTrack = 0;
  std::uint32_t endTrack = 0;
  double lost = 0;     // of the packets read, the fraction lost (0 to 1)
  double flagged = 0;  // the fraction delivered flagged; lost + flagged is at most 1
  std::uint32_t passes = 0;  // reads of it so far

  bool operator==(const Dropout&) const = default;
};

// Time-code helpers: "HH:MM:SS:FF" <-> frames at a frame rate.
std::optional<std::uint32_t> ParseTimeCode(std::string_view text, unsigned framesPerSecond);
std::string FormatTimeCode(std::uint32_t frames, unsigned framesPerSecond);
__MIDL___MIDL_itf_plgdefs_0000_0001 TimeCodeRecord(std::uint32_t frames, unsigned framesPerSecond);

struct Cassette {
  std::uint32_t lengthTracks = 60 * 60 * kTracksPerSecond;
  std::uint32_t positionTrack = 0;  // where the tape stands when the cassette goes in
  bool writeProtected = false;
  bool hasMemory = true;
  // The cassette memory's header (with hasMemory); each scene carries its
  // own record. The identity names the cassette to the host's database.
  std::string identity;
  std::string title;
  std::string text;
  bool cleaning = false;
  std::vector<Scene> scenes;  // ordered by position, never overlapping
  // Worn tape, ordered by position, never overlapping; recording over it
  // leaves it worn.
  std::vector<Dropout> dropouts;

  // The scene under a track, or null on blank tape.
  const Scene* SceneAt(std::uint32_t track) const;
  // Scene start and end tracks strictly after / before a track.
  std::optional<std::uint32_t> NextBoundaryAfter(std::uint32_t track) const;

  // Writes a scene over whatever was there: scenes it covers are dropped,
  // scenes it overlaps are cut back (the time code of a cut start moves on,
  // and so does recorded content: what lay on the cut tracks is gone).
  void Overwrite(const Scene& scene);

  // Empty when the cassette is consistent, otherwise what is wrong.
  std::string Problem() const;

  // An identity made from the scenes, for a cassette file that names none:
  // loading the same file twice gives the same cassette.
  std::string DerivedIdentity() const;

  // A 60-minute cassette with a few scenes and gaps, and a short stretch of
  // lightly worn tape in the last scene.
  static Cassette Default();

  // The JSON form (see simulator/README.md). FromJson refuses anything
  // inconsistent and says why in *error.
  std::string ToJson() const;
  static std::optional<Cassette> FromJson(std::string_view text, std::string* error = nullptr);
  static std::optional<Cassette> Load(const std::filesystem::path& file, std::string* error = nullptr);
};

}  // namespace zelto::sim
