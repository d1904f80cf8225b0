// A host's long day, shortened: one device at a time on the simulated
// camcorder, driven round after round through the roads a host takes. Each
// round swaps the cassette (a short one), captures its first scene directly,
// captures a section of its second scene in a batch, scans the tape,
// captures the whole cassette, records the direct capture's file onto the
// blank tape the whole-cassette run left the deck on (right after that run,
// whose set-up must not keep the tape busy), changes the preview settings,
// and ends by unplugging the camcorder and plugging it in again. A device
// cannot be initialised twice, so there the host does what it must: it lets
// the device go, and once the camcorder is back takes a new one from the
// factory's walk and initialises it.
//
// Each road waits for its own end on its listener, dispatching the host
// thread's messages meanwhile, within a generous bound (its tape time on the
// process clock and half a minute more), and checks what a host would: the
// files made, the recording complete, no error stop. The first failing road
// ends the program.
//
// After the first round (caches warm) and after the last it reads the
// process's resident memory, open file descriptors and threads (Linux:
// /proc/self; elsewhere n/a) and how many messages the device's window
// handled in that round (counted by a wrapper around the window's
// procedure, put there from outside as a host may wrap any window of its
// process), and says whether each stayed flat; each round's line shows a
// quick look at them too, for the trend.
//
// Run it with the process clock sped up, so that a round takes seconds:
//   ZELTO_TIME_SCALE=0.05 build/default/bench/SoakBench [rounds, default 20]
// Under the address sanitizer, whose quarantine holds freed memory, add
// ASAN_OPTIONS=quarantine_size_mb=0 or resident memory grows by design.
// Exit status: 0 all well; 1 a road failed or did not end within its bound
// (or the camcorder could not be set up); 2 a figure grew beyond its
// tolerance.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "bench/BenchCapture.h"
#include "bench/BenchDevice.h"
#include "bench/BenchSupport.h"
#include "bench/ProcessFigures.h"
#include "bench/WindowMessageCounter.h"
#include "host/devevents/OxCapturingEvent.h"
#include "host/devevents/OxRecordingEvent.h"
#include "host/devevents/OxScanningEvent.h"
#include "host/devevents/OxScapturingEvent.h"

namespace {

using namespace Orvex;
using zelto::sim::kTracksPerSecond;

// --- The cassettes -------------------------------------------------------

// 40 s of tape: a scene from 1 s to 3 s, one from 4 s to 6.5 s, blank
// tape after them. The whole-cassette run ends in the blank, a stream
// time-out after the second scene, and the recording goes there. Two of
// them, by identity, so that a swap changes what the device's cassette
// memory holds.
constexpr std::uint32_t kSecondSceneStart = 4 * kTracksPerSecond;
constexpr std::uint32_t kSecondSceneEnd = 13 * kTracksPerSecond / 2;
constexpr std::uint32_t kSceneCount = 2;

zelto::sim::Cassette ShortCassette(int which) {
  zelto::sim::Cassette tape;
  tape.lengthTracks = 40 * kTracksPerSecond;
  tape.identity = which % 2 == 0 ? "soak-even" : "soak-odd";
  tape.title = which % 2 == 0 ? "Soak even" : "Soak odd";
  const std::uint32_t bounds[kSceneCount][2] = {{kTracksPerSecond, 3 * kTracksPerSecond},
                                                {kSecondSceneStart, kSecondSceneEnd}};
  std::uint32_t frame = 0;
  for (const auto& [start, end] : bounds) {
    zelto::sim::Scene scene;
    scene.startTrack = start;
    scene.endTrack = end;
    scene.startFrame = frame;
    scene.recorded = "2025-07-12T10:14:03";
    frame = scene.FrameAt(end);
    tape.scenes.push_back(scene);
  }
  return tape;
}

// --- What the host hears -------------------------------------------------

// Every event of one kind, in order; each wakes the host's wait.
template <typename T>
class Heard : public KelSafeEventListener<T> {
 public:
  explicit Heard(HANDLE wake) : wake_(wake) {}
  void OnEvent(const T& event) override {
    {
      std::lock_guard<std::mutex> guard(lock_);
      events_.push_back(event);
    }
    SetEvent(wake_);
  }
  std::size_t Count() {
    std::lock_guard<std::mutex> guard(lock_);
    return events_.size();
  }
  std::vector<T> Since(std::size_t from) {
    std::lock_guard<std::mutex> guard(lock_);
    return std::vector<T>(events_.begin() + static_cast<std::ptrdiff_t>(std::min(from, events_.size())), events_.end());
  }

