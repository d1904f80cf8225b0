// The simulated camcorder behind the driver objects: the deck model on the
// process clock, the windows advised for events, the thread that posts the
// events, the fault panel and the state file. Every member function is
// thread-safe. The thread sleeps until the next transition of the model or
// the next delayed event; with nothing moving it waits without a time-out.
//
// A test reaches it as the driver's control panel (SimulatedDriver::Panel).
//
// Its member functions lie by road: Camcorder.cpp (the thread, the model's
// changes and reports), CamcorderDeck.cpp, CamcorderReceive.cpp,
// CamcorderTransmit.cpp, CamcorderScan.cpp, CamcorderPreview.cpp,
// CamcorderMemory.cpp, CamcorderEvents.cpp, CamcorderConnection.cpp and
// CamcorderStateFile.cpp.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/cassettedb/ICassetteMemory.h"
#include "simulator/CaptureDiskFaults.h"
#include "simulator/CaptureSession.h"
#include "simulator/Cassette.h"
#include "simulator/DeckModel.h"
#include "simulator/FaultPanel.h"
#include "simulator/Owner.h"
#include "simulator/StateFile.h"
#include "simulator/TransmitInput.h"
#include "zelto/bridge/DriverInterfaces.h"

namespace zelto::sim {

struct CamcorderConfig {
  // The cassette in the camcorder at start, already loaded; none: empty.
  std::optional<Cassette> cassette = Cassette::Default();
  // With a state file that holds a state, the cassette above goes in only
  // when this is set (replacing the tape in the shared camcorder).
  bool insertCassette = false;
  TransportTiming timing;
  CamcorderModeCode mode = CAMCORDER_MODE_DECK;
  // Where the camcorder keeps its state; none: nowhere. Every process that
  // names the same file shares one camcorder (see StateFile). A state found
  // there replaces the cassette and mode above. The constructor throws
  // StateFileError when the file cannot be used.
  std::optional<std::filesystem::path> stateFile;
  // A damaged state file is replaced by a fresh state instead of refused.
  bool replaceDamagedState = false;
  // Only reads the state file: never makes, writes or replaces it (nor the
  // lock file beside it), so a read-only file or folder, or a full disk, is
  // fine. What this program changes (a preview setting, a record's key)
  // stays in this program; a missing file is a fresh camcorder here alone,
  // and a damaged one is refused.
  bool readOnlyState = false;
};

// What a driver call answers when its change could not be saved in the
// state file (the change is then undone).
inline const HRESULT kErrorStateNotSaved = static_cast<HRESULT>(0x8007001DL);

// DRIVER_EVENT_DEVICE_ERROR argument of a capture that could not start (no
// folder or name given, no section, the start call failed): nothing was
// captured, and the error event is the only word a host that waits on
// events would get.
inline constexpr LPARAM kErrorCaptureNotStarted = 0x20000006;

// The process-lifetime event record of a code: records never go away, so a
// message still queued when everything else is gone points at valid memory.
const DRIVER_EVENT_RECORD* EventRecord(DWORD code);

class Camcorder final : private CaptureDeck {
 public:
  explicit Camcorder(CamcorderConfig config);
  ~Camcorder();
  Camcorder(const Camcorder&) = delete;
  Camcorder& operator=(const Camcorder&) = delete;

  // --- What the driver objects call (results as the driver gives them). ---
  HRESULT SendCommand(DWORD command);
  HRESULT GetStatus(DWORD kind, DWORD* value);
  HRESULT GetTimeCode(__MIDL___MIDL_itf_plgdefs_0000_0001* timeCode);
  HRESULT SetRecordMode(BOOL record);
  HRESULT Advise(HWND window, DWORD* cookie, const void* owner);
  HRESULT Unadvise(DWORD cookie, const void* owner);
  void UnadviseAll(const void* owner);  // the owner is going away
  CallFaults& Faults() { return faults_; }
  void NoteBind(const std::wstring& unitLabel);

