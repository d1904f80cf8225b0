// The camcorder as a small discrete model on a clock of milliseconds: the
// camcorder mode, the cassette slot and the tape transport. It has no lock,
// no thread and no clock of its own: every call is told the time, and the
// owner calls Advance before it looks, so the model can be driven by the
// process clock or, in tests, by hand.
//
// Its member functions lie by road: DeckModel.cpp (the transport),
// DeckModelTransmit.cpp, DeckModelScan.cpp, DeckModelMemory.cpp and
// DeckModelState.cpp (the state as JSON).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "simulator/Cassette.h"
#include "simulator/Owner.h"
#include "zelto/bridge/DriverInterfaces.h"

namespace zelto::sim {

using Tick = std::int64_t;  // milliseconds of the process clock

// Failures of deck commands, as the driver reports them.
inline const HRESULT kErrorNotReady = static_cast<HRESULT>(0x80070015L);        // no cassette
inline const HRESULT kErrorWriteProtected = static_cast<HRESULT>(0x80070013L);  // cannot record
inline const HRESULT kErrorBusy = static_cast<HRESULT>(0x800700AAL);            // stalled or recording
inline const HRESULT kErrorWrongMode = static_cast<HRESULT>(0x8007139FL);       // not in the deck mode
inline const HRESULT kErrorDeviceRemoved = static_cast<HRESULT>(0x8007048FL);   // unplugged

// How fast the transport goes and how long the mechanics take.
struct TransportTiming {
  double windSpeed = 24.0;         // rewind and fast forward, times the play speed
  double searchSpeed = 9.0;        // fastest forward and reverse play
  double slowSpeed = 0.1;          // slowest forward and reverse play
  std::uint32_t loadMs = 4000;     // a cassette going in
  std::uint32_t ejectMs = 3000;    // and coming out
  std::uint32_t seekSettleMs = 1200;  // finding the track once wound near it
  std::uint32_t modeSwitchMs = 1500;  // between the camera and the deck mode
  // Left in record pause this long, the camcorder stops by itself to spare
  // the tape, as camcorders do (5 minutes; 0: never).
  std::uint32_t recordPauseLimitMs = 300000;
};

enum class TransportMode {
  Empty,
  Loading,
  Ejecting,
  Stop,
  Play,
  Pause,
  Record,
  RecordPause,
  Rewind,
  FastForward,
  FastestForward,
  SlowestForward,
  FastestReverse,
  SlowestReverse,
  SeekWinding,
  SeekSettling,
  SeekPlaying,
  Stalled,
};

const char* TransportModeName(TransportMode mode);
std::optional<TransportMode> TransportModeFromName(std::string_view name);

// What the preview interfaces were last told; none: never told.
struct PreviewSettings {
  std::uint64_t ownerWindow = 0;  // the window's handle, as a number; 0: none
  std::optional<RECT> rect;
  std::optional<DWORD> mode;  // 2 shown, 0 hidden, 3 while scapturing
  DWORD volume = 100;         // 0 to 100
  std::optional<DWORD> quality;  // decode quality: 1 fastest, 3 balanced, 7 best
  bool deinterlace = false;
};

class DeckModel {
 public:
  explicit DeckModel(TransportTiming timing = {}, CamcorderModeCode mode = CAMCORDER_MODE_DECK);

  // The camcorder object this model runs in: a transmit or a scan started
  // here is its own, and only its own transmit's and scan's notes are taken
  // here (whichever model sees them happen: see Restore).
  void SetSelf(const Owner& self) { self_ = self; }

  // Processes every transition due at or before now, in order.
  void Advance(Tick now);
  // When the next transition is due; none while nothing moves or waits.
  std::optional<Tick> NextTransition() const;

  // IDeckControl::SendCommand.
  HRESULT Command(DWORD command, Tick now);

  // Loads the cassette, then stops; already loaded when immediate.
  void Insert(Cassette cassette, Tick now, bool immediate = false);
  bool Eject(Tick now);                      // false when there is no cassette
  // Protecting a cassette that records takes it out of recording.
  void SetWriteProtected(bool on, Tick now);
  void SetStalled(bool on, Tick now);        // the tape stops and refuses commands
  void SwitchCamcorderMode(CamcorderModeCode mode, Tick now);