 private:
  const HANDLE wake_;
  std::mutex lock_;
  std::vector<T> events_;
};

template <typename T, typename Id>
std::optional<T> FirstOf(const std::vector<T>& events, std::initializer_list<Id> ids) {
  for (const T& event : events)
    if (std::find(ids.begin(), ids.end(), event.GetEventID()) != ids.end()) return event;
  return std::nullopt;
}

// Empty when the events reported `count` files made and each is there with
// some stream in it; otherwise what is wrong. The files go to *made.
template <typename T, typename Id>
std::string FilesMade(const std::vector<T>& events, Id created, std::size_t count,
                      std::vector<std::filesystem::path>* made = nullptr) {
  std::vector<std::filesystem::path> files;
  for (const T& event : events)
    if (event.GetEventID() == created) files.push_back(zelto::platform::NativePath(event.GetFileName().GetStdString()));
  if (files.size() != count) return std::to_string(files.size()) + " files reported made, not " + std::to_string(count);
  for (const auto& file : files) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(file, ec);
    const std::string name = zelto::platform::Utf8FromPath(file.filename());
    if (ec) return "the reported file " + name + " is not there";
    if (size == 0) return "the reported file " + name + " is empty";
  }
  if (made) *made = std::move(files);
  return {};
}

template <typename Error>
std::string ErrorStop(Error error) {
  return "error stop " + std::to_string(static_cast<int>(error));
}

_OxBatchCapturingParam CaptureParam(const std::filesystem::path& folder, const wchar_t* baseName) {
  _OxBatchCapturingParam param;
  param.folderPath = OxString(zelto::platform::WidePath(folder).c_str());
  param.fileBaseName = OxString(baseName);
  param.firstFileNumber = 1;
  return param;
}

// --- The verdict ------------------------------------------------------------

// How far a figure may rise between the first round and the last and still
// count as flat. Resident memory settles slowly (the allocator's and the
// database's caches): a few MiB, and a little a round, a fraction of any
// capture's buffers.
constexpr double kResidentToleranceMiB = 4;
constexpr double kResidentToleranceMiBPerRound = 1.0 / 64;
constexpr long kDescriptorTolerance = 0;
constexpr long kThreadTolerance = 0;
// Messages per round vary with how the clock's ticks fall; a timer or a
// poll left running after its road grows them round by round.
constexpr double kMessageToleranceShare = 0.25;
constexpr std::uint64_t kMessageToleranceFloor = 20;

// Prints one figure after the first round and after the last, with as
// many decimals as it has; false when it grew beyond its tolerance.
bool Flat(const char* what, double start, double end, double tolerance, int decimals) {
  const bool flat = end - start <= tolerance;
  std::printf("  %-30s %12.*f %12.*f %+10.*f   %s (tolerance +%.*f)\n", what, decimals, start, decimals, end, decimals,
              end - start, flat ? "flat" : "GREW", decimals, tolerance);
  return flat;
}

// --- The host ---------------------------------------------------------------

class Host {
 public:
  explicit Host(bench::SimulatedCamcorder& camcorder) : camcorder_(camcorder) {}
  ~Host() {
    Detach();
    CloseHandle(wake_);
  }
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // A new device on the camcorder, initialised, heard and counted.
  bool Attach() {
    device_ = std::make_unique<bench::TappedDevice>();
    if (!device_->Initialize()) {
      device_.reset();
      return false;
    }
    Each([&](auto& listener) { Device().AddEventListener(&listener); });
    bench::WindowMessageCounter::Count(device_->Window());
    return true;
  }

