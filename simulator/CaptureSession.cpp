#include "simulator/CaptureSession.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <mutex>

#include "simulator/CaptureStreamWriter.h"
#include "zelto/bridge/DriverInterfaces.h"

namespace zelto::sim {

namespace {

// How often the capture looks at the deck, in ms of the process clock: a
// tenth of a second of tape at play speed.
constexpr DWORD kLookMs = 100;

bool Streams(TransportMode mode) { return mode == TransportMode::Play || mode == TransportMode::SeekPlaying; }

// The track a span bound falls on.
std::uint32_t TrackAt(double position) { return static_cast<std::uint32_t>(std::floor(position)); }

}  // namespace

const DRIVER_FILE_RECORD* FileRecord(const std::wstring& path) {
  // Never freed: a posted message may be dispatched after the camcorder,
  // and even the driver, are gone. A capture makes a few files a minute.
  static auto* lock = new std::mutex;
  static auto* records = new std::deque<std::pair<std::wstring, DRIVER_FILE_RECORD>>;
  std::lock_guard guard(*lock);
  auto& entry = records->emplace_back(path, DRIVER_FILE_RECORD{nullptr, 0});
  entry.second.path = entry.first.c_str();
  return &entry.second;
}

// The file being written: what is in it, and where its frames go while it
// has not appeared yet (a fault).
struct CaptureSession::OpenFile {
  std::filesystem::path path;
  std::unique_ptr<CaptureStreamWriter> writer;  // null until it appears, or for ever
  bool neverAppears = false;
  Tick appearsAt = 0;
  unsigned framesPerSecond = 25;
  bool wide = true;
  std::uint64_t bytes = 0;  // frames in it at the stream rate
  struct Pending {
    unsigned sceneNumber;
    std::uint32_t firstFrame;
    unsigned count;
  };
  std::vector<Pending> pending;  // frames to write once it appears
};

CaptureSession::CaptureSession(CaptureDeck& deck, CaptureSettings settings, Kind kind)
    : deck_(deck), settings_(std::move(settings)), kind_(kind) {
  wake_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!wake_) throw std::runtime_error("CaptureSession: no wake event");
  thread_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &CaptureSession::ThreadMain, this, 0, nullptr));
  if (!thread_) {
    CloseHandle(wake_);
    throw std::runtime_error("CaptureSession: no thread");
  }
}

CaptureSession::~CaptureSession() {
  End();
  WaitForSingleObject(thread_, INFINITE);
  CloseHandle(thread_);
  CloseHandle(wake_);
}

void CaptureSession::End() {
  {
    std::lock_guard guard(lock_);
    ending_ = true;
  }
  SetEvent(wake_);
}

void CaptureSession::Abandon() {
  {
    std::lock_guard guard(lock_);
    abandoned_ = true;
  }
  SetEvent(wake_);
}

bool CaptureSession::Ending() const {
  std::lock_guard guard(lock_);
  return ending_ || abandoned_ || finished_;
}

bool CaptureSession::Finished() const {
  std::lock_guard guard(lock_);
  return finished_;
}

unsigned WINAPI CaptureSession::ThreadMain(void* self) {
  static_cast<CaptureSession*>(self)->Run();
  return 0;
}

void CaptureSession::Run() {
  for (bool going = true; going;) {
    // A file that is to appear late appears on time, not at the next look.
    DWORD wait = kLookMs;
    if (file_ && !file_->writer && !file_->neverAppears) {
      const auto now = static_cast<Tick>(GetTickCount64());
      wait = static_cast<DWORD>(std::clamp<Tick>(file_->appearsAt - now, 0, kLookMs));
    }
    WaitForSingleObject(wake_, wait);
    bool ending = false;
    bool abandoned = false;
    {
      std::lock_guard guard(lock_);
      ending = ending_;
      abandoned = abandoned_;
    }
    if (abandoned) {
      Close(false);
      break;
    }
    going = Step(ending) && !ending;
    if (ending) Close(true);
  }
  Close(false);  // after a failure or a removal, nothing is left to report
  std::lock_guard guard(lock_);
  finished_ = true;
}

