#include "simulator/CaptureSession.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <mutex>
#include <utility>

#include "platform/PlatformExtras.h"
#include "platform/ThreadGuard.h"
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
  bool packets = false;  // copies a recorded stream (CreateForPackets)
  std::uint64_t bytes = 0;  // frames in it at the stream rate, or packets
  struct Pending {
    unsigned sceneNumber;
    std::uint32_t firstFrame;
    unsigned count;
  };
  std::vector<Pending> pending;  // frames to write once it appears
  std::vector<std::uint8_t> pendingPackets;
};

CaptureSession::CaptureSession(CaptureDeck& deck, CaptureSettings settings, Kind kind)
    : deck_(deck), settings_(std::move(settings)), kind_(kind),
      damage_([&deck](const Dropout& d) { return deck.DropoutPass(d); }, deck.Damage()) {
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
  auto* session = static_cast<CaptureSession*>(self);
  zelto::platform::GuardThread("capture", [session] { session->Run(); }, [session] { session->FailOnFault(); });
  return 0;
}

void CaptureSession::FailOnFault() {
  // Ended the way a capture ends on a disk that takes no more: the file is
  // closed and reported, the host is told, and the deck goes on as it was.
  if (!failed_) Fail();
  std::lock_guard guard(lock_);
  finished_ = true;
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
    capturing_ = false;
    if (!PlayedToTheRecordingsEnd(view)) {
      // The deck was stopped, or the cassette taken out, before the
      // section's end: what was captured is kept, the section not completed.
      Fail(DRIVER_ERROR_CAPTURE_DECK);
      return false;
    }
    Close(true);
    Emit(DRIVER_EVENT_SECTION_COMPLETE, 0, CAPTURE_OPTION_REPORT_BATCH);
    ++section_;
  }
  return true;
}

void CaptureSession::Write(const CaptureDeck::View& view, const CaptureFileName& name) {
  if (!view.cassette) return;
  const std::vector<Scene>& scenes = view.cassette->scenes;
  const std::vector<Dropout>& dropouts = view.cassette->dropouts;
  worn_ = !dropouts.empty();
  for (const DeckModel::PlayedSpan& span : view.played) {
    for (std::size_t i = 0; i < scenes.size() && !failed_; ++i) {
      const Scene& scene = scenes[i];
      const double from = std::max<double>(span.from, scene.startTrack);
      const double to = std::min<double>(span.to, scene.endTrack);
      if (from >= to) continue;
      if (scene.content) {
        WritePackets(scene, TrackAt(from) - scene.startTrack, TrackAt(to) - scene.startTrack, name, dropouts);
        continue;
      }
      WriteFrames(scene, static_cast<unsigned>(i + 1), scene.FrameAt(TrackAt(from)), scene.FrameAt(TrackAt(to)),
                  name, dropouts);
    }
  }
  // A file per scene: the scene's file ends when the head leaves it.
  if (file_ && name.Placeholder() == CaptureFileName::Counts::Files) {
    const Scene* under = Streams(view.mode) ? view.cassette->SceneAt(view.track) : nullptr;
    if (!under || under->startTrack != fileScene_) Close(true);
  }
}