  // The device goes, as a host lets it go: listeners off, terminated, deleted.
  void Detach() {
    if (!device_) return;
    Each([&](auto& listener) { Device().RemoveEventListener(&listener); });
    device_.reset();
  }

  // Every road of one round, in order; empty when each ended well,
  // otherwise which one failed and why.
  std::string Round(int round) {
    struct Road {
      const char* name;
      std::string (Host::*run)(int);
    };
    static const Road roads[] = {
        {"cassette swap", &Host::SwapCassette},           {"direct capture", &Host::DirectCapture},
        {"batch capture", &Host::BatchCapture},           {"scan", &Host::Scan},
        {"whole-cassette capture", &Host::WholeCassette}, {"recording", &Host::Record},
        {"preview settings", &Host::PreviewSettings},     {"unplug and plug in", &Host::Replug},
    };
    for (const Road& road : roads) {
      const std::string why = (this->*road.run)(round);
      if (!why.empty()) return std::string(road.name) + ": " + why;
    }
    return {};
  }

 private:
  ZeltoVideoDevice& Device() { return *device_->operator->(); }
  zelto::sim::Camcorder& Panel() { return camcorder_.Driver().Panel(); }

  template <typename F>
  void Each(F f) {
    f(notifications_);
    f(capturing_);
    f(scanning_);
    f(scapturing_);
    f(recording_);
  }

