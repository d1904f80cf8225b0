#include "app/DeckCommand.h"

#include <memory>
#include <sstream>

#include "app/DeckButtons.h"
#include "app/JobLock.h"
#include "app/EventPump.h"
#include "app/ExitCode.h"
#include "app/Interrupt.h"
#include "app/Names.h"
#include "app/Session.h"
#include "app/StatusCommand.h"
#include "zelto/device/ZeltoVideoDevice.h"

namespace zelto::app {

using namespace Orvex;

namespace {

std::string SpanText(std::chrono::milliseconds span) {
  std::ostringstream text;
  text << static_cast<double>(span.count()) / 1000.0 << " s";
  return text.str();
}

bool Winds(_OxVideoDeviceState state) {
  return state == OX_DEVICE_STATE_REWIND || state == OX_DEVICE_STATE_FAST_FORWARD;
}

class DeckRun {
public:
  DeckRun(Session& session, const DeckOptions& options, Console& console)
      : session(session), device(session.Device()), options(options), console(console),
        // Quiet: the command reports the outcome, not every step on the way.
        pump(device, session.Feed(), console, false),
        limit(options.timeoutSeconds
                  ? std::chrono::milliseconds(static_cast<long long>(*options.timeoutSeconds * 1000.0))
                  : DefaultDeckTimeout(options.action)) {}

  int Run() {
    // Whatever the device announced while it started is old news.
    pump.Drain();
    const _OxVideoDeviceState before = device.GetDeviceState();
    // A seek puts the deck in a state the library takes no button in;
    // stopping ends the seek first instead of being refused.
    if (options.action == DeckAction::Stop && before == OX_DEVICE_STATE_UNKNOWN &&
        session.SeekUnderWay().value_or(device.GetCamcorderMode() == OX_CAMCORDER_MODE_DECK &&
                                        device.GetMediaInfo() != OX_MEDIA_NONE))
      return StopSeek();
    // Nor does it take a button in record pause (which it reads for
    // recording too); a record pause is ended as the library ends a
    // recording. One left by a recording whose program is gone would
    // otherwise keep the deck until the camcorder gives up by itself.
    if (options.action == DeckAction::Stop && before == OX_DEVICE_STATE_RECORD_PAUSE &&
        !session.RecordingUnderWay().value_or(false))
      return StopRecordPause();
    const std::string refusal =
        DeckRefusal(options.action, before, device.GetMediaInfo(), device.GetCamcorderMode());
    if (!refusal.empty()) return Fail(kExitRefused, refusal);
    if (options.action == DeckAction::Seek) {
      NotePress();
      return Seek();
    }
    // The deck takes play there and stops at once: nothing would come of it.
    if (options.action == DeckAction::Play || options.action == DeckAction::Slow) {
      if (const std::string end = TapeEndText(session); !end.empty())
        return Fail(kExitRefused, end + ": nothing is left to play; rewind or seek first");
    }

    const _OxVideoDeviceState target = *DeckTarget(options.action, before);
    if (Winds(target) && AtEndOfWind(target)) {
      console.Line(std::string("deck: already at the ") + (target == OX_DEVICE_STATE_REWIND ? "start" : "end") +
                   " of the tape" + Where() + "; " + DeviceStateName(before));
      return kExitOk;
    }
    NotePress();
    PressDeckButton(device, options.action);
    if (int code = Saved(); code != kExitOk) return code;
    if (!options.wait) {
      console.Line(std::string(DeckActionWord(options.action)) + " sent (deck was " + DeviceStateName(before) + ")");
      return kExitOk;
    }
    if (Winds(target)) return AwaitWindEnd(target);
    const EventPump::Outcome outcome = pump.UntilState(target, limit);
    if (outcome == EventPump::Outcome::Done) {
      console.Line("deck: " + DeviceStateName(target) + " at " + TimeCodeText(device.GetTimecode()));
      return kExitOk;
    }
    return Unfinished(outcome, "the deck did not reach " + DeviceStateName(target),
                      DeckActionWord(options.action) + std::string(" to ") + DeviceStateName(target));
  }

private:
  int Seek() {
    const unsigned track = options.track;
    if (const std::optional<TapePosition> tape = session.Position(); tape && track > tape->lengthTracks)
      return Fail(kExitRefused, "ATN " + std::to_string(track) + " is beyond the end of the tape (ATN 0 to " +
                                    std::to_string(tape->lengthTracks) + ")");
    pump.NewSearch();
    if (!device.StartSeekATN(track)) return Fail(kExitDeviceFailed, "the deck took no seek");
    if (int code = Saved(); code != kExitOk) return code;
    if (!options.wait) {
      console.Line("seek to ATN " + std::to_string(track) + " sent");
      return kExitOk;
    }
    // The library reports a found scene when the deck plays after the
    // seek, and the end of the scene's play when it stops: a stop with no
    // scene found before it is a search that found nothing.
    bool found = false;
    bool ended = false;
    const std::string what = "seek to ATN " + std::to_string(track);
    const EventPump::Outcome outcome = pump.Until(
        [&](const FeedEvent* e) {
          found = found || (e && e->Is(OX_SCENE_SEARCH_COMPLETE));
          ended = e && e->Is(OX_SCENE_PLAYING_COMPLETE);
          // What another command's seek or stop makes the deck announce is
          // not this seek's.
          return found || ended || (e && Taken());
        },
        limit);
    if (outcome != EventPump::Outcome::Done) return Unfinished(outcome, "the " + what + " did not finish", what);
    if (const std::optional<int> code = TakenAway(what)) return *code;
    if (found) {
      console.Line("scene found" + FoundAt(track) + ", playing from " + TimeCodeText(device.GetTimecode()));
    } else {
      console.Line("no scene found at or after ATN " + std::to_string(track) + "; the deck stopped" + Where());
    }
    return kExitOk;
  }

