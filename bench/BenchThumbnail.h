// What the thumbnail benchmarks share: a scan thumbnail as the driver hands
// it over (a packed bitmap of a given size), a cassette with scenes in its
// memory, and a manager of the program's own on the device's
// cassette-memory database.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "host/cassettedb/IMicDatabaseManager.h"
#include "host/foundation/OxString.h"
#include "host/foundation/OxUnique.h"
#include "simulator/Cassette.h"
#include "zelto/device/ZeltoVideoDevice.h"

namespace bench {

// The bench cassette's identity, as the cassette and the database name it.
inline constexpr const char* kBenchCassette = "bench";
inline constexpr const wchar_t* kBenchCassetteWide = L"bench";

// A bottom-up, 24-bit packed bitmap of width x height: a 40-byte header,
// then the rows, each padded to 4 bytes; the pixels differ by seed.
inline std::vector<std::uint8_t> PackedBitmap(std::int32_t width, std::int32_t height, std::uint8_t seed) {
  const std::uint32_t stride = (static_cast<std::uint32_t>(width) * 24 + 31) / 32 * 4;
  const std::uint32_t pixels = stride * static_cast<std::uint32_t>(height);
  std::vector<std::uint8_t> dib(40 + pixels);
  auto put = [&](std::size_t at, const void* value, std::size_t n) { std::memcpy(dib.data() + at, value, n); };
  const std::uint32_t headerSize = 40;
  const std::uint16_t planes = 1, bits = 24;
  put(0, &headerSize, 4);
  put(4, &width, 4);
  put(8, &height, 4);
  put(12, &planes, 2);
  put(14, &bits, 2);
  put(20, &pixels, 4);
  for (std::size_t i = 40; i < dib.size(); ++i) dib[i] = static_cast<std::uint8_t>(seed * 31 + i * 7);
  return dib;
}

// The database file the device opens: the host's cassette-memory folder and
// "micdb.mdb".
inline Orvex::OxString MicDatabasePath() {
  Orvex::OxString path = Orvex::OxUnique::GetInstance().GetMicDataBaseFolder().GetPath();
  path.Append(L"\\micdb.mdb");
  return path;
}

// A manager of the program's own on the device's database file, on the
// cassette of CassetteWithScenes, which the device has loaded; null when any
// step fails.
inline Orvex::IMicDatabaseManager* OpenBenchCassette() {
  const Orvex::OxString path = MicDatabasePath();
  Orvex::IMicDatabaseManager* manager = Orvex::CreateMicDatabaseManager();
  if (!manager) return nullptr;
  if (!manager->Open(path, Orvex::OX_MIC_DB_OPEN_READWRITE) ||
      !manager->SelectCassette(Orvex::OxString(kBenchCassetteWide), false)) {
    manager->Destroy();
    return nullptr;
  }
  return manager;
}

// A cassette whose memory holds `count` scenes of a second each, a second
// apart. The device loads a cassette's memory into the database when it
// opens, replacing whatever the database held for that cassette: scenes for
// the thumbnails to go to must come from the tape.
inline zelto::sim::Cassette CassetteWithScenes(int count) {
  zelto::sim::Cassette cassette;
  cassette.identity = kBenchCassette;
  cassette.title = "Bench";
  std::uint32_t frame = 0;
  for (int i = 0; i < count; ++i) {
    zelto::sim::Scene scene;
    scene.startTrack = static_cast<std::uint32_t>(2 * i + 1) * zelto::sim::kTracksPerSecond;
    scene.endTrack = scene.startTrack + zelto::sim::kTracksPerSecond;
    scene.startFrame = frame;
    scene.recorded = "2025-07-12T10:14:03";
    frame = scene.FrameAt(scene.endTrack);
    cassette.scenes.push_back(scene);
  }
  return cassette;
}

// The record ids of the device's scenes, in tape order: the keys the
// driver's thumbnails carry.
inline std::vector<long> SceneIds(ZeltoVideoDevice& device) {
  std::vector<Orvex::_OxMICRecInfo> records;
  device.GetMICRecInfo(records);
  std::vector<long> ids;
  for (const Orvex::_OxMICRecInfo& record : records) ids.push_back(record.id);
  return ids;
}

}  // namespace bench