bool CaptureSession::Step(bool ending) {
  CaptureDeck::View view = deck_.Look();
  if (view.removed) {
    // An unplugged camcorder tells nothing more; its file is closed as it is.
    Close(false);
    return false;
  }
  if (kind_ == Kind::Batch) return StepBatch(view, ending);
  Write(view, *settings_.directName);
  return !failed_;
}

bool CaptureSession::StepBatch(CaptureDeck::View& view, bool ending) {
  if (!searching_ && !capturing_) {
    if (ending) return false;
    if (section_ >= settings_.sections.size()) {
      Emit(DRIVER_EVENT_BATCH_COMPLETE, 0, CAPTURE_OPTION_REPORT_BATCH);
      return false;
    }
    Emit(DRIVER_EVENT_SEARCH_IN, 0, CAPTURE_OPTION_REPORT_BATCH);
    partNumber_ = 0;
    if (FAILED(deck_.Seek(settings_.sections[section_].inTrack))) {
      // No cassette, the camera mode, a stalled transport: the batch
      // cannot go on.
      Emit(DRIVER_EVENT_DEVICE_ERROR, DRIVER_ERROR_CAPTURE_DECK, 0);
      return false;
    }
    searching_ = true;
    return true;
  }
  if (searching_) {
    if (view.played.empty() && !Streams(view.mode)) {
      if (view.mode == TransportMode::SeekWinding || view.mode == TransportMode::SeekSettling) return true;
      // The search ended without a scene to play: an empty section.
      searching_ = false;
      Emit(DRIVER_EVENT_SEARCH_OUT, 0, CAPTURE_OPTION_REPORT_BATCH);
      Emit(DRIVER_EVENT_SECTION_COMPLETE, 0, CAPTURE_OPTION_REPORT_BATCH);
      ++section_;
      return true;
    }
    searching_ = false;
    capturing_ = true;
    Emit(DRIVER_EVENT_SEARCH_OUT, 0, CAPTURE_OPTION_REPORT_BATCH);
  }
  Write(view, settings_.sections[section_].name);
  if (failed_) return false;
  if (view.mode != TransportMode::SeekPlaying) {
    // The scene has played to its end (or the deck was stopped).
    capturing_ = false;
    Close(true);
    Emit(DRIVER_EVENT_SECTION_COMPLETE, 0, CAPTURE_OPTION_REPORT_BATCH);
    ++section_;
  }
  return true;
}

void CaptureSession::Write(const CaptureDeck::View& view, const CaptureFileName& name) {
  if (!view.cassette) return;
  const std::vector<Scene>& scenes = view.cassette->scenes;
  for (const DeckModel::PlayedSpan& span : view.played) {
    for (std::size_t i = 0; i < scenes.size() && !failed_; ++i) {
      const Scene& scene = scenes[i];
      const double from = std::max<double>(span.from, scene.startTrack);
      const double to = std::min<double>(span.to, scene.endTrack);
      if (from >= to) continue;
      WriteFrames(scene, static_cast<unsigned>(i + 1), scene.FrameAt(TrackAt(from)), scene.FrameAt(TrackAt(to)),
                  name);
    }
  }
  // A file per scene: the scene's file ends when the head leaves it.
  if (file_ && name.Placeholder() == CaptureFileName::Counts::Files) {
    const Scene* under = Streams(view.mode) ? view.cassette->SceneAt(view.track) : nullptr;
    if (!under || under->startTrack != fileScene_) Close(true);
  }
}