bool CaptureSession::WriteFrames(const Scene& scene, unsigned sceneNumber, std::uint32_t from, std::uint32_t to,
                                 const CaptureFileName& name, const std::vector<Dropout>& dropouts) {
  if (!(settings_.options & CAPTURE_OPTION_WRITE_FILES)) return true;
  const bool perScene = name.Placeholder() == CaptureFileName::Counts::Files;
  // The size limit; none without the split option.
  const bool split = (settings_.options & CAPTURE_OPTION_SPLIT) && settings_.maxFileSize;
  const std::uint64_t limit = split ? *settings_.maxFileSize : 0;
  while (from < to) {
    // A new file for a new scene (one file a scene) or another picture format.
    if (file_ && ((perScene && fileScene_ != scene.startTrack) || file_->packets ||
                  file_->framesPerSecond != scene.FramesPerSecond() || file_->wide != scene.wide))
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
      const double tracksPerFrame = static_cast<double>(kTracksPerSecond) / scene.FramesPerSecond();
      const double fromTrack = scene.startTrack + (from - scene.startFrame) * tracksPerFrame;
      damage_.Place(dropouts, file_->bytes, file_->bytes + fits * frameBytes, fromTrack,
                    fromTrack + static_cast<double>(fits) * tracksPerFrame);
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

bool CaptureSession::WritePackets(const Scene& scene, std::uint32_t from, std::uint32_t to,
                                  const CaptureFileName& name, const std::vector<Dropout>& dropouts) {
  if (!(settings_.options & CAPTURE_OPTION_WRITE_FILES)) return true;
  const SceneContent& content = *scene.content;
  const bool perScene = name.Placeholder() == CaptureFileName::Counts::Files;
  const bool split = (settings_.options & CAPTURE_OPTION_SPLIT) && settings_.maxFileSize;
  const std::uint64_t limit = split ? *settings_.maxFileSize : 0;
  // Read and written a bounded stretch at a time.
  constexpr std::uint64_t kChunk = 4096;
  std::uint64_t first = PacketAtTrack(from);
  // The stream fills the scene's tracks: null packets where nothing was sent.
  const std::uint64_t last = PacketAtTrack(to);
  while (first < last) {
    // A recorded stream is a file of its own: it shares none with pictures.
    if (file_ && ((perScene && fileScene_ != scene.startTrack) || !file_->packets)) Close(true);
    if (!file_ && !Open(name, scene)) return false;
    // As with frames: split before the packet that would pass the limit.
    if (split && file_->bytes > 0 && file_->bytes + kPacketBytes > limit) {
      Close(true);
      continue;
    }
    std::uint64_t count = std::min(last - first, kChunk);
    if (split)
      count = std::min(count, std::max<std::uint64_t>(1, (limit - std::min(limit, file_->bytes)) / kPacketBytes));
    const std::uint64_t fits = deck_.DiskRoom(count * kPacketBytes) / kPacketBytes;
    if (fits > 0) {
      const auto trackOf = [&](std::uint64_t packet) {
        return scene.startTrack + static_cast<double>(packet * kPacketBytes) / kStreamBytesPerTrack;
      };
      damage_.Place(dropouts, file_->bytes, file_->bytes + fits * kPacketBytes, trackOf(first), trackOf(first + fits));
      if (!PutPackets(StreamPackets(content, first, fits))) {
        Fail();
        return false;
      }
      file_->bytes += fits * kPacketBytes;
      first += fits;
    }
    if (fits < count) {
      Fail();
      return false;
    }
  }
  return true;
}

std::vector<std::uint8_t> CaptureSession::StreamPackets(const SceneContent& content, std::uint64_t first,
                                                        std::uint64_t count) {
  std::vector<std::uint8_t> bytes(count * kPacketBytes, 0xFF);
  for (std::uint64_t i = 0; i < count; ++i) {
    std::uint8_t* packet = &bytes[i * kPacketBytes];
    packet[0] = 0x47;  // a null packet: PID 0x1FFF, payload only
    packet[1] = 0x1F;
    packet[2] = 0xFF;
    packet[3] = 0x10;
  }
  // The file's packets that fall into [first, first + count).
  const auto at = content.atPacket;
  const auto length = static_cast<std::int64_t>(content.toPacket - content.fromPacket);
  const std::int64_t lo = std::max<std::int64_t>(static_cast<std::int64_t>(first), at);
  const std::int64_t hi = std::min<std::int64_t>(static_cast<std::int64_t>(first + count), at + length);
  if (lo >= hi) return bytes;
  if (!content_ || contentPath_ != content.file) {
    contentPath_ = content.file;
    content_ = std::make_unique<std::ifstream>(zelto::platform::PathFromUtf8(content.file), std::ios::binary);
  }
  // Where the file cannot be read any more, its packets stay null packets.
  const std::uint64_t filePacket = content.fromPacket + static_cast<std::uint64_t>(lo - at);
  content_->clear();
  content_->seekg(static_cast<std::streamoff>(filePacket * kPacketBytes));
  content_->read(reinterpret_cast<char*>(&bytes[(static_cast<std::uint64_t>(lo) - first) * kPacketBytes]),
                 static_cast<std::streamsize>(static_cast<std::uint64_t>(hi - lo) * kPacketBytes));
  // A short read (the file shortened since) leaves a torn packet: it goes
  // back to being a null packet, like the rest the file no longer has.
  const auto got = static_cast<std::uint64_t>(std::max<std::streamsize>(content_->gcount(), 0));
  const std::uint64_t whole = got / kPacketBytes;
  if (whole < static_cast<std::uint64_t>(hi - lo)) {
    std::uint8_t* torn = &bytes[(static_cast<std::uint64_t>(lo) - first + whole) * kPacketBytes];
    std::fill(torn, torn + kPacketBytes, std::uint8_t{0xFF});
    torn[0] = 0x47;
    torn[1] = 0x1F;
    torn[2] = 0xFF;
    torn[3] = 0x10;
  }
  return bytes;
}

bool CaptureSession::PutPackets(std::vector<std::uint8_t> bytes) {
  if (file_->neverAppears) return true;
  if (!file_->writer && GetTickCount64() >= static_cast<std::uint64_t>(file_->appearsAt) && !Appear()) return false;
  if (!file_->writer) {
    file_->pendingPackets.insert(file_->pendingPackets.end(), bytes.begin(), bytes.end());
    return true;
  }
  std::string error;
  return file_->writer->WritePackets(bytes.data(), bytes.size(), &error);
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
  if (file_->packets) {
    file_->writer = CaptureStreamWriter::CreateForPackets(file_->path, &error);
    if (!file_->writer) return false;
    if (worn_) file_->writer->SetDamage(&damage_);
    const std::vector<std::uint8_t> waiting = std::exchange(file_->pendingPackets, {});
    return waiting.empty() || file_->writer->WritePackets(waiting.data(), waiting.size(), &error);
  }
  file_->writer = CaptureStreamWriter::Create(file_->path, file_->framesPerSecond, file_->wide, &error);
  if (!file_->writer) return false;
  if (worn_) file_->writer->SetDamage(&damage_);
  for (const OpenFile::Pending& p : file_->pending)
    if (!file_->writer->WriteFrames(p.sceneNumber, p.firstFrame, p.count, &error)) return false;
  file_->pending.clear();
  return true;
}

bool CaptureSession::Open(const CaptureFileName& name, const Scene& scene) {
  const bool perScene = name.Placeholder() == CaptureFileName::Counts::Files;
  const std::uint32_t number = perScene ? ++fileNumber_ : ++partNumber_;
  auto file = std::make_unique<OpenFile>();
  file->path = settings_.folder / zelto::platform::NativePath(name.Fill(number));
  file->framesPerSecond = scene.FramesPerSecond();
  file->wide = scene.wide;
  file->packets = scene.content.has_value();
  const FileFaults faults = deck_.NextFileFaults();
  file->neverAppears = faults.neverAppears;
  file->appearsAt = static_cast<Tick>(GetTickCount64()) + faults.appearAfterMs;
  damage_.BeginFile(file->path);
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
  const std::wstring path = zelto::platform::WidePath(file_->path);
  file_.reset();
  damage_.EndFile();
  if (report) Emit(DRIVER_EVENT_FILE_COMPLETE, reinterpret_cast<LPARAM>(FileRecord(path)), CAPTURE_OPTION_REPORT_COMPLETE);
}

void CaptureSession::Fail(LPARAM error) {
  failed_ = true;
  Close(true);
  Emit(DRIVER_EVENT_DEVICE_ERROR, error, 0);
}

bool CaptureSession::PlayedToTheRecordingsEnd(const CaptureDeck::View& view) const {
  if (!view.cassette) return false;
  const std::uint32_t from = settings_.sections[section_].inTrack;
  // The recording the section began in, or the next one the seek found.
  for (const Scene& scene : view.cassette->scenes)
    if (scene.endTrack > from) return view.track + 1 >= scene.endTrack;
  return true;  // blank to the end: nothing more to play
}

void CaptureSession::Emit(DWORD code, LPARAM argument, DWORD option) {
  if (option == 0 || (settings_.options & option)) deck_.Emit(code, argument);
}

}  // namespace zelto::sim