  // What the driver reports.
  DeckStateCode DeckState() const;
  MediaInfoCode MediaInfo() const;
  CamcorderModeCode CamcorderMode() const { return camcorderMode_; }
  TransportMode Mode() const { return mode_; }
  // The play head, in tracks (valid after Advance(now)).
  std::uint32_t Track(Tick now) const;
  // The time code under the head; the "no time code" flag on blank tape.
  std::optional<__MIDL___MIDL_itf_plgdefs_0000_0001> TimeCode(Tick now) const;
  // The scene the camcorder is streaming from, or null when the stream is off.
  const Scene* StreamingScene(Tick now) const;
  // The cassette as it is now, with recording in progress written onto it.
  std::optional<Cassette> CurrentCassette(Tick now) const;

  // What the head has played over (forward, at play speed: what streams),
  // kept while logging is on, for a capture that turns it into files.
  struct PlayedSpan {
    double from;  // tracks
    double to;
  };
  void LogPlay(bool on, Tick now);
  bool LoggingPlay() const { return logPlay_; }
  // The spans played since the last call, up to now; clears them.
  std::vector<PlayedSpan> TakePlayed(Tick now);
  // Ends the span being played at now, so that a Restore that follows
  // keeps all of it (a restored model keeps the log, and its spans).
  void FlushPlayed(Tick now);

  // The cassette memory. Its sequence number moves on with every change of
  // what it holds (a cassette in or out, a scene written, the text). Reads
  // see the tape as committed: a recording under way is not in it yet.
  std::uint32_t MemorySequence() const { return memorySequence_; }
  // The cassette whose memory can be read now: loaded, with a memory.
  const Cassette* MemoryCassette() const;
  // Keys record `index` of the memory at `sequence`; CASSETTE_MEMORY_E_CHANGED
  // when the memory has moved on, E_INVALIDARG for no such record.
  HRESULT SetMemoryKey(std::uint32_t sequence, std::uint32_t index, std::uint32_t key);
  HRESULT SetMemoryText(std::string text);

  // --- The transmit: a file sent to the record head. Its stream (null
  // packets for the lead-in, the file's packets, null packets for the
  // lead-out) flows while the deck records, kStreamBytesPerTrack a track,
  // and is written into the scene being recorded. At its end the deck goes
  // to record pause, so the scene ends with the stream.
  struct TransmitSource {
    std::string file;              // UTF-8 native path
    std::uint64_t fileSize = 0;    // bytes: whole packets
    std::uint64_t leadInPackets = 0;
    std::uint64_t leadOutPackets = 0;
    // The file can be read up to this many of its packets (a fault); none:
    // all of it.
    std::optional<std::uint64_t> readablePackets;
  };
  enum class TransmitState { Idle, Started, Completed, Failed };
  // Starts sending; fails at once (Failed) without a cassette that can be
  // recorded on.
  void StartTransmit(TransmitSource source, Tick now);
  // Ends this camcorder's transmit where it is, without a word. Another
  // camcorder's is not its to stop: it is left as it is.
  void StopTransmit(Tick now);
  // The program that sends the transmit's stream is gone: the data stops
  // where the head is, the deck pauses recording (and gives up later, see
  // TransportTiming::recordPauseLimitMs) and the transmit has failed.
  void OrphanTransmit(Tick now);
  // Who started the transmit under way or last; none before any (or in a
  // state written before owners were kept).
  std::optional<Owner> TransmitOwner() const { return transmitOwner_; }
  // The stream is gone (the camcorder is unplugged): a recording of it stops
  // where the head is, and the transmit fails.
  void LoseTransmit(Tick now);
  TransmitState Transmit() const { return transmit_; }
  // How each transmit that ended by itself ended since the last call, in
  // order: true completed, false failed.
  std::vector<bool> TakeTransmitEnds();

