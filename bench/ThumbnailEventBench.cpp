// The driver's thumbnail report during a scan, carrying a 160 x 90 picture,
// until the picture is in the device's thumbnail store: the device's
// NotifyGotThumbnail, as the message window calls it when the report is
// dispatched (the header judged, the picture copied, the copy stored under
// its scene's key). Beside it, the floor: a plain copy of the same bytes
// into a buffer made ready beforehand; and a copy into a new buffer that is
// kept, as the store keeps its copies.
//
// The store is emptied between blocks of rounds by cancelling the scan,
// whose merge finds no scene for the keys used and drops them; so each
// block starts from an empty store, as a scan does. Memory matters here:
// the C library gives a large freed heap back to the system, and a block
// then writes into pages the system hands out anew, each a page fault (on
// a virtual machine, microseconds apiece: a 43 kB picture is eleven pages).
// So everything is measured twice: with the heap as it is, and (with
// glibc) with the heap told to keep what is freed, which leaves the
// library's own work.
//
// Before measuring, one picture is taken through a scan into the cassette
// memory and read back, to be sure the measured pictures are kept, not
// dropped.
// Optional first argument: the number of rounds (default 20000).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#if defined(__GLIBC__)
#  include <malloc.h>
#endif

#include "bench/BenchDevice.h"
#include "bench/BenchSupport.h"
#include "bench/BenchThumbnail.h"