  // IStreamReceive. Names and folders are checked when given; a capture
  // starts with what was given last.
  HRESULT ReceiveStop();
  HRESULT SetCaptureFolder(const WCHAR* path);
  HRESULT SetCaptureFileName(const WCHAR* pattern, DWORD kind);
  HRESULT SetCaptureOptions(DWORD flags);
  HRESULT SetStreamTypes(const GUID_LIST* types);
  // A refused start posts the capture's error event (kErrorCaptureNotStarted).
  HRESULT StartDirectCapture();
  HRESULT AbortCapture();
  HRESULT SetMaxCaptureFileSize(ULONGLONG bytes);
  HRESULT ClearBatch();
  HRESULT AddBatchItem(DWORD inPoint, const WCHAR* pattern, DWORD kind);
  HRESULT StartBatchCapture();
  HRESULT StopBatchCapture();
  // The driver failed a capture's start before the camcorder saw it.
  void CaptureRefused();

  // IStreamTransmit. SetFile checks that the file is a transport stream it
  // can read (an empty path lets go of it); margins are hundredths of a
  // second of tape before and after the file's stream.
  HRESULT SetTransmitFile(const WCHAR* path);
  HRESULT SetTransmitMargins(DWORD first, DWORD second);
  // A refused start posts the recording's error event: nothing will be sent.
  HRESULT StartTransmit();
  // The driver failed the start before the camcorder saw it.
  void TransmitRefused();
  HRESULT StopTransmit();

  // IPreviewControl and IDecodeQuality.
  HRESULT SetPreviewOwner(HWND window);
  HRESULT SetPreviewRect(const RECT* rect);
  HRESULT SetPreviewMode(DWORD mode);
  HRESULT SetPreviewVolume(DWORD level);
  HRESULT SetDecodeQuality(DWORD code, BOOL deinterlace);

  // ITapeScan.
  // A refused start posts the scan's error event: the scan is over.
  HRESULT StartScan(DWORD flags);
  // The driver failed the start before the camcorder saw it.
  void ScanRefused();
  HRESULT StopScan();

  // ICassetteMemory (host/cassettedb/ICassetteMemory.h).
  HRESULT GetMemoryHeader(CASSETTE_MEMORY_HEADER* header);
  HRESULT GetMemoryRecord(DWORD sequence, DWORD index, CASSETTE_MEMORY_RECORD* record);
  HRESULT SetMemoryRecordKey(DWORD sequence, DWORD index, DWORD key);
  HRESULT SetMemoryText(const WCHAR* text);

  // --- Control panel: the camcorder's buttons and the test's faults. ---
  void InsertCassette(Cassette cassette);  // loads for TransportTiming::loadMs
  bool Eject();                            // false with no cassette
  void SetWriteProtected(bool on);
  void SetCamcorderMode(CamcorderModeCode mode);
  void StallTransport(bool on);
  // Unplugs the camcorder: posts DRIVER_EVENT_DEVICE_ERROR with
  // DRIVER_ERROR_DEVICE_REMOVED, fails every later call and hides the unit.
  void RemoveDevice();
  void ReconnectDevice();
  bool Removed() const;

  void FailCall(Method method, unsigned nth, HRESULT result, FaultRepeat repeat = FaultRepeat::Once) {
    faults_.Fail(method, nth, result, repeat);
  }
  void ClearCallFaults() { faults_.Clear(); }
  unsigned CallCount(Method method) const { return faults_.Calls(method); }

  // Event faults, for one code or (no code) for every code the camcorder
  // posts by itself. Dropping takes count events (0: all from now on).
  void DelayEvents(DWORD milliseconds, std::optional<DWORD> code = std::nullopt);
  void DropEvents(std::optional<DWORD> code = std::nullopt, unsigned count = 0);
  void ClearEventFaults();
  // Takes the camcorder away (as RemoveDevice) or its cassette out (as
  // Eject) right after the nth event of `code` it posts from now on, once.
  void ActAfterEvent(DWORD code, unsigned nth, EventAction action) { trigger_.Arm(code, nth, action); }
  void ClearEventAction() { trigger_.Disarm(); }
  bool EventActionTaken() const { return trigger_.Fired(); }
  // The codes of the events posted since the log was last cleared.
  std::vector<DWORD> PostedEventLog() const { return trigger_.Log(); }
  void ClearPostedEventLog() { trigger_.ClearLog(); }

