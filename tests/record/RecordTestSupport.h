// What the recording tests share: an initialised device on the fake driver
// with a faster process clock, a deck that can be told when it reaches
// record pause, and the host's recording events written into the driver's
// journal, so that one list shows the driver's calls and the host's events
// in the order they came.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "host/devevents/OxRecordingEvent.h"
#include "platform/PlatformExtras.h"
#include "tests/device/DeviceTestSupport.h"

namespace recordtest {

// The process clock runs this much faster (POSIX only; Windows keeps 1, so
// there a batch start really takes its 5.4 s and more).
constexpr double kTimeScale = 0.01;
// Windows's GetTickCount moves in steps of about 16 ms.
#ifdef _WIN32
constexpr DWORD kTickSlack = 20;
#else
constexpr DWORD kTickSlack = 0;
#endif

inline std::wstring EventText(const Orvex::OxRecordingEvent& event) {
  switch (event.GetEventID()) {
    case Orvex::OX_RECORDING_START: return L"host.RecordingStart";
    case Orvex::OX_RECORDING_DATA_START: return L"host.DataStart";
    case Orvex::OX_RECORDING_COMPLETE_SECTION: return L"host.CompleteSection";
    case Orvex::OX_RECORDING_COMPLETE: return L"host.Complete";
    case Orvex::OX_RECORDING_ERROR_STOP: return L"host.ErrorStop(" + std::to_wstring(event.GetErrorID()) + L")";
  }
  return L"host.?";
}

// Writes what the host hears into the journal and keeps the threads it
// heard it on.
class JournalListener : public devtest::Recorder<Orvex::OxRecordingEvent> {
public:
  explicit JournalListener(devtest::CallLog& journal) : journal(journal) {}
  void OnEvent(const Orvex::OxRecordingEvent& event) override {
    journal.Add(EventText(event));
    Recorder::OnEvent(event);
  }

private:
  devtest::CallLog& journal;
};

class RecordTest : public devtest::DeviceTestBase {
protected:
  void SetUp() override {
    DeviceTestBase::SetUp();
    savedScale = zelto::platform::TimeScale();
    zelto::platform::SetTimeScaleForTesting(kTimeScale);
    device = MakeDevice(driver);
    ASSERT_TRUE(Initialize(*device));
    device->AddEventListener(&heard);
    driver.journal.Take();
    driver.TakeCommands();
  }
  void TearDown() override {
    if (device) {
      device->RemoveEventListener(&heard);
      device->TerminateDevice();
      device.reset();
    }
    zelto::platform::SetTimeScaleForTesting(savedScale);
    DeviceTestBase::TearDown();
  }

  // Stores a one-item list.
  void List(const wchar_t* path, std::int32_t start, std::int32_t end) {
    std::vector<Orvex::_OxRecordingItem> items(1);
    items[0].path = Orvex::OxString(path);
    items[0].start = start;
    items[0].end = end;
    device->SetRecordingList(items);
  }

  // The deck as the driver reports it, read by the device now.
  void DeckIs(DWORD state) {
    driver.statusCode[DECK_STATUS_DECK_STATE] = state;
    device->UpdateDeviceState();
  }

  // From the record-pause command on, the deck reports record pause at the
  // `reads`th read of its state; record once told to record.
  void DeckPausesAfter(int reads) {
    readsLeft = -1;
    driver.onCommand = [this, reads](DWORD command) {
      if (command == DECK_COMMAND_RECORD_PAUSE) readsLeft = reads;
      if (command == DECK_COMMAND_RECORD) driver.statusCode[DECK_STATUS_DECK_STATE] = DECK_STATE_RECORD;
    };
    driver.onStatus = [this](DWORD kind) {
      if (kind == DECK_STATUS_DECK_STATE && readsLeft > 0 && --readsLeft == 0)
        driver.statusCode[DECK_STATUS_DECK_STATE] = DECK_STATE_RECORD_PAUSE;
    };
  }

  // Posts a driver event and waits until the host has heard `count` events.
  void PostAndHear(DWORD code, std::size_t count, LPARAM argument = 0) {
    ASSERT_TRUE(driver.Post(code, argument)) << code;
    ASSERT_TRUE(heard.WaitForCount(count)) << "event " << code << " not heard";
  }

  double savedScale = 1.0;
  devtest::FakeDriver driver;
  std::unique_ptr<ZeltoVideoDevice> device;
  JournalListener heard{driver.journal};
  std::atomic<int> readsLeft{-1};
};

// What stopping a transmit tells the driver.
inline const std::vector<std::wstring> kTransmitStop{L"transmit.Stop", L"transmit.SetFile()",
                                                    L"transmit.SetMargins(0,0)"};

inline std::vector<std::wstring> Concat(std::vector<std::wstring> a, const std::vector<std::wstring>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace recordtest
