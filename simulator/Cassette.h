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

// A recorded scene covering the tracks [startTrack, endTrack).
struct Scene {
  std::uint32_t startTrack = 0;
  std::uint32_t endTrack = 0;
  std::uint32_t startFrame = 0;  // time code at startTrack, counted in frames
  std::string recorded;          // recording date, "YYYY-MM-DDTHH:MM:SS"
  int videoSystem = 1;           // 0: 30 frames per second; otherwise 25
  bool wide = true;              // 16:9 picture

  unsigned FramesPerSecond() const { return videoSystem != 0 ? 25u : 30u; }
  // Time code frames at a track inside the scene (or at its end).
  std::uint32_t FrameAt(std::uint32_t track) const;
  __MIDL___MIDL_itf_plgdefs_0000_0001 TimeCodeAt(std::uint32_t track) const;
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
  std::vector<Scene> scenes;  // ordered by position, never overlapping

  // The scene under a track, or null on blank tape.
  const Scene* SceneAt(std::uint32_t track) const;
  // Scene start and end tracks strictly after / before a track.
  std::optional<std::uint32_t> NextBoundaryAfter(std::uint32_t track) const;

  // Writes a scene over whatever was there: scenes it covers are dropped,
  // scenes it overlaps are cut back (the time code of a cut start moves on).
  void Overwrite(const Scene& scene);

  // Empty when the cassette is consistent, otherwise what is wrong.
  std::string Problem() const;

  // A 60-minute cassette with a few scenes and gaps.
  static Cassette Default();

  // The JSON form (see simulator/README.md). FromJson refuses anything
  // inconsistent and says why in *error.
  std::string ToJson() const;
  static std::optional<Cassette> FromJson(std::string_view text, std::string* error = nullptr);
  static std::optional<Cassette> Load(const std::filesystem::path& file, std::string* error = nullptr);
};

}  // namespace zelto::sim
