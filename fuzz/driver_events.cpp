// Feeds bytes as driver events and their records to the message window of an
// initialised device on the simulated camcorder (ZeltoVideoDeviceMessageReceiver,
// then the device's handlers): byte 0 counts the events, five bytes each
// give a code and its argument, and what follows is the bitmap a thumbnail
// event points at and the name a file event carries. One device serves every
// input and is reset between them (Harness::Reset). Every event is
// dispatched, in order, and the window answers the next.
#include <array>
#include <atomic>
#include <cstring>
#include <deque>
#include <memory>

#include "bench/BenchDevice.h"
#include "fuzz/FuzzSupport.h"
#include "zelto/capture/ThumbnailBitmap.h"

namespace {

// Everything a posted event points at, kept until its inputs' events are
// dispatched (and a few inputs longer: a late event of the camcorder's own
// may let a wait end early).
struct Records {
  std::vector<DRIVER_EVENT_RECORD> events;
  std::vector<std::uint8_t> bitmap;
  std::vector<Orvex::_THUMBNAIL_DATA> thumbnails;  // one an event, reserved: never moved
  std::wstring name;
  DRIVER_FILE_RECORD file{};
};

// The library's own pauses run at a hundred-thousandth of their length: a
// recording's stop, which any recording event makes, pauses a second. The
// simulator keeps its time in 64 bits and the library's tick arithmetic
// wraps as it does on Windows, so the faster clock changes nothing else.
// Every wait's time-out runs on that clock too: the harness's wait for the
// window is half a minute of real time, so that a machine under load is not
// taken for a window that stopped.
constexpr double kTimeScale = 0.00001;
constexpr DWORD kAnswerWait = static_cast<DWORD>(30000 / kTimeScale);
static_assert(kAnswerWait < INFINITE);

class Harness {
 public:
  Harness() : camcorder_("fuzz-events") {
    zelto::platform::SetTimeScaleForTesting(kTimeScale);
    FUZZ_CHECK(camcorder_.Ok() && device_.Initialize(), "no device on the simulated camcorder");
    device_->AddEventListener(&listener_);
  }

  void Run(const std::uint8_t* data, std::size_t size) {
    auto records = std::make_unique<Records>();
    const std::size_t count = size ? data[0] % 65 : 0;
    std::size_t at = 1;
    struct Posted {
      DWORD code;
      std::uint32_t argument;
    };
    std::vector<Posted> posted;
    for (std::size_t i = 0; i < count && at + 5 <= size; ++i, at += 5) {
      std::uint32_t argument = 0;
      std::memcpy(&argument, data + at + 1, 4);
      posted.push_back({static_cast<DWORD>(data[at] % 40), argument});
    }
    // The rest: a bitmap of at least the length its header claims, so that
    // what the library copies is there; a file name from the same bytes.
    std::vector<std::uint8_t> rest(data + std::min(at, size), data + size);
    rest.resize(std::max<std::size_t>(rest.size(), 124));
    rest.resize(std::max(rest.size(), zelto::capture::PackedBitmapLength(rest.data())));
    records->bitmap = std::move(rest);
    records->thumbnails.reserve(posted.size());
    for (std::size_t i = at; i < size && records->name.size() < 300; ++i) records->name += static_cast<wchar_t>(data[i]);
    records->file.path = records->name.c_str();

    std::size_t expected = 1;  // the closing camcorder-mode event
    // Every thumbnail event points at the same bitmap: kept by all or none.
    const bool kept = zelto::capture::PackedBitmapLength(records->bitmap.data()) != 0;
    bool thumbnails = false;
    records->events.reserve(posted.size() + 1);
    for (const Posted& p : posted) records->events.push_back({0, p.code});
    records->events.push_back({0, DRIVER_EVENT_CAMCORDER_MODE});
    const long long seen = modes_.load();
    for (std::size_t i = 0; i < posted.size(); ++i) {
      LPARAM argument = static_cast<LPARAM>(posted[i].argument);
      // A file event carries a file record, or nothing.
      if (posted[i].code == 4)
        argument = posted[i].argument % 2 == 0 ? reinterpret_cast<LPARAM>(&records->file) : 0;
      if (posted[i].code == 19) {
        records->thumbnails.push_back({records->bitmap.data(), posted[i].argument});
        argument = reinterpret_cast<LPARAM>(&records->thumbnails.back());
        thumbnails = kept;
      }
      if (posted[i].code == DRIVER_EVENT_CAMCORDER_MODE) ++expected;
      FUZZ_CHECK(bench::PostDriverEvent(device_.Window(), &records->events[i], argument), "a post refused");
    }
    FUZZ_CHECK(bench::PostDriverEvent(device_.Window(), &records->events.back()), "a post refused");
    while (modes_.load() < seen + static_cast<long long>(expected))
      FUZZ_CHECK(WaitForSingleObject(progress_, kAnswerWait) == WAIT_OBJECT_0, "the window stopped answering");
    Reset(thumbnails);
    kept_.push_back(std::move(records));
    if (kept_.size() > 4) kept_.pop_front();
  }

 private:
  // What one input leaves that would make the next slower: the thumbnails
  // a scan keeps (merged into the cassette memory when it ends), and the
  // batch's part count, which every file event raises and every section's
  // end then walks, part by part, on the disk. A host's new batch list
  // starts the count again.
  void Reset(bool thumbnails) {
    if (thumbnails) device_->StopScanning();
    std::vector<Orvex::_OxBatchCapturingItem> none;
    device_->SetBatchCapturingList({}, none);
  }

  bench::SimulatedCamcorder camcorder_;
  bench::TappedDevice device_;
  std::atomic<long long> modes_{0};
  HANDLE progress_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  bench::CallbackListener<Orvex::_OxVideoDeviceNotification> listener_{
      [this](const Orvex::_OxVideoDeviceNotification& value) {
        if (value != Orvex::OX_NOTIFY_CAMCORDER_MODE) return;
        modes_.fetch_add(1);
        SetEvent(progress_);
      }};
  std::deque<std::unique_ptr<Records>> kept_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Made on first use, on libFuzzer's thread, and never taken down: the
  // process ends with the run.
  static Harness* harness = new Harness;
  harness->Run(data, size);
  return 0;
}