  // --- The tape scan: rewinds, then plays the tape at the search speed,
  // noting a thumbnail at each scene's start (and a second at the middle of
  // a scene of a second or more), then completion where the recorded tape
  // ends (the end of the last scene: the blank rest holds nothing to find).
  // Any other use of the transport (a command, a stall, an ejection, a new
  // cassette, the camera mode) ends it with an error note. ---
  struct ScanNote {
    enum class Kind { Thumbnail, Complete, Error };
    Kind kind;
    std::size_t sceneIndex = 0;  // a thumbnail's scene
    std::uint32_t track = 0;     // and where on it the picture is
  };
  HRESULT StartScan(Tick now);
  void StopScan(Tick now);  // stops the tape; no note
  bool Scanning() const { return scan_ != ScanPhase::None; }
  std::vector<ScanNote> TakeScanNotes();
  // Ends a scan with an error note (the camcorder is being unplugged).
  void FailScan();
  // A fault: the transport stalls once the scan has noted this many more
  // thumbnails (0: never).
  void StallScanAfter(unsigned thumbnails) { scanStallAfter_ = thumbnails; }
  // A read of the worn stretch that starts at this track begins: its pass
  // number, counted from 0 (0 when the loaded tape has no such stretch).
  std::uint32_t TakeDropoutPass(std::uint32_t startTrack);
  // The cassette as committed (a recording under way not in it yet).
  const Cassette* LoadedCassette() const { return cassette_ ? &*cassette_ : nullptr; }

  // What the driver's preview was last told, kept with the state so that
  // another program sharing the camcorder can show it.
  PreviewSettings Preview() const { return preview_; }
  void SetPreview(const PreviewSettings& preview) { preview_ = preview; }

  void SetRecordInput(bool on) { recordInput_ = on; }
  bool RecordInput() const { return recordInput_; }

  // The whole state as JSON. Every time in it is on the camcorder's own
  // clock, which every program sharing the state continues (a tick of this
  // model plus the offset its last Restore found), beside the clock's
  // reading and the wall-clock time (ms since 1970) at the save.
  std::string Save(Tick now, std::int64_t wallMs) const;
  // Replaces the state with a saved one, brought up to now; false (state
  // unchanged) when the text is not a state this model wrote. The
  // camcorder's clock has run on since the save by the wall-clock time
  // passed, at this program's clock scale (a second of wall time is 1/scale
  // seconds of camcorder time), never backwards. A state of version 1 or 2,
  // whose times are wall-clock times, is read as it was written. The play
  // log and its spans stay; the head's play goes on from where it is now.
  // What this camcorder started and the saved state shows further on (a
  // scan's pictures and end, a transmit's end, seen by another program) is
  // noted here as if it had happened here.
  //
  // A transmit under way whose owner `gone` says is gone stopped sending
  // when the state was saved (see OrphanTransmit): every program that reads
  // the same state finds the same. *orphaned then tells so.
  using OwnerGone = std::function<bool(const Owner&)>;
  //
  // A state whose fields are missing, of the wrong type or out of range is
  // not this model's: *problem then names the field.
  bool Restore(std::string_view text, Tick now, std::int64_t wallMs, double scale, const OwnerGone& gone = {},
               bool* orphaned = nullptr, std::string* problem = nullptr);

 private:
  enum class Transition { None, Limit, Boundary, Phase, ModeSwitch, TransmitEnd, ScanPoint, RecordPauseLimit };
  enum class ScanPhase { None, Rewinding, Playing };
  // How the last scan ended.
  enum class ScanOutcome { Running, Complete, Error, Stopped };

