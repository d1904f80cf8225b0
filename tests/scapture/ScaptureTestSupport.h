// What the scapturing tests share: a deck on the fake driver that follows
// the run's commands and counts its polls, and a listener that wakes a
// waiting thread.
//
// Counting polls: a run reads the media information once at the end of
// every wait (waitStep), and nothing else reads it while a run goes, so the
// reads are the run's polls. Polls after the play command are the capture
// loop's: poll n of the loop is the nth read after it.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>

#include "tests/device/DeviceTestSupport.h"

namespace scaptest {

// The poll period and stream time-out the tests give the host settings. On
// Windows the clock cannot be sped up, so the figures are a tenth there;
// the idle rule compares their product and ratio, which stay the same.
#ifdef _WIN32
constexpr DWORD kPoll = 50;
constexpr DWORD kStreamTimeOut = 300;
#else
constexpr DWORD kPoll = 500;
constexpr DWORD kStreamTimeOut = 3000;
#endif
// The process clock runs this much faster (POSIX only).
constexpr double kScaptureTimeScale = 0.01;

// A set-up into `folder`: files Tape-NNN-01.zlt of at most 100 MiB.
inline Orvex::_OxBatchCapturingParam ScapturingParam(const Orvex::OxString& folder) {
  Orvex::_OxBatchCapturingParam param;
  param.folderPath = folder;
  param.firstFileNumber = 1;
  param.fileBaseName = Orvex::OxString(L"Tape");
  param.splitKind = 1;
  param.splitSizeMegabytes = 100;
  return param;
}

class ScriptedDeck {
public:
  // The deck reports rewinding for `rewindPolls` state reads after a rewind
  // command, then stop; play and stop commands take effect at once.
  explicit ScriptedDeck(devtest::FakeDriver& driver) : driver(driver) {
    driver.onCommand = [this](DWORD command) { OnCommand(command); };
    driver.onStatus = [this](DWORD kind) { OnStatus(kind); };
  }
  ~ScriptedDeck() {
    driver.onCommand = nullptr;
    driver.onStatus = nullptr;
  }
  ScriptedDeck(const ScriptedDeck&) = delete;
  ScriptedDeck& operator=(const ScriptedDeck&) = delete;

  // Set before the run starts. Each runs on the thread that polls.
  int rewindPolls = 0;
  // A poll of the rewind and play waits (1, 2, ...).
  std::function<void(int poll)> beforePlay;
  // A poll of the capture loop (1, 2, ...), before the loop looks at it.
  std::function<void(int poll)> capturing;

  // For the next run; a rewind command does the same.
  void Restart() {
    playedAt = -1;
    stateReadsWhilePlaying = 0;
  }

  int Polls() const { return polls.load(); }
  int CapturePolls() const { return playedAt.load() < 0 ? 0 : polls.load() - playedAt.load(); }
  // Deck-state reads since the play command.
  int StateReadsWhileCapturing() const { return stateReadsWhilePlaying.load(); }

private:
  void OnCommand(DWORD command) {
    if (command == DECK_COMMAND_REWIND) {
      Restart();
      rewindLeft = rewindPolls;
      driver.statusCode[DECK_STATUS_DECK_STATE] = rewindPolls > 0 ? DECK_STATE_REWIND : DECK_STATE_STOP;
    } else if (command == DECK_COMMAND_PLAY) {
      playedAt = polls.load();
      driver.statusCode[DECK_STATUS_DECK_STATE] = DECK_STATE_PLAY;
    } else if (command == DECK_COMMAND_STOP) {
      driver.statusCode[DECK_STATUS_DECK_STATE] = DECK_STATE_STOP;
    }
  }
  void OnStatus(DWORD kind) {
    if (kind == DECK_STATUS_DECK_STATE) {
      if (playedAt.load() >= 0) ++stateReadsWhilePlaying;
      if (rewindLeft > 0 && --rewindLeft == 0) driver.statusCode[DECK_STATUS_DECK_STATE] = DECK_STATE_STOP;
      return;
    }
    if (kind != DECK_STATUS_MEDIA_INFO) return;
    const int poll = ++polls;
    if (playedAt.load() < 0) {
      if (beforePlay) beforePlay(poll);
    } else if (capturing) {
      capturing(poll - playedAt.load());
    }
  }

  devtest::FakeDriver& driver;
  std::atomic<int> polls{0};
  std::atomic<int> playedAt{-1};
  std::atomic<int> stateReadsWhilePlaying{0};
  std::atomic<int> rewindLeft{0};
};

// Records scapturing events and signals `wake` at each.
class ScapturingRecorder : public devtest::Recorder<Orvex::OxScapturingEvent> {
public:
  ScapturingRecorder() : wake(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
  ~ScapturingRecorder() override { CloseHandle(wake); }
  void OnEvent(const Orvex::OxScapturingEvent& event) override {
    Recorder::OnEvent(event);
    if (onEvent) onEvent(event);
    SetEvent(wake);
  }
  std::vector<Orvex::_OxScapturingEventID> Ids() {
    std::vector<Orvex::_OxScapturingEventID> ids;
    for (const Orvex::OxScapturingEvent& event : Events()) ids.push_back(event.GetEventID());
    return ids;
  }
  std::vector<Orvex::_OxCapturingErrorID> Errors() {
    std::vector<Orvex::_OxCapturingErrorID> errors;
    for (const Orvex::OxScapturingEvent& event : Events())
      if (event.GetEventID() == Orvex::OX_SCAPTURING_ERROR_STOP) errors.push_back(event.GetErrorID());
    return errors;
  }

  HANDLE wake;
  // Runs on the reporting thread after the event is recorded.
  std::function<void(const Orvex::OxScapturingEvent&)> onEvent;
};

}  // namespace scaptest
