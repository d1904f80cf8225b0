// A fault of the simulator's own on one of its threads never ends the
// process: it becomes what a real driver would report. A capture's thread
// ends its capture with the write error (its file closed and reported); the
// camcorder's thread takes the camcorder off the bus; a call served in an
// apartment answers as a faulting server.
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "platform/PlatformExtras.h"
#include "simulator/Apartment.h"
#include "simulator/CaptureSession.h"
#include "tests/EscapedExceptionCheck.h"
#include "tests/simulator/SimTestSupport.h"
#include "tests/TestFolder.h"

using namespace zelto::sim;
using namespace sim_test;
namespace zp = zelto::platform;

namespace {

// A deck that plays a 4 s scene a tenth of a second at a look, and whose
// fourth look fails, with a file of the capture open.
class FailingDeck final : public CaptureDeck {
 public:
  FailingDeck() {
    Scene scene;
    scene.startTrack = 0;
    scene.endTrack = 4 * kTracksPerSecond;
    tape_.scenes = {scene};
  }
  ~FailingDeck() { CloseHandle(emitted_); }

  View Look() override {
    if (++looks_ == 4) throw std::runtime_error("the deck model broke");
    View view;
    view.mode = TransportMode::Play;
    view.cassette = tape_;
    view.played = {{static_cast<double>(track_), static_cast<double>(track_ + 30)}};
    track_ += 30;
    view.track = track_;
    return view;
  }
  HRESULT Seek(std::uint32_t) override { return S_OK; }
  void Emit(DWORD code, LPARAM argument) override {
    std::lock_guard guard(lock_);
    events_.emplace_back(code, argument);
    SetEvent(emitted_);
  }
  FileFaults NextFileFaults() override { return {}; }
  std::uint64_t DiskRoom(std::uint64_t wanted) override { return wanted; }
  std::uint32_t DropoutPass(const Dropout&) override { return 0; }
  std::shared_ptr<DamageLog> Damage() override { return nullptr; }

  // Waits until an event with this code has been emitted.
  bool WaitFor(DWORD code) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < deadline) {
      {
        std::lock_guard guard(lock_);
        for (const auto& e : events_)
          if (e.first == code) return true;
      }
      WaitForSingleObject(emitted_, 1000);
    }
    return false;
  }
  std::vector<std::pair<DWORD, LPARAM>> Events() {
    std::lock_guard guard(lock_);
    return events_;
  }

 private:
  Cassette tape_;
  int looks_ = 0;  // the capture's thread's own
  std::uint32_t track_ = 0;
  std::mutex lock_;
  std::vector<std::pair<DWORD, LPARAM>> events_;
  HANDLE emitted_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
};

TEST(ThreadFailuresTest, ACaptureWhoseThreadFailsEndsWithTheWriteErrorAndKeepsItsFile) {
  const std::filesystem::path folder =
      zelto::testing::TestFolder("zelto-thread-failures") / zp::PathFromUtf8("dossier-\xc3\xa9t\xc3\xa9");
  zelto::testing::RemoveFolder(folder.parent_path());
  std::filesystem::create_directories(folder);
  FailingDeck deck;
  CaptureSettings settings;
  settings.folder = folder;
  settings.options = CAPTURE_OPTION_WRITE_FILES | CAPTURE_OPTION_REPORT_CREATED | CAPTURE_OPTION_REPORT_COMPLETE;
  settings.directName = CaptureFileName::Parse(L"caf\u00e9-%02d.zlt");
  ASSERT_TRUE(settings.directName);
  {
    CaptureSession session(deck, settings, CaptureSession::Kind::Direct);
    ASSERT_TRUE(deck.WaitFor(DRIVER_EVENT_DEVICE_ERROR));
    EXPECT_TRUE(session.AwaitEnd(20000));
    EXPECT_TRUE(session.Finished());
  }
  const auto events = deck.Events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].first, static_cast<DWORD>(DRIVER_EVENT_FILE_CREATED));
  EXPECT_EQ(events[1].first, static_cast<DWORD>(DRIVER_EVENT_FILE_COMPLETE));
  const auto* record = reinterpret_cast<const DRIVER_FILE_RECORD*>(events[1].second);
  const std::filesystem::path file = folder / zp::PathFromUtf8("caf\xc3\xa9-01.zlt");
  EXPECT_EQ(zp::NativePath(record->path), file);
  EXPECT_EQ(events[2], std::make_pair(static_cast<DWORD>(DRIVER_EVENT_DEVICE_ERROR), DRIVER_ERROR_CAPTURE_WRITE));
  // Three looks of a tenth of a second each, closed as a whole file.
  EXPECT_GT(std::filesystem::file_size(file), 0u);
  zelto::testing::ExpectEscapedExceptions(1);
  std::error_code ignored;
  zelto::platform::RemoveTree(folder.parent_path(), ignored);
}

TEST(ThreadFailuresTest, ACallThatThrowsInAnApartmentAnswersAsAFaultingServer) {
  const std::shared_ptr<Apartment> apartment = Apartment::Make();
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HRESULT answer = S_FALSE;
  std::thread caller([&] {
    answer = apartment->Call([]() -> HRESULT { throw std::runtime_error("the driver broke"); });
    SetEvent(done);
  });
  // The owner serves the call from its queue.
  while (MsgWaitForMultipleObjects(1, &done, FALSE, 20000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
  caller.join();
  EXPECT_EQ(answer, RPC_E_SERVERFAULT);
  zelto::testing::ExpectEscapedExceptions(1);
  apartment->Close();
  CloseHandle(done);
}

}  // namespace