  // " at ATN n": where the scene found by a seek to `track` begins to play,
  // where the simulated camcorder's tape tells (the track itself inside a
  // scene, the next scene's start on blank tape).
  std::string FoundAt(unsigned track) {
    const std::optional<zelto::sim::Cassette> cassette = session.CurrentCassette();
    if (!cassette) return "";
    if (cassette->SceneAt(track)) return " at ATN " + std::to_string(track);
    for (const zelto::sim::Scene& scene : cassette->scenes)
      if (scene.startTrack > track) return " at ATN " + std::to_string(scene.startTrack);
    return "";
  }

  // Stop while the deck winds to a seek's track. The library has no
  // button for that state, but a new seek replaces the one under way: a
  // seek to where the head stands ends the wind at once, and the deck then
  // stands in a state whose stop button works. Without a track to seek to
  // (the system's driver does not tell one), the seek is let finish.
  int StopSeek() {
    NotePress();
    if (const std::optional<TapePosition> tape = session.Position()) {
      device.StartSeekATN(tape->track);
      if (int code = Saved(); code != kExitOk) return code;
    }
    const EventPump::Outcome settled = pump.Until(
        [&](const FeedEvent* e) {
          const _OxVideoDeviceState state = e ? e->state.value_or(OX_DEVICE_STATE_UNKNOWN) : device.GetDeviceState();
          return state != OX_DEVICE_STATE_UNKNOWN;
        },
        limit);
    if (settled != EventPump::Outcome::Done)
      return Unfinished(settled, "the seek under way did not end", "stop of the seek under way");
    const _OxVideoDeviceState now = device.GetDeviceState();
    if (now != OX_DEVICE_STATE_STOP) {
      if (!DeckTarget(DeckAction::Stop, now))
        return Fail(kExitRefused, "the deck does not take 'stop' while in state " + DeviceStateName(now));
      PressDeckButton(device, DeckAction::Stop);
      if (int code = Saved(); code != kExitOk) return code;
      if (options.wait) {
        const EventPump::Outcome stopped = pump.UntilState(OX_DEVICE_STATE_STOP, limit);
        if (stopped != EventPump::Outcome::Done) return Unfinished(stopped, "the deck did not reach stop", "stop");
      }
    }
    console.Line("stop sent (a seek was under way: ended first); deck: " + DeviceStateName(device.GetDeviceState()) +
                 " at " + TimeCodeText(device.GetTimecode()));
    return kExitOk;
  }

  int StopRecordPause() {
    NotePress();
    device.StopBatchRecording();
    if (int code = Saved(); code != kExitOk) return code;
    if (options.wait) {
      const EventPump::Outcome stopped = pump.UntilState(OX_DEVICE_STATE_STOP, limit);
      if (stopped != EventPump::Outcome::Done) return Unfinished(stopped, "the deck did not reach stop", "stop");
    }
    console.Line("stop sent (the deck was in record pause: its recording ended); deck: " +
                 DeviceStateName(device.GetDeviceState()) + Where());
    return kExitOk;
  }

