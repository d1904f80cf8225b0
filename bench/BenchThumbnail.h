// What the thumbnail benchmarks share: a scan thumbnail as the driver hands
// it over (a packed bitmap of a given size), and scenes written into the
// cassette-memory database before the device opens it, through a manager of
// the program's own on the same file.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "host/cassettedb/IMicDatabaseManager.h"
#include "host/foundation/OxString.h"
#include "host/foundation/OxUnique.h"

namespace bench {

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
// cassette "bench", which it makes current; null when any step fails.
inline Orvex::IMicDatabaseManager* OpenBenchCassette() {
  const Orvex::OxString path = MicDatabasePath();
  Orvex::IMicDatabaseManager* manager = Orvex::CreateMicDatabaseManager();
  if (!manager) return nullptr;
  if (!Orvex::CreateMicDatabase(path) || !manager->Open(path, Orvex::OX_MIC_DB_OPEN_READWRITE) ||
      !manager->SelectCassette(Orvex::OxString(L"bench"), true)) {
    manager->Destroy();
    return nullptr;
  }
  return manager;
}

// count scenes without pictures on the current cassette; their ids, in tape
// order, or fewer when a write fails.
inline std::vector<long> AddScenes(Orvex::IMicDatabaseManager& manager, int count) {
  std::vector<long> ids;
  for (int i = 0; i < count; ++i) {
    // A second apart, packed as 0xHHMMSSFF.
    const std::uint32_t second = static_cast<std::uint32_t>(i) + 1;
    Orvex::_OxMicDbRecInfo info;
    info.startTimeCode = (second / 3600) << 24 | (second / 60 % 60) << 16 | (second % 60) << 8;
    info.endTimeCode = info.startTimeCode + 20;
    info.duration = 800;
    if (!manager.AddRecInfo(info)) break;
    ids.push_back(info.id);
  }
  return ids;
}

}  // namespace bench