  // Dispatches this thread's messages, as a host's thread does, until
  // `done` holds; false once `tapeSeconds` of the process clock and half a
  // minute more have passed.
  bool Await(const std::function<bool()>& done, double tapeSeconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30) +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(tapeSeconds * zelto::platform::TimeScale()));
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      MsgWaitForMultipleObjects(1, &wake_, FALSE, 500, QS_ALLINPUT);
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
    }
    return true;
  }

  // The first of `ends` heard since `from`, waited for; none when the
  // bound passed first.
  template <typename T, typename Id>
  std::optional<T> AwaitEnd(Heard<T>& heard, std::size_t from, std::initializer_list<Id> ends, double tapeSeconds) {
    std::optional<T> end;
    Await([&] { return (end = FirstOf(heard.Since(from), ends)).has_value(); }, tapeSeconds);
    return end;
  }

  bool Notified(_OxVideoDeviceNotification value, std::size_t from) {
    const auto values = notifications_.Since(from);
    return std::find(values.begin(), values.end(), value) != values.end();
  }

  std::string SwapCassette(int round) {
    if (Panel().Eject() && !Await([&] { return Device().GetMediaInfo() == OX_MEDIA_NONE; }, 30))
      return "the device never saw the cassette go";
    Panel().InsertCassette(ShortCassette(round));
    if (!Await(
            [&] {
              return Device().GetMediaInfo() == OX_MEDIA_RECORDABLE &&
                     Device().GetDeviceState() == OX_DEVICE_STATE_STOP;
            },
            30))
      return "the new cassette never stood ready";
    // The host shows the new cassette's title, read from its memory.
    OxString title;
    Device().GetTapeTitle(title);
    if (zelto::platform::ToUtf8(title.GetStdString()) != ShortCassette(round).title)
      return "the cassette memory does not name the new cassette";
    captures_ = camcorder_.CaptureFolder();  // empty again: the last cassette's files go with it
    return {};
  }

  // The first scene, played from the tape's start: captured until its
  // stream goes off at its end.
  std::string DirectCapture(int) {
    const std::size_t heardFrom = capturing_.Count(), notifiedFrom = notifications_.Count();
    _OxDirectCapturingParam param = bench::DirectParam(captures_, L"Direct");
    Device().SetDirectCapturingStructure(param);
    Device().StartDirectCapturing();
    Device().DeckPlay();
    std::optional<OxCapturingEvent> stop;
    const bool ended = Await(
        [&] {
          stop = FirstOf(capturing_.Since(heardFrom), {OX_CAPTURING_ERROR_STOP});
          return stop || Notified(OX_NOTIFY_STREAMING_OFF, notifiedFrom);
        },
        30);
    Device().AbortCapturing();
    Device().ExitDirectCapturing();
    Device().DeckStop();
    if (!ended) return "the scene's end was never heard";
    if (stop) return ErrorStop(stop->GetErrorID());
    std::vector<std::filesystem::path> files;
    const std::string wrong = FilesMade(capturing_.Since(heardFrom), OX_CAPTURING_CREATE_FILE, 1, &files);
    if (wrong.empty()) directFile_ = files.front();
    return wrong;
  }

  // The second scene from half a second in: the camcorder captures a
  // section from its in-point to the end of the scene.
  std::string BatchCapture(int) {
    const std::size_t from = capturing_.Count();
    std::vector<_OxBatchCapturingItem> items(1);
    items[0].inPoint = kSecondSceneStart / 3 + 50;  // hundredths of a second
    items[0].outPoint = kSecondSceneEnd / 3;
    Device().SetBatchCapturingList(CaptureParam(captures_, L"Batch"), items);
    Device().StartBatchCapturing();
    const auto end = AwaitEnd(capturing_, from, {OX_CAPTURING_COMPLETE_BATCH, OX_CAPTURING_ERROR_STOP}, 60);
    Device().StopBatchCapturing();
    if (!end) return "the batch never ended";
    if (end->GetEventID() == OX_CAPTURING_ERROR_STOP) return ErrorStop(end->GetErrorID());
    return FilesMade(capturing_.Since(from), OX_CAPTURING_CREATE_FILE, 1);
  }

  // The whole tape: every scene of the cassette memory, which the host
  // lists first, gets its picture.
  std::string Scan(int) {
    std::vector<_OxMICRecInfo> records;
    Device().GetMICRecInfo(records);
    if (records.size() != kSceneCount)
      return "the cassette memory lists " + std::to_string(records.size()) + " scenes, not " +
             std::to_string(kSceneCount);
    const std::size_t from = scanning_.Count();
    Device().StartScanning();
    const auto end = AwaitEnd(scanning_, from, {OX_SCANNING_COMPLETE, OX_SCANNING_ERROR_STOP, OX_SCANNING_CANCEL}, 120);
    Device().StopScanning();
    if (!end) return "the scan never ended";
    if (end->GetEventID() != OX_SCANNING_COMPLETE) return "the scan ended without completing";
    Device().GetMICRecInfo(records);
    const auto pictured = std::count_if(records.begin(), records.end(),
                                        [](const _OxMICRecInfo& r) { return r.firstPicture.GetBitmapSize() > 0; });
    if (records.size() != kSceneCount || static_cast<std::size_t>(pictured) != kSceneCount)
      return std::to_string(pictured) + " of " + std::to_string(records.size()) + " scenes have a picture, not " +
             std::to_string(kSceneCount) + " of " + std::to_string(kSceneCount);
    return {};
  }

  // Rewound and played until the stream stays off: a file a scene.
  std::string WholeCassette(int) {
    const std::size_t from = scapturing_.Count();
    Device().SetupScapturing(CaptureParam(captures_, L"Whole"));
    if (!FirstOf(scapturing_.Since(from), {OX_SCAPTURING_COMPLETE_SETUP})) return "the set-up was not reported";
    Device().StartScapturing();
    const auto end = AwaitEnd(scapturing_, from, {OX_SCAPTURING_COMPLETE, OX_SCAPTURING_ERROR_STOP}, 120);
    Device().StopScapturing();
    if (!end) return "the run never ended";
    if (end->GetEventID() == OX_SCAPTURING_ERROR_STOP) return ErrorStop(end->GetErrorID());
    return FilesMade(scapturing_.Since(from), OX_SCAPTURING_CREATE_FILE, kSceneCount);
  }

  // The direct capture's file onto the blank tape where the whole-cassette
  // run left the deck; the deck is brought to record by the library.
  std::string Record(int) {
    std::error_code ec;
    const std::uintmax_t bytes = std::filesystem::file_size(directFile_, ec);
    if (ec) return "the direct capture's file is gone";
    _OxRecordingItem item;
    item.path = OxString(zelto::platform::WidePath(directFile_).c_str());
    item.end = static_cast<std::int32_t>((bytes * 100 + 1'589'999) / 1'590'000);  // hundredths of a second
    std::vector<_OxRecordingItem> list{item};
    Device().SetRecordingList(list);
    const std::size_t from = recording_.Count();
    Device().StartBatchRecording(0, 0);  // returns once the data flows
    // The deck's start (at most 65 s), then the file's own length.
    const auto end =
        AwaitEnd(recording_, from, {OX_RECORDING_COMPLETE, OX_RECORDING_ERROR_STOP}, 70 + item.end / 100.0 * 2);
    if (!end) {
      Device().StopBatchRecording();
      return "the recording never ended";
    }
    if (end->GetEventID() == OX_RECORDING_ERROR_STOP)
      return ErrorStop(end->GetErrorID()) +
             (end->GetErrorID() == OX_RECORDING_ERROR_TRANSMIT ? " (refused, or the transmit failed)" : "");
    return {};
  }

  // Each change as the driver's preview is then told it.
  std::string PreviewSettings(int) {
    using Settings = zelto::sim::PreviewSettings;
    struct Change {
      const char* what;
      std::function<void(ZeltoVideoDevice&)> make;
      std::function<bool(const Settings&)> told;
    };
    const Change changes[] = {
        {"volume 40", [](ZeltoVideoDevice& d) { d.SetVolume(40); }, [](const Settings& s) { return s.volume == 40; }},
        {"muted", [](ZeltoVideoDevice& d) { d.SetPreviewMuting(true); },
         [](const Settings& s) { return s.volume == 0; }},
        {"unmuted", [](ZeltoVideoDevice& d) { d.SetPreviewMuting(false); },
         [](const Settings& s) { return s.volume == 100; }},
        {"hidden", [](ZeltoVideoDevice& d) { d.SetPreviewMonitorVisibility(false); },
         [](const Settings& s) { return s.mode == 0u; }},
        {"shown", [](ZeltoVideoDevice& d) { d.SetPreviewMonitorVisibility(true); },
         [](const Settings& s) { return s.mode == 2u; }},
        {"low resolution", [](ZeltoVideoDevice& d) { d.SetVideoResolution(OX_RESOLUTION_LOW); },
         [](const Settings& s) { return s.quality == 1u; }},
        {"deinterlaced", [](ZeltoVideoDevice& d) { d.SetVideoDecodeDeinterlaceEnable(true); },
         [](const Settings& s) { return s.quality == 7u && s.deinterlace; }},
        {"not deinterlaced", [](ZeltoVideoDevice& d) { d.SetVideoDecodeDeinterlaceEnable(false); },
         [](const Settings& s) { return s.quality == 7u && !s.deinterlace; }},
    };
    for (const Change& change : changes) {
      change.make(Device());
      if (!change.told(Panel().Preview())) return std::string("the preview was not told: ") + change.what;
    }
    return {};
  }

  // Unplugged, the device is let go once it shows the camcorder gone; the
  // factory finds nothing until it is plugged in again, then a new device
  // is initialised on it.
  std::string Replug(int) {
    Panel().RemoveDevice();
    const bool gone = Await([&] { return Device().GetDeviceState() == OX_DEVICE_STATE_UNKNOWN; }, 30);
    Detach();
    if (!gone) return "the device never showed the camcorder gone";
    if (std::unique_ptr<ZeltoVideoDevice> found(ZeltoVideoDeviceFactory::GetZeltoVideoDevice()); found)
      return "the factory found the unplugged camcorder";
    Panel().ReconnectDevice();
    if (!Attach()) return "a new device could not be initialised on the camcorder plugged in again";
    if (!Await([&] { return Device().GetDeviceState() == OX_DEVICE_STATE_STOP; }, 30))
      return "the new device never saw the deck stand";
    return {};
  }

  bench::SimulatedCamcorder& camcorder_;
  const HANDLE wake_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  Heard<_OxVideoDeviceNotification> notifications_{wake_};
  Heard<OxCapturingEvent> capturing_{wake_};
  Heard<OxScanningEvent> scanning_{wake_};
  Heard<OxScapturingEvent> scapturing_{wake_};
  Heard<OxRecordingEvent> recording_{wake_};
  std::unique_ptr<bench::TappedDevice> device_;
  std::filesystem::path captures_;
  std::filesystem::path directFile_;
};

}  // namespace