  // A wind ends by itself at the end of the tape; from the end it runs to,
  // it ends as it begins.
  int AwaitWindEnd(_OxVideoDeviceState wind) {
    _OxVideoDeviceState ended = wind;
    const EventPump::Outcome outcome = pump.UntilWindEnds(wind, AtEndOfWind(wind), limit, &ended);
    if (outcome != EventPump::Outcome::Done)
      return Unfinished(outcome, "the " + DeviceStateName(wind) + " did not end", DeviceStateName(wind));
    if (const std::optional<int> code = TakenAway(DeviceStateName(wind))) return *code;
    console.Line("deck: " + DeviceStateName(wind) + " ended; " + DeviceStateName(ended) + Where() + " at " +
                 TimeCodeText(device.GetTimecode()));
    return kExitOk;
  }

  // Whether the head stands where a wind would take it (known only where
  // the simulated camcorder tells the position).
  bool AtEndOfWind(_OxVideoDeviceState wind) {
    const std::optional<TapePosition> tape = session.Position();
    return tape && (wind == OX_DEVICE_STATE_REWIND ? tape->track == 0 : tape->track >= tape->lengthTracks);
  }

  // " at ATN n" where the simulated camcorder tells it.
  std::string Where() {
    const std::optional<TapePosition> tape = session.Position();
    return tape ? " at ATN " + std::to_string(tape->track) : "";
  }

  // A command the simulated camcorder took but could not keep in its state
  // file is undone there: never report it sent.
  int Saved() {
    const std::string problem = session.StateProblem();
    return problem.empty() ? kExitOk : Fail(kExitStateFile, "the command was not kept: " + problem);
  }

  // `doing`: what the wait was for, as "the seek to ATN 5 was stopped by
  // ..." says it when another command took the deck meanwhile.
  int Unfinished(EventPump::Outcome outcome, const std::string& what, const std::string& doing) {
    if (outcome == EventPump::Outcome::Interrupted) return Fail(kExitInterrupted, Interrupt::StoppedBy());
    if (outcome == EventPump::Outcome::OutputFailed) return kExitOutputFailed;
    if (const std::optional<int> code = TakenAway(doing)) return *code;
    return Fail(kExitTimedOut, what + " within " + SpanText(limit) + " (deck state: " +
                                   DeviceStateName(device.GetDeviceState()) + ")");
  }

  // Notes the button in the camcorder's press log before it is pressed, so
  // that a job, or another deck command waiting, learns who took the deck;
  // and says whose job that is. The button is pressed all the same when
  // the log cannot be written: a person must be able to stop a runaway job.
  void NotePress() {
    const std::optional<CamcorderFiles>& files = session.JobFiles();
    if (!files) return;
    const std::string command = std::string("zelto deck ") + DeckActionWord(options.action);
    if (const std::optional<JobHolder> holder = ReadJobHolder(*files))
      console.Line("taking the deck from " + JobText(*holder));
    std::string why;
    if (!NoteDeckPress(*files, command, &why))
      console.Error(why + "; a job using the camcorder will not learn that the deck was taken");
    presses = std::make_unique<DeckPressWatch>(files->presses);
  }

  std::optional<DeckTakeover> Taken() { return presses ? presses->Taken() : std::nullopt; }

  // When another command pressed a button while this one waited: says so
  // and answers the status; none when nobody did.
  std::optional<int> TakenAway(const std::string& doing) {
    const std::optional<DeckTakeover> by = Taken();
    if (!by) return std::nullopt;
    return Fail(kExitTakenOver, "the " + doing + " was stopped by another command, " + by->Text() + Where());
  }

  int Fail(int code, const std::string& text) {
    console.Error(text);
    return code;
  }

  Session& session;
  ZeltoVideoDevice& device;
  const DeckOptions& options;
  Console& console;
  EventPump pump;
  std::chrono::milliseconds limit;
  // Deck buttons other processes press from the moment this one is noted.
  std::unique_ptr<DeckPressWatch> presses;
};

}  // namespace

std::chrono::milliseconds DefaultDeckTimeout(DeckAction action) {
  // A whole tape winds in a few minutes; the other buttons answer at once.
  const bool long_ = action == DeckAction::Seek || action == DeckAction::FastForward || action == DeckAction::Rewind;
  return long_ ? std::chrono::milliseconds(300'000) : std::chrono::milliseconds(30'000);
}

int RunDeck(Session& session, const DeckOptions& options, Console& console) {
  return DeckRun(session, options, console).Run();
}

}  // namespace zelto::app