namespace {

constexpr std::int32_t kWidth = 160;
constexpr std::int32_t kHeight = 90;
constexpr int kBlock = 200;  // thumbnails stored before the store is emptied
constexpr std::uint32_t kNoScene = 0x7FFF0000;

std::vector<long long> EventRounds(ZeltoVideoDevice& device, const std::vector<std::uint8_t>& dib, int rounds) {
  std::vector<long long> samples(static_cast<std::size_t>(rounds));
  device.StartScanning();
  for (int i = 0; i < rounds; ++i) {
    const Orvex::_THUMBNAIL_DATA record{dib.data(), kNoScene + static_cast<std::uint32_t>(i % 50)};
    const long long start = bench::NowNs();
    device.NotifyGotThumbnail(&record);
    samples[static_cast<std::size_t>(i)] = bench::NowNs() - start;
  }
  device.CancelScanning();
  return samples;
}

// What the copy is kept away from: the compiler may not drop a copy whose
// result it cannot prove unused.
volatile std::uint8_t sink;

std::vector<long long> CopyRounds(const std::vector<std::uint8_t>& dib, int rounds) {
  std::vector<long long> samples(static_cast<std::size_t>(rounds));
  std::vector<std::uint8_t> target(dib.size());
  for (auto& sample : samples) {
    const long long start = bench::NowNs();
    std::memcpy(target.data(), dib.data(), dib.size());
    sample = bench::NowNs() - start;
    sink = target[target.size() / 2];
  }
  return samples;
}

// Copies into new buffers kept until the end of the block, as the store
// keeps its copies until the merge.
std::vector<long long> KeptCopyRounds(const std::vector<std::uint8_t>& dib, int rounds) {
  std::vector<long long> samples(static_cast<std::size_t>(rounds));
  std::vector<std::unique_ptr<std::uint8_t[]>> kept(static_cast<std::size_t>(rounds));
  for (int i = 0; i < rounds; ++i) {
    const long long start = bench::NowNs();
    kept[static_cast<std::size_t>(i)].reset(new std::uint8_t[dib.size()]);
    std::memcpy(kept[static_cast<std::size_t>(i)].get(), dib.data(), dib.size());
    samples[static_cast<std::size_t>(i)] = bench::NowNs() - start;
    sink = kept[static_cast<std::size_t>(i)][dib.size() / 2];
  }
  return samples;
}

struct Figures {
  bench::Percentiles ours, floor, kept;
};

// Warm-up, then the three in alternating blocks, so that all see the same
// machine.
Figures Measure(ZeltoVideoDevice& device, const std::vector<std::uint8_t>& dib, int rounds) {
  EventRounds(device, dib, kBlock);
  CopyRounds(dib, kBlock);
  KeptCopyRounds(dib, kBlock);
  std::vector<long long> ours, floor, kept;
  for (int done = 0; done < rounds; done += kBlock) {
    const int block = std::min(kBlock, rounds - done);
    const std::vector<long long> a = EventRounds(device, dib, block);
    ours.insert(ours.end(), a.begin(), a.end());
    const std::vector<long long> b = CopyRounds(dib, block);
    floor.insert(floor.end(), b.begin(), b.end());
    const std::vector<long long> c = KeptCopyRounds(dib, block);
    kept.insert(kept.end(), c.begin(), c.end());
  }
  return {bench::Summarise(ours), bench::Summarise(floor), bench::Summarise(kept)};
}

void Print(const char* heap, const Figures& f) {
  std::printf("  %s\n", heap);
  std::printf("    NotifyGotThumbnail, into the store          %9.2f %9.2f\n", f.ours.p50Us, f.ours.p99Us);
  std::printf("    memcpy of the same bytes (floor)            %9.2f %9.2f\n", f.floor.p50Us, f.floor.p99Us);
  std::printf("    copy into a new buffer, kept                %9.2f %9.2f\n", f.kept.p50Us, f.kept.p99Us);
  std::printf("    p50 ratio (ours / floor)                    %9.2f   (target <= 5)\n", f.ours.p50Us / f.floor.p50Us);
  std::printf("    p50 ratio (ours / kept copy)                %9.2f\n", f.ours.p50Us / f.kept.p50Us);
}

// One picture through a scan into the cassette memory and back.
bool PictureIsKept(ZeltoVideoDevice& device, const std::vector<std::uint8_t>& dib, long scene) {
  device.StartScanning();
  const Orvex::_THUMBNAIL_DATA record{dib.data(), static_cast<std::uint32_t>(scene)};
  device.NotifyGotThumbnail(&record);
  device.StopScanning();
  std::vector<Orvex::_OxMICRecInfo> records;
  device.GetMICRecInfo(records);
  return records.size() == 1 && records[0].firstPicture.GetBitmapSize() == dib.size() &&
         std::memcmp(records[0].firstPicture.GetBitmap(), dib.data(), dib.size()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = bench::Rounds(argc, argv, 20000);
  bench::SimulatedCamcorder camcorder("thumbnail-event", bench::CassetteWithScenes(1));
  if (!camcorder.Ok()) return 1;
  std::unique_ptr<ZeltoVideoDevice> device(ZeltoVideoDeviceFactory::GetZeltoVideoDevice());
  if (!device || !device->InitializeDevice(Orvex::OX_VIDEO_SYSTEM_1, true, nullptr, nullptr, false, true)) {
    std::fprintf(stderr, "the device could not be initialised\n");
    return 1;
  }
  const std::vector<long> scenes = bench::SceneIds(*device);
  if (scenes.size() != 1) {
    std::fprintf(stderr, "the cassette memory holds %zu scenes, not 1\n", scenes.size());
    return 1;
  }
  const std::vector<std::uint8_t> dib = bench::PackedBitmap(kWidth, kHeight, 1);
  if (!PictureIsKept(*device, dib, scenes[0])) {
    std::fprintf(stderr, "the thumbnail was not kept\n");
    return 1;
  }

  const Figures asItIs = Measure(*device, dib, rounds);
#if defined(__GLIBC__)
  // From here on freed memory stays in the heap: no page is handed out anew.
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  const Figures kept = Measure(*device, dib, rounds);
#endif

  std::printf("thumbnail report until the picture is stored, %d x %d at 24 bits (%zu bytes)\n", kWidth, kHeight,
              dib.size());
  std::printf("  %d rounds each, in blocks of %d                   p50 us    p99 us\n", rounds, kBlock);
  Print("the heap as it is (freed memory given back to the system):", asItIs);
#if defined(__GLIBC__)
  Print("the heap keeping what is freed:", kept);
#endif
  return 0;
}
