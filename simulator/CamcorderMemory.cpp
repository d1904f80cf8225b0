// The camcorder's cassette memory as the driver reads and writes it.
#include "simulator/Camcorder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "platform/PlatformExtras.h"

namespace zelto::sim {

namespace {

template <std::size_t N>
void CopyText(WCHAR (&to)[N], const std::string& utf8) {
  const std::wstring wide = zelto::platform::FromUtf8(utf8);
  const std::size_t n = std::min(wide.size(), N - 1);
  std::copy_n(wide.begin(), n, to);
  to[n] = 0;
}

// 0xHHMMSSFF: numeric order is tape order.
DWORD PackedTimeCode(std::uint32_t frames, unsigned framesPerSecond) {
  const auto r = TimeCodeRecord(frames, framesPerSecond);
  return static_cast<DWORD>(r.hours) << 24 | static_cast<DWORD>(r.minutes) << 16 |
         static_cast<DWORD>(r.seconds) << 8 | r.frames;
}

// "YYYY-MM-DDTHH:MM:SS" as seconds since 1970, the date taken as UTC; 0 for
// anything else.
LONGLONG RecordedAt(const std::string& date) {
  int y = 0;
  unsigned mo = 0, d = 0, h = 0, mi = 0, se = 0;
  char tail = 0;
  if (std::sscanf(date.c_str(), "%4d-%2u-%2uT%2u:%2u:%2u%c", &y, &mo, &d, &h, &mi, &se, &tail) != 6) return 0;
  const std::chrono::year_month_day day{std::chrono::year{y}, std::chrono::month{mo}, std::chrono::day{d}};
  if (!day.ok() || h > 23 || mi > 59 || se > 59) return 0;
  const auto seconds = std::chrono::sys_days{day}.time_since_epoch() + std::chrono::hours{h} +
                       std::chrono::minutes{mi} + std::chrono::seconds{se};
  return std::chrono::duration_cast<std::chrono::seconds>(seconds).count();
}

}  // namespace

HRESULT Camcorder::GetMemoryHeader(CASSETTE_MEMORY_HEADER* header) {
  if (!header) return E_POINTER;
  *header = CASSETTE_MEMORY_HEADER{};
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  AdvanceLocked(Now());
  const Cassette* cassette = model_.MemoryCassette();
  if (!cassette) return S_FALSE;
  header->sequence = model_.MemorySequence();
  header->recordCount = static_cast<DWORD>(cassette->scenes.size());
  header->cleaning = cassette->cleaning ? TRUE : FALSE;
  CopyText(header->identity, cassette->identity);
  CopyText(header->title, cassette->title);
  CopyText(header->text, cassette->text);
  return S_OK;
}

HRESULT Camcorder::GetMemoryRecord(DWORD sequence, DWORD index, CASSETTE_MEMORY_RECORD* record) {
  if (!record) return E_POINTER;
  *record = CASSETTE_MEMORY_RECORD{};
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  AdvanceLocked(Now());
  const Cassette* cassette = model_.MemoryCassette();
  if (!cassette) return kErrorNotReady;
  if (sequence != model_.MemorySequence()) return CASSETTE_MEMORY_E_CHANGED;
  if (index >= cassette->scenes.size()) return E_INVALIDARG;
  const Scene& scene = cassette->scenes[index];
  record->key = scene.memoryKey;
  record->startTimeCode = PackedTimeCode(scene.startFrame, scene.FramesPerSecond());
  record->endTimeCode = PackedTimeCode(scene.FrameAt(scene.endTrack), scene.FramesPerSecond());
  record->durationMs = static_cast<DWORD>(std::uint64_t{scene.endTrack - scene.startTrack} * 1000 / kTracksPerSecond);
  record->recordedAt = RecordedAt(scene.recorded);
  CopyText(record->text, scene.note);
  return S_OK;
}

HRESULT Camcorder::SetMemoryRecordKey(DWORD sequence, DWORD index, DWORD key) {
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  return ChangeLocked([&](Tick) { return model_.SetMemoryKey(sequence, index, key); });
}

HRESULT Camcorder::SetMemoryText(const WCHAR* text) {
  if (!text) return E_POINTER;
  std::wstring wide(text);
  wide.resize(std::min<std::size_t>(wide.size(), CASSETTE_MEMORY_TEXT_CHARS - 1));
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  return ChangeLocked([&](Tick) { return model_.SetMemoryText(zelto::platform::ToUtf8(wide)); });
}

}  // namespace zelto::sim