  // Capture faults. The disk takes `bytes` more capture bytes, then is
  // full; the next `count` files are reported created `ms` before they
  // exist, or never appear at all.
  void FillDiskAfter(std::uint64_t bytes);
  // The room FillDiskAfter left; none while the disk is the real one.
  std::optional<std::uint64_t> DiskRoomLeft() const;
  void DelayFileAppearance(DWORD ms, unsigned count = 1);
  void HideFiles(unsigned count = 1);
  void ClearCaptureFaults();
  // The next file given to the transmit can be read only up to this many
  // of its 188-byte packets: 0 refuses it at SetFile; more fails the
  // recording (event 8) when the stream reaches that point.
  void BreakTransmitFile(std::uint64_t readablePackets);
  // The transport stalls once the scan under way (or the next) has posted
  // this many more thumbnails: the scan ends with event 20.
  void StallScanAfter(unsigned thumbnails);
  // A fault of the simulator's own: its thread throws at its next wake-up.
  // The camcorder then leaves the bus for good, as an unplugged one does.
  void BreakThread();
  // Posts an event with any code and argument, untouched by the faults above.
  void PostEvent(DWORD code, LPARAM argument);
  // Posts a raw record pointer, null included; the caller keeps it alive.
  void PostEventRecord(const DRIVER_EVENT_RECORD* record, LPARAM argument);

  // --- What a test can look at. ---
  DeckStateCode DeckState();
  MediaInfoCode MediaInfo();
  CamcorderModeCode CamcorderMode();
  TransportMode Mode();
  std::uint32_t Track();
  std::optional<Cassette> CurrentCassette();
  bool RecordInput();
  std::size_t AdvisedWindows() const;
  std::uint64_t EventsPosted() const;
  std::uint64_t PostFailures() const;
  // How often the camcorder's thread has woken up: still while nothing moves.
  std::uint64_t ThreadWakeups() const;
  std::vector<std::wstring> BoundUnits() const;
  // A capture started and not yet over.
  bool Capturing() const;
  // Waits until the capture under way (if any) is over; false after the
  // time-out. For tests: no capture may start meanwhile.
  bool AwaitCaptureEnd(DWORD timeoutMs);
  std::vector<GUID> StreamTypes() const;
  // What the preview was last told, by this program or another sharing the
  // state file.
  PreviewSettings Preview();
  DeckModel::TransmitState Transmit();
  bool Scanning();
  // Why the state file could not be read or written lately; empty while
  // every change has been saved.
  std::string StateProblem() const;
  // What worn tape did to each capture file this camcorder wrote: the
  // ground truth. The log stays readable after the camcorder is gone.
  std::shared_ptr<const DamageLog> DamageRecords() const { return damageLog_; }
  // Lets go of the state file: the run is over. Every change is already in it.
  void CloseStateFile();

 private:
  struct Advice {
    DWORD cookie;
    HWND window;
    const void* owner;
  };
  struct Pending {
    const DRIVER_EVENT_RECORD* record;
    LPARAM argument;
    HWND only = nullptr;  // for this window alone; null: every window
  };
  struct EventRule {
    std::optional<DWORD> code;
    bool drop;
    DWORD delayMs;
    unsigned count;  // drops left; 0: unlimited
  };
  struct Reported {
    DeckStateCode deck = DECK_STATE_NOT_READY;
    MediaInfoCode media = MEDIA_INFO_NONE;
    CamcorderModeCode mode = CAMCORDER_MODE_OFF;
    bool streaming = false;
    int videoSystem = -1;  // not reported yet
    int wide = -1;
  };

  // CaptureDeck, for the capture's own thread.
  View Look() override;
  HRESULT Seek(std::uint32_t track) override;
  void Emit(DWORD code, LPARAM argument) override;
  FileFaults NextFileFaults() override;
  std::uint64_t DiskRoom(std::uint64_t wanted) override;
  std::uint32_t DropoutPass(const Dropout& dropout) override;
  std::shared_ptr<DamageLog> Damage() override { return damageLog_; }
  HRESULT StartCapture(CaptureSession::Kind kind);
  HRESULT StartCaptureLocked(CaptureSession::Kind kind, std::unique_lock<std::mutex>& guard);
  void CaptureRefusedLocked();
  // Ends the capture under way; the session finishes by itself.
  HRESULT EndCapture(std::optional<CaptureSession::Kind> only = std::nullopt);

