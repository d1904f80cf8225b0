// The worker of one scapturing run: it enters an apartment of its own,
// takes the driver's smart control and stream receive through a
// ZeltoVideoDeviceSmartControlBridge, rewinds the tape, plays it, starts
// the driver's capture into numbered files and watches the stream until it
// has stayed off for longer than the host's scapture stream time-out. Every
// end of a run is reported to the receive component's scapturing listeners.
//
// The run, on its own thread:
//   rewind: DeckFastRewind, Sleep(3000), then waitStep(poll) until the deck
//     reports stop;
//   play: waitStep(poll), DeckPlay;
//   capture: StartCapturing, then for ever waitStep(poll), the play check
//     (the first six polls check nothing, every later one wants play), and
//     the stream rule: while streaming, the captured time is the tick count
//     since the stream first came on; while not, once the stream has been
//     on, the run ends when poll x idle polls (32-bit product) exceeds the
//     time-out. A stream that never comes on never times out.
//   waitStep(timeout) waits for the stop, stream-on and stream-off events
//     (in that order) and then ends the run when the media information is 2.
// How it ends (ZeltoVideoDeviceAutoCapturingException codes):
//   1 stopped, 3 stream ended or media information 2: abort, 100 ms, deck
//     stop, NotifyCompleteBatchScapturing;
//   2 deck not playing: abort, 100 ms, deck stop, NotifyScapturingErrorStop 7;
//   the bridge has no controller or stream receive (its apartment or an
//     interface could not be had): NotifyScapturingErrorStop 7, no abort, no
//     deck stop. So does any other failure inside the run.
//
// Threads. Start, Stop, Abandon and the getters may be called from any
// thread; the run alone touches the bridge, the streaming flag and the
// counters it writes. The three events are auto-reset, so each signal is
// taken by one wait.
//
// Decisions (Windows apartments, and what the run must not outlive):
// - Stop only signals the stop event. It does not abort through the bridge:
//   the bridge's stream receive is the worker's proxy, which answers
//   RPC_E_WRONG_THREAD to the host's thread, and the run aborts the capture
//   itself as soon as its wait sees the stop. It is also why Stop can never
//   touch a bridge that the run is deleting.
// - The end of a run: the bridge is deleted first (its apartment left, its
//   proxies released), then the host is told, then the finished event is
//   set. The report is the run's last use of anything but this object: a
//   listener may start the next run, end the device, or stop this one.
// - Abandon ends a run that nobody tracks any more (the device was removed)
//   like a stop, but without a report: the host has been told already.
// - WaitUntilFinished, from the thread that started the run (the host's,
//   whose apartment the worker's proxies lead to), dispatches that thread's
//   messages while it waits; see MessagePumpingWait.h. From the run's own
//   thread it cannot wait and returns false at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "host/devevents/EventNotifications.h"
#include "host/foundation/OxDeviceTypes.h"
#include "host/runtime/KelThread.h"
#include "zelto/deck/ZeltoEvent.h"
#include "zelto/scapture/ZeltoVideoDeviceAutoCapturingException.h"

class ZeltoVideoDeviceSmartControlBridge;

// One of the run's three events: auto-reset, not signalled at first.
class ZeltoVideoDeviceAutoCapturingEvent : public ZeltoEvent {
public:
  ZeltoVideoDeviceAutoCapturingEvent() : ZeltoEvent(false, false) {}
};

class ZeltoVideoDeviceAutoCapturing : public KelThread {
public:
  // The notification source must outlive the run; the receive component
  // waits for its runs before it lets the source go.
  explicit ZeltoVideoDeviceAutoCapturing(Orvex::ScapturingEventNotification* notification);
  // Waits for a run still going (never from the run itself).
  ~ZeltoVideoDeviceAutoCapturing() override;

  void SetCapturingParam(const Orvex::_OxDirectCapturingParam& param);
  // Zeroes the captured time and starts the thread. False when the thread
  // or one of the events could not be made; the object is then finished.
  bool Start();
  void Stop();
  void Abandon();
  void StreamingOn();
  void StreamingOff();
  std::uint64_t GetCapturedMilliseconds() const;

  // The run has let the driver go and is about to report, or has ended.
  bool IsEnding() const { return ending.load(); }
  bool IsFinished() const;
  // True when the caller is the run's own thread.
  bool OnRunThread() const;
  // Waits until the run has ended and its thread is gone; see Decisions.
  bool WaitUntilFinished();

protected:
  void run() override;

private:
  enum class Outcome { none, complete, deckError };

  void waitStep(DWORD timeout);
  void rewind();
  void startPlaying();
  void captureLoop();
  void playCheck();
  Outcome endCapture(std::int32_t code);
  void report(Outcome outcome);

  Orvex::ScapturingEventNotification* scapturingNotification;
  bool streaming = false;
  ZeltoVideoDeviceAutoCapturingEvent stopEvent;
  ZeltoVideoDeviceAutoCapturingEvent streamOnEvent;
  ZeltoVideoDeviceAutoCapturingEvent streamOffEvent;
  std::unique_ptr<ZeltoVideoDeviceSmartControlBridge> bridge;
  std::int32_t playCheckCount = 0;
  std::atomic<std::uint64_t> capturedMilliseconds{0};
  Orvex::_OxDirectCapturingParam capturingParam;

  // Manual-reset: set once the run has reported and touches nothing more.
  ZeltoEvent finishedEvent{true, false};
  std::atomic<bool> ending{false};
  std::atomic<bool> abandoned{false};
  // GetCurrentThreadId of the thread that started the run, and
  // KelCurrentThreadId of the run's own thread (0 until it runs).
  std::atomic<DWORD> ownerThread{0};
  std::atomic<std::uint64_t> runThread{0};
};
