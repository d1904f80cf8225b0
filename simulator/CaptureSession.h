// One capture of the simulated driver: direct (whatever streams, into the
// files of one name pattern) or batch (one section after another, each
// searched for and captured to the end of its scene). A thread of its own
// turns what the head played over into capture files at the stream rate,
// splits them at the size limit and reports each step as a driver event,
// so that the camcorder's own thread never waits for a disk.
//
// Thread-safe: End may be called from any thread; the destructor ends the
// capture and waits for its thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "simulator/CaptureDamage.h"
#include "simulator/CaptureFileName.h"
#include "simulator/CaptureStreamWriter.h"
#include "simulator/Cassette.h"
#include "simulator/DeckModel.h"
#include "zelto/bridge/DriverInterfaces.h"

namespace zelto::sim {

// IStreamReceive::SetOptions bits. The library sends 15 (no size limit) or
// 31 (split at the size limit); any other bit is refused.
enum CaptureOption : DWORD {
  CAPTURE_OPTION_WRITE_FILES = 0x01,      // without it nothing is written
  CAPTURE_OPTION_REPORT_CREATED = 0x02,   // event 3 for each file opened
  CAPTURE_OPTION_REPORT_COMPLETE = 0x04,  // event 4 for each file closed
  CAPTURE_OPTION_REPORT_BATCH = 0x08,     // events 27, 28, 25 and 23 of a batch
  CAPTURE_OPTION_SPLIT = 0x10,            // split files at SetMaxFileSize's limit
  CAPTURE_OPTIONS_KNOWN = 0x1F,
};

struct CaptureSettings {
  std::filesystem::path folder;
  DWORD options = 0;
  std::optional<std::uint64_t> maxFileSize;  // bytes; used with CAPTURE_OPTION_SPLIT
  std::optional<CaptureFileName> directName;  // direct capture
  struct Section {
    std::uint32_t inTrack;  // where its search starts
    CaptureFileName name;
  };
  std::vector<Section> sections;  // batch capture, in order
};

// What the capture's next file suffers, from the fault panel.
struct FileFaults {
  DWORD appearAfterMs = 0;  // reported created this long before it exists
  bool neverAppears = false;
};

// What a capture needs of the camcorder. Every call is thread-safe.
class CaptureDeck {
 public:
  struct View {
    bool removed = false;
    TransportMode mode = TransportMode::Empty;
    std::uint32_t track = 0;
    std::optional<Cassette> cassette;
    std::vector<DeckModel::PlayedSpan> played;  // since the last look
  };
  virtual View Look() = 0;
  // A seek as the deck takes it: wind, play the scene found, stop at its end.
  virtual HRESULT Seek(std::uint32_t track) = 0;
  // Posts a driver event through the event faults.
  virtual void Emit(DWORD code, LPARAM argument) = 0;
  virtual FileFaults NextFileFaults() = 0;
  // Of `wanted` bytes, how many the disk still takes (a full disk: fewer).
  virtual std::uint64_t DiskRoom(std::uint64_t wanted) = 0;
  // A read of a worn stretch begins: its pass number, counted and kept.
  virtual std::uint32_t DropoutPass(const Dropout& dropout) = 0;
  // Where the capture logs what worn tape did to its files (never locks).
  virtual std::shared_ptr<DamageLog> Damage() = 0;

 protected:
  ~CaptureDeck() = default;
};

// The record event 4's argument points at: it lives as long as the process,
// since the message may be dispatched after everything else is gone.
const DRIVER_FILE_RECORD* FileRecord(const std::wstring& path);

class CaptureSession {
 public:
  enum class Kind { Direct, Batch };
  CaptureSession(CaptureDeck& deck, CaptureSettings settings, Kind kind);
  ~CaptureSession();
  CaptureSession(const CaptureSession&) = delete;
  CaptureSession& operator=(const CaptureSession&) = delete;

  Kind GetKind() const { return kind_; }
  // Closes what is open (reporting it) and ends; does not wait.
  void End();
  bool Finished() const;
  // Asked to end (it may still be closing its file), or finished.
  bool Ending() const;
  // Waits for the capture's thread to end; false after the time-out.
  bool AwaitEnd(DWORD timeoutMs) { return WaitForSingleObject(thread_, timeoutMs) == WAIT_OBJECT_0; }
  // Ends without a word: the camcorder is gone.
  void Abandon();

 private:
  struct OpenFile;
  static unsigned WINAPI ThreadMain(void* self);
  void Run();
  // One look at the deck and what it means; false when the capture is over.
  // While ending, what was played is still written, but nothing new begins.
  bool Step(bool ending);
  bool StepBatch(CaptureDeck::View& view, bool ending);
  // Writes what the view says was played over recorded tape.
  void Write(const CaptureDeck::View& view, const CaptureFileName& name);
  bool WriteFrames(const Scene& scene, unsigned sceneNumber, std::uint32_t from, std::uint32_t to,
                   const CaptureFileName& name, const std::vector<Dropout>& dropouts);
  bool Put(unsigned sceneNumber, std::uint32_t firstFrame, unsigned count);
  // A scene recorded from a file: its stream's packets, copied, for the
  // tracks [from, to) counted from the scene's start.
  bool WritePackets(const Scene& scene, std::uint32_t from, std::uint32_t to, const CaptureFileName& name,
                    const std::vector<Dropout>& dropouts);
  bool PutPackets(std::vector<std::uint8_t> bytes);
  // Packets [first, first + count) of a scene's stream.
  std::vector<std::uint8_t> StreamPackets(const SceneContent& content, std::uint64_t first, std::uint64_t count);
  bool Appear();  // creates the open file's writer and writes what waited
  bool Open(const CaptureFileName& name, const Scene& scene);
  void Close(bool report);
  // The file closed and reported, the driver's error posted (by default: the
  // disk took no more), the session over.
  void Fail(LPARAM error = DRIVER_ERROR_CAPTURE_WRITE);
  // Whether a section's play stopped at the end of the recording it began
  // in, not before (a stop, an ejection).
  bool PlayedToTheRecordingsEnd(const CaptureDeck::View& view) const;
  // The thread failed on a fault of ours: ends as Fail does, and finishes.
  void FailOnFault();
  void Emit(DWORD code, LPARAM argument, DWORD option);

  CaptureDeck& deck_;
  const CaptureSettings settings_;
  const Kind kind_;
  HANDLE wake_ = nullptr;
  HANDLE thread_ = nullptr;
  mutable std::mutex lock_;
  bool ending_ = false;
  bool abandoned_ = false;
  bool finished_ = false;

  // The worker's own. The damage outlives the file whose writer asks it.
  CaptureDamage damage_;
  bool worn_ = false;  // the tape has worn stretches
  std::unique_ptr<OpenFile> file_;
  std::uint32_t partNumber_ = 0;  // of the current section, or of a direct capture
  std::uint32_t fileNumber_ = 0;  // scenes of a "%03d" pattern
  std::uint32_t fileScene_ = 0;   // start track of the scene in the open file
  std::size_t section_ = 0;
  bool searching_ = false;
  bool capturing_ = false;
  bool failed_ = false;
  // The recorded file a scene's packets are read from, kept open.
  std::string contentPath_;
  std::unique_ptr<std::ifstream> content_;
};

}  // namespace zelto::sim
