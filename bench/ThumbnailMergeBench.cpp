// The thumbnail merge at the end of a scan of 200 scenes, two 160 x 90
// pictures each (400 thumbnails in the store): the time of StopScanning,
// which runs the merge, and the cassette-memory database's share of it.
//
// The database's share is measured by making the merge's database calls
// again, the same calls with the same pictures in the same order, through a
// manager of the program's own on the same file: the record count, the
// record list, then per scene the first and the second picture. The rest
// of StopScanning is shown on its own too: the same call with an empty
// store (the record list is still read, nothing is written), which also
// holds the few driver calls around the merge.
//
// Before every round the pictures are taken out of the database again (not
// timed), so that every merge writes all 400.
// Each round writes some 2000 pictures in all, each a transaction of its
// own: a round takes seconds.
// Optional arguments: the number of rounds (default 5), then the number of
// scenes (default 200; fewer for a quick check that the program still runs).
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "bench/BenchDevice.h"
#include "bench/BenchSupport.h"
#include "bench/BenchThumbnail.h"

namespace {

constexpr int kDefaultScenes = 200;
constexpr std::int32_t kWidth = 160;
constexpr std::int32_t kHeight = 90;

double Ms(long long ns) { return static_cast<double>(ns) / 1e6; }

double Median(std::vector<long long> samples) {
  std::sort(samples.begin(), samples.end());
  return Ms(samples[samples.size() / 2]);
}

// Every scene back to no picture.
bool RemovePictures(Orvex::IMicDatabaseManager& manager, const std::vector<long>& scenes) {
  Orvex::OxBitmap none;
  for (long id : scenes)
    if (!manager.SetRecInfoPicture(id, none, true) || !manager.SetRecInfoSecondPicture(id, none, true)) return false;
  return true;
}

struct Pictures {
  std::vector<std::uint8_t> first, second;
};

}  // namespace

int main(int argc, char** argv) {
  const int rounds = bench::Rounds(argc, argv, 5);
  const int sceneCount = bench::PositiveArgument(argc, argv, 2, kDefaultScenes);
  bench::SimulatedCamcorder camcorder("thumbnail-merge", bench::CassetteWithScenes(sceneCount));
  if (!camcorder.Ok()) return 1;
  std::unique_ptr<ZeltoVideoDevice> device(ZeltoVideoDeviceFactory::GetZeltoVideoDevice());
  if (!device || !device->InitializeDevice(Orvex::OX_VIDEO_SYSTEM_1, true, nullptr, nullptr, false, true)) {
    std::fprintf(stderr, "the device could not be initialised\n");
    return 1;
  }
  const std::vector<long> scenes = bench::SceneIds(*device);
  Orvex::IMicDatabaseManager* manager = bench::OpenBenchCassette();
  if (scenes.size() != static_cast<std::size_t>(sceneCount) || !manager) {
    std::fprintf(stderr, "the cassette memory holds %zu scenes, not %d, or its database could not be opened\n",
                 scenes.size(), sceneCount);
    if (manager) manager->Destroy();
    return 1;
  }

  std::vector<Pictures> pictures(sceneCount);
  for (int i = 0; i < sceneCount; ++i) {
    pictures[static_cast<std::size_t>(i)].first = bench::PackedBitmap(kWidth, kHeight, static_cast<std::uint8_t>(2 * i));
    pictures[static_cast<std::size_t>(i)].second =
        bench::PackedBitmap(kWidth, kHeight, static_cast<std::uint8_t>(2 * i + 1));
  }
  // The same pictures as the database's calls take them, made beforehand.
  std::vector<Orvex::OxBitmap> firstBitmaps(sceneCount), secondBitmaps(sceneCount);
  for (int i = 0; i < sceneCount; ++i) {
    const Pictures& p = pictures[static_cast<std::size_t>(i)];
    firstBitmaps[static_cast<std::size_t>(i)].SetBitmap(p.first.data(), static_cast<std::uint32_t>(p.first.size()));
    secondBitmaps[static_cast<std::size_t>(i)].SetBitmap(p.second.data(), static_cast<std::uint32_t>(p.second.size()));
  }

  std::vector<long long> merges, database, rest;
  bool ok = true;
  for (int round = 0; ok && round <= rounds; ++round) {  // round 0 warms up
    // StopScanning with the 400 thumbnails, the first of each scene first.
    ok = RemovePictures(*manager, scenes);
    device->StartScanning();
    for (int pass = 0; pass < 2; ++pass)
      for (int i = 0; i < sceneCount; ++i) {
        const Pictures& p = pictures[static_cast<std::size_t>(i)];
        const Orvex::_THUMBNAIL_DATA record{pass == 0 ? p.first.data() : p.second.data(),
                                            static_cast<std::uint32_t>(scenes[static_cast<std::size_t>(i)])};
        device->NotifyGotThumbnail(&record);
      }
    long long start = bench::NowNs();
    device->StopScanning();
    const long long merge = bench::NowNs() - start;
    std::vector<Orvex::_OxMICRecInfo> check;
    device->GetMICRecInfo(check);
    ok = ok && check.size() == static_cast<std::size_t>(sceneCount) && check.back().secondPicture.GetBitmapSize() == pictures.back().second.size();

    // The merge's database calls, made again.
    ok = ok && RemovePictures(*manager, scenes);
    start = bench::NowNs();
    const long count = manager->GetRecInfoCount();
    std::vector<Orvex::_OxMicDbRecInfo> list;
    ok = ok && count == sceneCount && manager->GetRecInfoList(list);
    for (int i = 0; ok && i < sceneCount; ++i) {
      const long id = scenes[static_cast<std::size_t>(i)];
      ok = manager->SetRecInfoPicture(id, firstBitmaps[static_cast<std::size_t>(i)], true) &&
           manager->SetRecInfoSecondPicture(id, secondBitmaps[static_cast<std::size_t>(i)], true);
    }
    const long long calls = bench::NowNs() - start;

    // StopScanning with nothing to merge.
    ok = ok && RemovePictures(*manager, scenes);
    device->StartScanning();
    start = bench::NowNs();
    device->StopScanning();
    const long long empty = bench::NowNs() - start;

    if (round > 0) {
      merges.push_back(merge);
      database.push_back(calls);
      rest.push_back(empty);
    }
  }
  manager->Destroy();
  if (!ok) {
    std::fprintf(stderr, "a merge or a database call failed\n");
    return 1;
  }

  const double total = Median(merges);
  const double db = Median(database);
  std::printf("thumbnail merge: %d scenes, two %d x %d pictures each (%zu bytes apiece)\n", sceneCount, kWidth, kHeight,
              pictures[0].first.size());
  std::printf("  %d rounds, medians                                   ms\n", rounds);
  std::printf("  StopScanning, %4d thumbnails merged         %10.2f\n", 2 * sceneCount, total);
  std::printf("  the merge's database calls, made again       %10.2f   (%.1f%% of it)\n", db, 100.0 * db / total);
  // A difference of two timings: near 0 it is within the database's noise.
  std::printf("  the rest, by difference                      %10.2f   (%.1f%%)\n", total - db,
              100.0 * (total - db) / total);
  std::printf("  StopScanning with an empty store             %10.2f\n", Median(rest));
  std::printf("  per picture written, at the median           %10.3f\n", total / (2.0 * sceneCount));
  return 0;
}