bool CaptureSession::WriteFrames(const Scene& scene, unsigned sceneNumber, std::uint32_t from, std::uint32_t to,
                                 const CaptureFileName& name) {
  if (!(settings_.options & CAPTURE_OPTION_WRITE_FILES)) return true;
  const bool perScene = name.Placeholder() == CaptureFileName::Counts::Files;
  // The size limit; none without the split option.
  const bool split = (settings_.options & CAPTURE_OPTION_SPLIT) && settings_.maxFileSize;
  const std::uint64_t limit = split ? *settings_.maxFileSize : 0;
  while (from < to) {
    // A new file for a new scene (one file a scene) or another picture format.
    if (file_ && ((perScene && fileScene_ != scene.startTrack) || file_->framesPerSecond != scene.FramesPerSecond() ||
                  file_->wide != scene.wide))
      Close(true);
    if (!file_ && !Open(name, scene)) return false;
    const std::uint64_t frameBytes = CaptureStreamWriter::kStreamBytesPerSecond / file_->framesPerSecond;
    // Split before a frame that would pass the limit; a limit below one
    // frame still puts one frame in each part.
    if (split && file_->bytes > 0 && file_->bytes + frameBytes > limit) {
      Close(true);
      continue;
    }
    std::uint64_t count = to - from;
    if (split) count = std::min<std::uint64_t>(count, std::max<std::uint64_t>(1, (limit - std::min(limit, file_->bytes)) / frameBytes));
    const std::uint64_t fits = deck_.DiskRoom(count * frameBytes) / frameBytes;
    if (fits > 0) {
      if (!Put(sceneNumber, from, static_cast<unsigned>(fits))) {
        Fail();
        return false;
      }
      file_->bytes += fits * frameBytes;
      from += static_cast<std::uint32_t>(fits);
    }
    if (fits < count) {
      Fail();
      return false;
    }
  }
  return true;
}

bool CaptureSession::Put(unsigned sceneNumber, std::uint32_t firstFrame, unsigned count) {
  if (file_->neverAppears) return true;
  if (!file_->writer && GetTickCount64() >= static_cast<std::uint64_t>(file_->appearsAt) && !Appear()) return false;
  if (!file_->writer) {
    file_->pending.push_back(OpenFile::Pending{sceneNumber, firstFrame, count});
    return true;
  }
  std::string error;
  return file_->writer->WriteFrames(sceneNumber, firstFrame, count, &error);
}

bool CaptureSession::Appear() {
  std::string error;
  file_->writer = CaptureStreamWriter::Create(file_->path, file_->framesPerSecond, file_->wide, &error);
  if (!file_->writer) return false;
  for (const OpenFile::Pending& p : file_->pending)
    if (!file_->writer->WriteFrames(p.sceneNumber, p.firstFrame, p.count, &error)) return false;
  file_->pending.clear();
  return true;
}

bool CaptureSession::Open(const CaptureFileName& name, const Scene& scene) {
  const bool perScene = name.Placeholder() == CaptureFileName::Counts::Files;
  const std::uint32_t number = perScene ? ++fileNumber_ : ++partNumber_;
  auto file = std::make_unique<OpenFile>();
  file->path = settings_.folder / name.Fill(number);
  file->framesPerSecond = scene.FramesPerSecond();
  file->wide = scene.wide;
  const FileFaults faults = deck_.NextFileFaults();
  file->neverAppears = faults.neverAppears;
  file->appearsAt = static_cast<Tick>(GetTickCount64()) + faults.appearAfterMs;
  file_ = std::move(file);
  fileScene_ = scene.startTrack;
  if (!file_->neverAppears && faults.appearAfterMs == 0 && !Appear()) {
    // The file cannot be made (it exists already, the folder is gone):
    // nothing is reported created.
    file_.reset();
    Fail();
    return false;
  }
  Emit(DRIVER_EVENT_FILE_CREATED, 0, CAPTURE_OPTION_REPORT_CREATED);
  return true;
}

void CaptureSession::Close(bool report) {
  if (!file_) return;
  // A late file appears by the time it is closed, with all its frames.
  if (!file_->neverAppears && !file_->writer && report) Appear();
  std::string error;
  if (file_->writer) file_->writer->Close(&error);
  const std::wstring path = file_->path.wstring();
  file_.reset();
  if (report) Emit(DRIVER_EVENT_FILE_COMPLETE, reinterpret_cast<LPARAM>(FileRecord(path)), CAPTURE_OPTION_REPORT_COMPLETE);
}

void CaptureSession::Fail() {
  failed_ = true;
  Close(true);
  Emit(DRIVER_EVENT_DEVICE_ERROR, DRIVER_ERROR_CAPTURE_WRITE, 0);
}

void CaptureSession::Emit(DWORD code, LPARAM argument, DWORD option) {
  if (option == 0 || (settings_.options & option)) deck_.Emit(code, argument);
}

}  // namespace zelto::sim