int main(int argc, char** argv) {
  if (const std::string problem = zelto::platform::TimeScaleProblem(); !problem.empty()) {
    std::fprintf(stderr, "%s\n", problem.c_str());
    return 1;
  }
  const int rounds = bench::Rounds(argc, argv, 20);
  bench::SimulatedCamcorder camcorder("soak", ShortCassette(0));
  if (!camcorder.Ok()) return 1;
  auto host = std::make_unique<Host>(camcorder);
  if (!host->Attach()) {
    std::fprintf(stderr, "the device could not be initialised\n");
    return 1;
  }
  std::printf("soak: %d rounds on the simulated camcorder, clock scale %g\n", rounds, zelto::platform::TimeScale());

  std::optional<bench::ProcessFigures> start;
  std::uint64_t firstRoundMessages = 0, lastRoundMessages = 0;
  const long long began = bench::NowNs();
  for (int round = 1; round <= rounds; ++round) {
    const std::uint64_t messagesBefore = bench::WindowMessageCounter::Handled();
    const long long roundBegan = bench::NowNs();
    if (const std::string failed = host->Round(round); !failed.empty()) {
      std::printf("round %d failed: %s\n", round, failed.c_str());
      std::fflush(stdout);
      return 1;
    }
    lastRoundMessages = bench::WindowMessageCounter::Handled() - messagesBefore;
    if (round == 1) {
      firstRoundMessages = lastRoundMessages;
      start = bench::ReadProcessFigures();
    }
    std::printf("round %d: %.1f s", round, static_cast<double>(bench::NowNs() - roundBegan) / 1e9);
    if (bench::WindowMessageCounter::Complete())
      std::printf(", %llu window messages", static_cast<unsigned long long>(lastRoundMessages));
    // One quick look: the trend, for a reader; the verdict takes its own.
    if (const std::optional<bench::ProcessFigures> now = bench::ReadProcessFigures(1))
      std::printf(", %.1f MiB resident, %ld descriptors, %ld threads", now->residentMiB, now->descriptors,
                  now->threads);
    std::printf("\n");
    std::fflush(stdout);
  }
  const std::optional<bench::ProcessFigures> end = bench::ReadProcessFigures();
  std::printf("%d rounds in %.1f s\n", rounds, static_cast<double>(bench::NowNs() - began) / 1e9);

  bool flat = true;
  std::printf("  %-30s %12s %12s %10s\n", "after round", "1", std::to_string(rounds).c_str(), "change");
  if (start && end) {
    flat &= Flat("resident memory, MiB", start->residentMiB, end->residentMiB,
                 kResidentToleranceMiB + kResidentToleranceMiBPerRound * (rounds - 1), 1);
    flat &= Flat("open file descriptors", static_cast<double>(start->descriptors),
                 static_cast<double>(end->descriptors), kDescriptorTolerance, 0);
    flat &=
        Flat("threads", static_cast<double>(start->threads), static_cast<double>(end->threads), kThreadTolerance, 0);
  } else {
    std::printf("  resident memory, open handles, threads: n/a on this system\n");
  }
  if (bench::WindowMessageCounter::Complete()) {
    const double messageTolerance = std::max(static_cast<double>(kMessageToleranceFloor),
                                             static_cast<double>(firstRoundMessages) * kMessageToleranceShare);
    flat &= Flat("window messages in the round", static_cast<double>(firstRoundMessages),
                 static_cast<double>(lastRoundMessages), messageTolerance, 0);
  }
  host.reset();
  std::printf(flat ? "every figure stayed flat\n" : "a figure grew beyond its tolerance\n");
  return flat ? 0 : 2;
}
