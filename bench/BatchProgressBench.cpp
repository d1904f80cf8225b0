// What a batch progress query costs once the section being written has
// gone to 100 parts: the device sums the sizes of the parts it knows of and
// looks for one more, 101 files, on every call. Beside it, the floor: one
// stat of one of those files, measured the same way in the same run. The
// figure with one part is shown too, to tell the cost of a part from the
// cost of the call.
//
// The driver's batch is refused, so that nothing but this program touches
// the folder: the program plays the driver's reports itself through the
// device's notify operations (in-point reached, then a file opened for each
// part it has made on disk), which is how the device's counters move when
// the driver reports them.
// Optional first argument: the number of rounds (default 4000).
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "bench/BenchCapture.h"
#include "bench/BenchDevice.h"
#include "bench/BenchSupport.h"

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <sys/stat.h>
#endif

namespace {

constexpr int kParts = 100;
constexpr std::uint64_t kPartBytes = 1 << 20;  // as split at 1 MiB; sparse, nothing is written

std::filesystem::path PartFile(const std::filesystem::path& folder, int part) {
  char name[64];
  std::snprintf(name, sizeof name, "Tape-001-%02d.zlt", part);
  return folder / name;
}

bool MakePart(const std::filesystem::path& file) {
  std::error_code ec;
  { std::ofstream out(file, std::ios::binary); }
  std::filesystem::resize_file(file, kPartBytes, ec);
  return !ec;
}

std::vector<long long> ProgressRounds(ZeltoVideoDevice& device, int rounds) {
  std::vector<long long> samples(static_cast<std::size_t>(rounds));
  for (auto& sample : samples) {
    Orvex::_OxBatchCapturingProgress progress;
    const long long start = bench::NowNs();
    device.GetBatchCapturingProgress(progress);
    sample = bench::NowNs() - start;
  }
  return samples;
}

// One stat of a file, the cheapest question the device could ask of it.
std::vector<long long> StatRounds(const std::filesystem::path& file, int rounds) {
  std::vector<long long> samples(static_cast<std::size_t>(rounds));
#if defined(_WIN32)
  const std::wstring name = file.wstring();
  WIN32_FILE_ATTRIBUTE_DATA data;
#else
  const std::string name = file.string();
  struct stat data;
#endif
  for (auto& sample : samples) {
    const long long start = bench::NowNs();
#if defined(_WIN32)
    const bool found = GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data) != 0;
#else
    const bool found = ::stat(name.c_str(), &data) == 0;
#endif
    sample = bench::NowNs() - start;
    if (!found) std::fprintf(stderr, "the file to stat is gone\n");
  }
  return samples;
}

struct Figures {
  bench::Percentiles ours;
  bench::Percentiles floor;
};

// Both measured in alternating blocks, so that both see the same machine.
Figures Measure(ZeltoVideoDevice& device, const std::filesystem::path& file, int rounds) {
  ProgressRounds(device, 100);
  StatRounds(file, 1000);
  constexpr int kBlock = 200;
  std::vector<long long> ours, floor;
  for (int done = 0; done < rounds; done += kBlock) {
    const int block = std::min(kBlock, rounds - done);
    const std::vector<long long> a = ProgressRounds(device, block);
    ours.insert(ours.end(), a.begin(), a.end());
    const std::vector<long long> b = StatRounds(file, block);
    floor.insert(floor.end(), b.begin(), b.end());
  }
  return {bench::Summarise(ours), bench::Summarise(floor)};
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = bench::Rounds(argc, argv, 4000);
  bench::SimulatedCamcorder camcorder("batch-progress");
  if (!camcorder.Ok()) return 1;
  std::unique_ptr<ZeltoVideoDevice> device(ZeltoVideoDeviceFactory::GetZeltoVideoDevice());
  if (!device || !device->InitializeDevice(Orvex::OX_VIDEO_SYSTEM_1, true, nullptr, nullptr, false, true)) {
    std::fprintf(stderr, "the device could not be initialised\n");
    return 1;
  }
  const std::filesystem::path captures = camcorder.CaptureFolder();
  camcorder.Driver().Panel().FailCall(zelto::sim::Method::StartCapture, 1, E_FAIL,
                                      zelto::sim::FaultRepeat::FromThenOn);

  Orvex::_OxBatchCapturingParam param;
  param.folderPath = Orvex::OxString(zelto::platform::WidePath(captures).c_str());
  param.fileBaseName = Orvex::OxString(L"Tape");
  param.firstFileNumber = 1;
  std::vector<Orvex::_OxBatchCapturingItem> items(1);
  items[0].inPoint = 100;
  items[0].outPoint = 100 + 2 * 100 * 100;  // 200 s: a section longer than its 100 parts
  device->SetBatchCapturingList(param, items);
  device->StartBatchCapturing();
  device->NotifyBatchCaptureSearchIn();
  device->NotifyBatchCaptureSearchOut();

  auto addParts = [&](int from, int to) {
    for (int part = from; part <= to; ++part) {
      if (!MakePart(PartFile(captures, part))) return false;
      device->NotifyCreateCapturedFile(Orvex::OxString());
    }
    return true;
  };
  if (!addParts(1, 1)) {
    std::fprintf(stderr, "cannot make the part files\n");
    return 1;
  }
  const Figures one = Measure(*device, PartFile(captures, 1), rounds / 4);
  if (!addParts(2, kParts)) {
    std::fprintf(stderr, "cannot make the part files\n");
    return 1;
  }
  Orvex::_OxBatchCapturingProgress progress;
  device->GetBatchCapturingProgress(progress);
  const Figures hundred = Measure(*device, PartFile(captures, kParts / 2), rounds);

  std::printf("batch progress query, the section in %d parts of 1 MiB (%u%% of the batch shown)\n", kParts,
              progress.percent);
  std::printf("  %d rounds                                        p50 us    p99 us\n", rounds);
  std::printf("  GetBatchCapturingProgress, %3d parts          %9.2f %9.2f\n", kParts, hundred.ours.p50Us,
              hundred.ours.p99Us);
  std::printf("  stat of one part (floor)                      %9.2f %9.2f\n", hundred.floor.p50Us,
              hundred.floor.p99Us);
  std::printf("  p50 ratio (ours / floor)                      %9.1f   (target <= 150)\n",
              hundred.ours.p50Us / hundred.floor.p50Us);
  std::printf("  GetBatchCapturingProgress,   1 part           %9.2f %9.2f   (%d rounds, floor %.2f)\n",
              one.ours.p50Us, one.ours.p99Us, rounds / 4, one.floor.p50Us);
  std::printf("  each further part, at p50                     %9.2f          (%.1f x the floor)\n",
              (hundred.ours.p50Us - one.ours.p50Us) / (kParts - 1),
              (hundred.ours.p50Us - one.ours.p50Us) / (kParts - 1) / hundred.floor.p50Us);

  device->StopBatchCapturing();
  camcorder.Driver().Panel().ClearCallFaults();
  return 0;
}
