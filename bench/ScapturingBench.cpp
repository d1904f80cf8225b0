// Whole-cassette capture on the simulated camcorder, with the poll period at
// 500 ms:
// - how often the auto-capturing thread wakes per second of tape while its
//   capture loop runs (Linux: its voluntary context switches from /proc);
// - how long StopScapturing takes to return while a run is in its capture
//   loop, stopped at points spread over one poll period.
// Optional first argument: stop rounds (default 10); second: seconds of tape
// for the wake-up count (default 20). Run it with ZELTO_TIME_SCALE unset:
// the tape then plays in real time.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "bench/BenchCapture.h"
#include "bench/BenchDevice.h"
#include "bench/BenchSupport.h"
#include "host/devevents/OxScapturingEvent.h"

namespace {

constexpr DWORD kPoll = 500;

// Counts the scapturing reports, so that the benchmark can wait until a
// run's first file exists: its capture loop is then running.
class Reports {
 public:
  void Heard(const Orvex::OxScapturingEvent& event) {
    std::lock_guard<std::mutex> guard(lock_);
    if (event.GetEventID() == Orvex::OX_SCAPTURING_CREATE_FILE) ++files_;
    if (event.GetEventID() == Orvex::OX_SCAPTURING_ERROR_STOP) ++errors_;
    changed_.notify_all();
  }
  bool WaitForFile(long count) {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, std::chrono::seconds(60), [&] { return files_ >= count; });
  }
  long Files() {
    std::lock_guard<std::mutex> guard(lock_);
    return files_;
  }
  long Errors() {
    std::lock_guard<std::mutex> guard(lock_);
    return errors_;
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  long files_ = 0;
  long errors_ = 0;
};

Orvex::_OxBatchCapturingParam Param(const std::filesystem::path& folder) {
  Orvex::_OxBatchCapturingParam param;
  param.folderPath = Orvex::OxString(zelto::platform::WidePath(folder).c_str());
  param.firstFileNumber = 1;
  param.fileBaseName = Orvex::OxString(L"Scap");
  return param;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = bench::Rounds(argc, argv, 10);
  const int seconds = bench::PositiveArgument(argc, argv, 2, 20);
  bench::SimulatedCamcorder camcorder("scapturing", bench::LongTape());
  if (!camcorder.Ok()) return 1;
  std::unique_ptr<ZeltoVideoDevice> device(ZeltoVideoDeviceFactory::GetZeltoVideoDevice());
  if (!device || !device->InitializeDevice(Orvex::OX_VIDEO_SYSTEM_1, true, nullptr, nullptr, false, true)) {
    std::fprintf(stderr, "the device could not be initialised\n");
    return 1;
  }
  Orvex::OxUnique::GetInstance().SetPollingTime(kPoll);
  Reports reports;
  bench::CallbackListener<Orvex::OxScapturingEvent> listener(
      [&](const Orvex::OxScapturingEvent& event) { reports.Heard(event); });
  device->AddEventListener(&listener);

  // A run from the start of the tape until its first file exists.
  auto startRun = [&] {
    device->SetupScapturing(Param(camcorder.CaptureFolder()));
    const long files = reports.Files();
    device->StartScapturing();
    return reports.WaitForFile(files + 1);
  };

  std::printf("scapturing on the simulated camcorder, poll period %lu ms\n", static_cast<unsigned long>(kPoll));

#if defined(__linux__)
  {
    const std::set<long> before = bench::Tasks();
    if (!startRun()) {
      std::fprintf(stderr, "the first run made no file\n");
      return 1;
    }
    // The run's thread is the only one that appeared with the start; the
    // driver's capture thread came with the capture, after the rewind.
    long worker = -1;
    for (long t : bench::Minus(bench::Tasks(), before)) {
      if (worker < 0 || t < worker) worker = t;
    }
    const long long wakeupsBefore = bench::TaskWakeups(worker);
    const DWORD ticksBefore = GetTickCount();
    Sleep(static_cast<DWORD>(seconds) * 1000);
    const long long wakeups = bench::TaskWakeups(worker) - wakeupsBefore;
    const double tape = static_cast<double>(GetTickCount() - ticksBefore) / 1000.0;
    device->StopScapturing();
    std::printf("auto-capturing thread: %lld wake-ups in %.1f s of tape, %.2f per second (target <= 2.5)\n", wakeups,
                tape, static_cast<double>(wakeups) / tape);
  }
#else
  std::printf("wake-ups over %d s: Linux only\n", seconds);
#endif

  std::vector<long long> samples;
  for (int round = 0; round < rounds; ++round) {
    if (!startRun()) {
      std::fprintf(stderr, "round %d made no file\n", round);
      return 1;
    }
    // Spread the stops over one poll period.
    Sleep(static_cast<DWORD>(kPoll * static_cast<DWORD>(round) / static_cast<DWORD>(rounds)));
    const long long start = bench::NowNs();
    device->StopScapturing();
    samples.push_back(bench::NowNs() - start);
  }
  const bench::Percentiles stop = bench::Summarise(samples);
  std::printf("StopScapturing in the capture loop, %d rounds: p50 %.1f ms, p99 %.1f ms (target < %lu ms)\n", rounds,
              stop.p50Us / 1000.0, stop.p99Us / 1000.0, static_cast<unsigned long>(kPoll + 150));
  if (reports.Errors() != 0) std::printf("error reports: %ld\n", reports.Errors());

  device->RemoveEventListener(&listener);
  device->TerminateDevice();
  return 0;
}
