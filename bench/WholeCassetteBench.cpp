// A whole-cassette capture of the default cassette on the simulated
// camcorder, twenty times as fast as real time: the wall time from
// StartScapturing to the run's own end, beside what the tape itself takes
// at that speed (the rewind, the pause after it, the tape up to the last
// scene the run captures and the stream time-out after it) and the whole
// tape's length. Optional arguments: "apartment" keeps the driver's objects
// in the host thread's apartment, whose messages the host then dispatches
// while it waits ("free" does not); the stream time-out in milliseconds
// (default the host's, 10000: the run then ends in the default cassette's
// 18.6 s gap before its third scene).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "bench/BenchDevice.h"
#include "bench/BenchSupport.h"
#include "host/devevents/OxScapturingEvent.h"

namespace {

constexpr double kSpeed = 20.0;

struct Reports {
  std::mutex lock;
  long files = 0;
  bool ended = false;
  std::string end;
  HANDLE changed = CreateEventW(nullptr, FALSE, FALSE, nullptr);

  void Heard(const Orvex::OxScapturingEvent& event) {
    {
      std::lock_guard<std::mutex> guard(lock);
      if (event.GetEventID() == Orvex::OX_SCAPTURING_CREATE_FILE) ++files;
      if (event.GetEventID() == Orvex::OX_SCAPTURING_COMPLETE) end = "complete";
      if (event.GetEventID() == Orvex::OX_SCAPTURING_ERROR_STOP)
        end = "error " + std::to_string(static_cast<int>(event.GetErrorID()));
      ended = ended || !end.empty();
    }
    SetEvent(changed);
  }
  bool Ended() {
    std::lock_guard<std::mutex> guard(lock);
    return ended;
  }
};

}  // namespace

int main(int argc, char** argv) {
  const bool apartment = argc > 1 && std::strcmp(argv[1], "apartment") == 0;
  if (argc > 2) Orvex::OxUnique::GetInstance().SetScaptureStreamTimeOut(static_cast<DWORD>(std::atol(argv[2])));
  const zelto::sim::Cassette tape = zelto::sim::Cassette::Default();
  bench::SimulatedCamcorder camcorder("whole-cassette", tape, apartment);
  if (!camcorder.Ok()) return 1;
  zelto::platform::SetTimeScaleForTesting(1.0 / kSpeed);
  std::unique_ptr<ZeltoVideoDevice> device(ZeltoVideoDeviceFactory::GetZeltoVideoDevice());
  if (!device || !device->InitializeDevice(Orvex::OX_VIDEO_SYSTEM_1, true, nullptr, nullptr, false, true)) {
    std::fprintf(stderr, "the device could not be initialised\n");
    return 1;
  }
  Reports reports;
  bench::CallbackListener<Orvex::OxScapturingEvent> listener(
      [&](const Orvex::OxScapturingEvent& event) { reports.Heard(event); });
  device->AddEventListener(&listener);

  Orvex::_OxBatchCapturingParam param;
  param.folderPath = Orvex::OxString(zelto::platform::WidePath(camcorder.CaptureFolder()).c_str());
  param.firstFileNumber = 1;
  param.fileBaseName = Orvex::OxString(L"Tape");
  device->SetupScapturing(param);
  const long long started = bench::NowNs();
  device->StartScapturing();
  while (!reports.Ended()) {
    MsgWaitForMultipleObjects(1, &reports.changed, FALSE, INFINITE, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
  const double wall = static_cast<double>(bench::NowNs() - started) / 1e9;
  device->StopScapturing();

  // The run ends after the first scene followed by more blank tape than
  // the time-out (or by the tape's end); the tape stands at its start, so
  // the rewind ends at once.
  const double timeout = Orvex::OxUnique::GetInstance().GetScaptureStreamTimeOut() / 1000.0;
  const auto seconds = [](std::uint32_t tracks) { return static_cast<double>(tracks) / zelto::sim::kTracksPerSecond; };
  const double length = seconds(tape.lengthTracks);
  double lastEnd = 0;
  std::size_t scenes = 0;
  for (const auto& scene : tape.scenes) {
    if (scenes > 0 && seconds(scene.startTrack) - lastEnd > timeout) break;
    lastEnd = seconds(scene.endTrack);
    ++scenes;
  }
  const double floorSeconds = (3.0 + lastEnd + timeout) / kSpeed;
  std::printf("whole-cassette capture of the default cassette at %.0fx (%s objects), stream time-out %.1f s: "
              "%ld files for %zu scenes, ended %s\n",
              kSpeed, apartment ? "apartment-threaded" : "free-threaded", timeout, reports.files, scenes,
              reports.end.c_str());
  std::printf("wall %.2f s; the tape's own floor %.2f s ((3 s pause + %.1f s to the end of scene %zu + %.1f s "
              "time-out) / %.0f); whole tape / %.0f = %.1f s\n",
              wall, floorSeconds, lastEnd, scenes, timeout, kSpeed, kSpeed, length / kSpeed);
  device->RemoveEventListener(&listener);
  device->TerminateDevice();
  return 0;
}