  static unsigned WINAPI ThreadMain(void* self);
  void Run();
  // The thread has failed: nothing moves the model or posts events any
  // more, so the camcorder is gone, and says so itself.
  void FailThread();
  Tick Now() const;
  // Brings the model up to now, reporting each transition as it fires.
  void AdvanceLocked(Tick now);
  void ReportLocked(Tick now);
  // The transmit's and the scan's endings and thumbnails, as events.
  void ReportNotesLocked(Tick now);
  void ReportTransmitEndsLocked(const std::vector<bool>& ends, Tick now);
  void ScanRefusedLocked();
  void ReportScanNotesLocked(const std::vector<DeckModel::ScanNote>& notes, Tick now);
  // A change, applied at the present moment to the state as every process
  // sharing the state file last left it, saved, then reported and shown to
  // the thread. A change that cannot be saved is undone
  // (kErrorStateNotSaved). Called with lock_ held.
  HRESULT ChangeLocked(const std::function<HRESULT(Tick)>& change);
  void Change(const std::function<void(Tick)>& change);  // from the control panel
  HRESULT ChangePreview(const std::function<void(PreviewSettings&)>& change);
  // Takes in what other processes wrote to the state file; file lock held.
  // A transmit whose program is gone is found stopped where that program's
  // state was saved last (while it runs, it saves now and then). True when
  // that changed the state without a new file: it is this camcorder's to save.
  bool PullLocked(Tick now);
  // Whether the camcorder object that started something is gone: not this
  // one, and not alive in its process, or its process ended.
  bool GoneLocked(const Owner& owner) const;
  void WriteLocked(Tick now);
  // The thread's look at the state file, at most every kStatePollMs.
  void PollStateLocked(Tick now);
  bool RestoreLocked(const std::string& text, Tick now, bool* orphaned = nullptr, std::string* problem = nullptr);
  std::string SaveText(Tick now) const;
  // Through the event faults; to every advised window, or to one alone.
  void QueueLocked(DWORD code, LPARAM argument, Tick now, HWND only = nullptr);
  void QueueRawLocked(const DRIVER_EVENT_RECORD* record, LPARAM argument, Tick due, HWND only = nullptr);
  void OpenState(const CamcorderConfig& config, Tick now);
  void Wake();
  void AwaitPosting();
  // Posts what is due to the windows, the post lock held; stops after an
  // event the panel acts on, and returns that action with what was left.
  std::optional<EventAction> PostDue(std::vector<Pending>& due, const std::vector<HWND>& windows,
                                     std::uint64_t* posted, std::uint64_t* failed);
  void ActOn(EventAction action, std::vector<Pending> left);

  const Owner self_;  // before the model, which is told it
  bool readOnly_ = false;
  mutable std::mutex lock_;
  std::mutex postLock_;  // held by the thread while it posts; taken after lock_, never before
  CallFaults faults_;
  EventTrigger trigger_;
  DeckModel model_;
  std::optional<StateFile> stateFile_;
  std::string stateProblem_;
  Tick nextStatePoll_ = 0;
  Tick lastSave_ = 0;
  Reported reported_;
  bool removed_ = false;
  std::vector<Advice> advices_;
  DWORD lastCookie_ = 0;
  std::multimap<Tick, Pending> queue_;  // by due time; equal times keep their order
  std::vector<EventRule> eventRules_;
  std::uint64_t posted_ = 0;
  std::uint64_t postFailures_ = 0;
  std::uint64_t wakeups_ = 0;
  std::vector<std::wstring> bound_;
  bool stopping_ = false;
  // What the driver was told for its next capture, and the capture itself.
  CaptureSettings capture_;
  std::vector<GUID> streamTypes_;
  // Shared with a stop that waits for it to close its files.
  std::shared_ptr<CaptureSession> session_;
  TransmitInput transmitInput_;
  CaptureDiskFaults diskFaults_;
  const std::shared_ptr<DamageLog> damageLog_ = std::make_shared<DamageLog>();
  bool breakThread_ = false;
  UINT message_ = 0;
  HANDLE wake_ = nullptr;
  HANDLE thread_ = nullptr;
  DWORD threadId_ = 0;
};

}  // namespace zelto::sim