  double Speed(TransportMode mode) const;  // tracks per millisecond, signed
  double Position(Tick now) const;
  bool Moving() const { return speed_ != 0; }
  void Enter(TransportMode mode, Tick now);
  void EnterAt(TransportMode mode, double position, Tick at);
  void CommitRecording(double position);
  Transition Next(Tick* at) const;
  // Where the moving transport stops by itself: the end of the tape, or of
  // a search, a scene played after a seek, or the scan.
  double LimitPosition() const;
  void Fire(Transition transition, Tick at);
  HRESULT SeekTo(std::uint32_t track, Tick now);
  // The transmit's stream packets in all, and where it stops (its end, or
  // where the file can no longer be read).
  std::uint64_t TransmitTotal() const;
  std::uint64_t TransmitStopAt() const;
  std::optional<std::uint32_t> TransmitEndTrack() const;
  void FailTransmit();
  // The head has written the last of the stream it could send.
  void FinishTransmitStream(Tick at);
  void BeginSending(std::uint32_t track);
  // The time code a recording starting at this track begins with.
  std::uint32_t RecordFrameAt(std::uint32_t track) const;
  // Whether notes of what this owner started are taken here.
  bool Mine(const std::optional<Owner>& owner) const { return !owner || *owner == self_; }
  // The data stops where the head is now (nothing sent past it).
  void EndSending(Tick now);
  std::optional<std::uint32_t> NextScanPoint() const { return ScanPointFrom(scanFrom_); }
  std::optional<std::uint32_t> ScanPointFrom(std::uint32_t track) const;
  // Notes of this camcorder's own transmit and scan, each at most once.
  void NoteTransmitEnd(bool complete);
  void NoteScan(const ScanNote& note);
  // After a Restore: what this camcorder started and another program saw
  // happen, as notes.
  void NoteWhatHappenedElsewhere();
  std::uint32_t ScanEnd() const;
  void InterruptScan();
  // The transport met its limit: the scan's rewind or look is over. False
  // when no scan ran there.
  bool ScanReachedLimit(double limit, Tick at);
  // The head is at the next scene's picture.
  void PassScanPoint(Tick at);

  TransportTiming timing_;
  Owner self_;
  std::int64_t clockOffset_ = 0;  // the camcorder's clock less this model's ticks
  CamcorderModeCode camcorderMode_;
  CamcorderModeCode switchTarget_ = CAMCORDER_MODE_DECK;
  std::optional<Tick> switchDue_;
  std::optional<Cassette> cassette_;
  TransportMode mode_ = TransportMode::Empty;
  double anchorPosition_ = 0;  // where the head was when the mode was entered
  Tick anchorTick_ = 0;        // and when
  double speed_ = 0;
  std::optional<Tick> phaseDue_;  // loading, ejecting, settling
  std::uint32_t seekTarget_ = 0;
  std::uint32_t seekStop_ = 0;
  std::uint32_t recordStart_ = 0;
  std::uint32_t recordFrame_ = 0;
  bool recordInput_ = false;
  bool logPlay_ = false;
  double playFrom_ = 0;  // where the span being played began
  std::vector<PlayedSpan> played_;
  bool stalledFromDeck_ = false;
  std::uint32_t memorySequence_ = 1;
  // The transmit.
  TransmitState transmit_ = TransmitState::Idle;
  std::optional<Owner> transmitOwner_;
  std::uint32_t transmitRun_ = 0;  // counts the transmits started
  TransmitSource source_;
  bool sending_ = false;          // in this recording pass
  std::uint32_t sendTrack_ = 0;   // where this pass began to send
  std::uint64_t sentBefore_ = 0;  // stream packets sent in earlier passes
  std::optional<std::uint64_t> sentExact_;  // where the stream stopped exactly
  std::optional<std::uint64_t> sendLimit_;  // stopped: nothing sent past this
  std::vector<bool> transmitEnds_;
  // The scan.
  ScanPhase scan_ = ScanPhase::None;
  std::optional<Owner> scanOwner_;
  std::uint32_t scanRun_ = 0;  // counts the scans started
  ScanOutcome scanOutcome_ = ScanOutcome::Running;
  std::uint32_t scanFrom_ = 0;  // the next thumbnail lies at or after this track
  unsigned scanStallAfter_ = 0;
  std::vector<ScanNote> scanNotes_;
  // What this camcorder has noted of its own transmit and scan, kept across
  // Restore: a state another program saved, earlier or later than this
  // model's, never has a thing noted twice or left out.
  struct Noted {
    std::optional<std::uint32_t> transmitEndRun;  // the run whose end was noted
    std::uint32_t scanRun = 0;
    std::uint32_t scanFrom = 0;  // thumbnails before this track are noted
    bool scanEnded = false;
  } noted_;
  PreviewSettings preview_;
};

}  // namespace zelto::sim
