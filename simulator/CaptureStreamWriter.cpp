#include "simulator/CaptureStreamWriter.h"

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <vector>

#include "platform/PlatformExtras.h"
#include "simulator/CaptureStreamContent.h"

#ifdef _WIN32
#  include <fcntl.h>
#  include <io.h>
#  include <sys/stat.h>
#else
#  include <fcntl.h>
#  include <unistd.h>
#endif

namespace zelto::sim {

// The file descriptor, the bytes that reached it and the first failure.
class CaptureStreamWriter::File {
 public:
  static std::unique_ptr<File> Open(const std::filesystem::path& path, bool create, std::string* error) {
#ifdef _WIN32
    const int flags = _O_WRONLY | _O_BINARY | (create ? _O_CREAT | _O_EXCL : _O_APPEND);
    const int fd = _wopen(path.c_str(), flags, _S_IREAD | _S_IWRITE);
#else
    const int flags = O_WRONLY | O_CLOEXEC | (create ? O_CREAT | O_EXCL : O_APPEND);
    const int fd = ::open(path.c_str(), flags, 0644);
#endif
    if (fd < 0) {
      if (error)
        *error = (create ? "cannot create " : "cannot open ") + zelto::platform::Utf8FromPath(path) + ": " + Why(errno);
      return nullptr;
    }
    return std::unique_ptr<File>(new File(fd, path));
  }

  ~File() { Close(); }

  bool Write(const std::uint8_t* data, std::size_t size) {
    if (!error_.empty() || fd_ < 0) return false;
    while (size > 0) {
#ifdef _WIN32
      const int n = _write(fd_, data, static_cast<unsigned>(std::min<std::size_t>(size, 1u << 30)));
#else
      const ssize_t n = ::write(fd_, data, size);
#endif
      if (n <= 0) {
        if (n < 0 && errno == EINTR) continue;
        error_ = "writing " + zelto::platform::Utf8FromPath(path_) + ": " + Why(n < 0 ? errno : EIO);
        return false;
      }
      data += n;
      size -= static_cast<std::size_t>(n);
      bytes_ += static_cast<std::uint64_t>(n);
    }
    return true;
  }

  // Also where a file system that stores lazily reports a full disk.
  bool Close() {
    if (fd_ < 0) return error_.empty();
#ifdef _WIN32
    const int result = _close(fd_);
#else
    const int result = ::close(fd_);
#endif
    fd_ = -1;
    if (result != 0 && error_.empty()) error_ = "closing " + zelto::platform::Utf8FromPath(path_) + ": " + Why(errno);
    return error_.empty();
  }

  std::uint64_t Bytes() const { return bytes_; }
  const std::string& Error() const { return error_; }

 private:
  File(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {}
  static std::string Why(int code) { return std::generic_category().message(code); }

  int fd_;
  std::filesystem::path path_;
  std::uint64_t bytes_ = 0;
  std::string error_;
};

namespace {

// Writes `count` null packets: padding that every reader skips.
bool WriteNullPackets(const CaptureSink& sink, std::uint64_t count) {
  constexpr std::uint64_t kBatch = 64;
  static const std::vector<std::uint8_t> batch = [] {
    std::vector<std::uint8_t> bytes(kBatch * CaptureStreamWriter::kPacketSize, 0xFF);
    for (std::uint64_t i = 0; i < kBatch; ++i) {
      std::uint8_t* packet = &bytes[i * CaptureStreamWriter::kPacketSize];
      packet[0] = 0x47;  // sync byte
      packet[1] = 0x1F;  // PID 0x1FFF
      packet[2] = 0xFF;
      packet[3] = 0x10;  // payload only
    }
    return bytes;
  }();
  while (count > 0) {
    const std::uint64_t n = std::min(count, kBatch);
    if (!sink(batch.data(), n * CaptureStreamWriter::kPacketSize)) return false;
    count -= n;
  }
  return true;
}

}  // namespace

std::unique_ptr<CaptureStreamWriter> CaptureStreamWriter::Create(const std::filesystem::path& file,
                                                                 unsigned framesPerSecond, bool wide,
                                                                 std::string* error) {
  return Open(file, true, framesPerSecond, wide, error);
}

std::unique_ptr<CaptureStreamWriter> CaptureStreamWriter::Append(const std::filesystem::path& file,
                                                                 unsigned framesPerSecond, bool wide,
                                                                 std::string* error) {
  return Open(file, false, framesPerSecond, wide, error);
}

std::unique_ptr<CaptureStreamWriter> CaptureStreamWriter::Open(const std::filesystem::path& path, bool create,
                                                               unsigned framesPerSecond, bool wide,
                                                               std::string* error) {
  if (framesPerSecond != 25 && framesPerSecond != 30) {
    if (error) *error = "unsupported frame rate " + std::to_string(framesPerSecond);
    return nullptr;
  }
  std::unique_ptr<File> file = File::Open(path, create, error);
  if (!file) return nullptr;
  std::unique_ptr<CaptureStreamWriter> writer(new CaptureStreamWriter(std::move(file), framesPerSecond));
  const CaptureStreamShape shape{wide ? 320 : 240, 180, framesPerSecond, kStreamBytesPerSecond};
  writer->content_ = CreateCaptureStreamContent(writer->FileSink(), shape, error);
  if (!writer->content_) return nullptr;
  return writer;
}

std::unique_ptr<CaptureStreamWriter> CaptureStreamWriter::CreateForPackets(const std::filesystem::path& path,
                                                                           std::string* error) {
  std::unique_ptr<File> file = File::Open(path, true, error);
  if (!file) return nullptr;
  return std::unique_ptr<CaptureStreamWriter>(new CaptureStreamWriter(std::move(file), 25));
}

bool CaptureStreamWriter::WritePackets(const std::uint8_t* data, std::size_t size, std::string* error) {
  if (content_ || (closed_ && failure_.empty())) {
    if (error) *error = content_ ? "a picture file takes no packets" : "the capture file is closed";
    return false;
  }
  if (failure_.empty() && !Store(data, size)) Fail(file_->Error());
  return Report(error);
}

CaptureStreamWriter::CaptureStreamWriter(std::unique_ptr<File> file, unsigned framesPerSecond)
    : file_(std::move(file)), framesPerSecond_(framesPerSecond) {}

CaptureStreamWriter::~CaptureStreamWriter() { Close(nullptr); }

CaptureSink CaptureStreamWriter::FileSink() {
  return [this](const std::uint8_t* data, std::size_t size) { return Store(data, size); };
}

bool CaptureStreamWriter::Store(const std::uint8_t* data, std::size_t size) {
  if (!damage_) {
    streamBytes_ += size;
    return file_->Write(data, size);
  }
  // Whole packets only: what the muxer writes need not end on one.
  constexpr auto kPacket = static_cast<std::size_t>(kPacketSize);
  scratch_.clear();
  const auto judge = [&] {  // the packet last put into scratch_
    const std::size_t at = scratch_.size() - kPacket;
    if (!damage_->Keep(scratch_.data() + at, streamBytes_, file_->Bytes() + at)) scratch_.resize(at);
    streamBytes_ += kPacket;
  };
  std::size_t used = 0;
  if (!partial_.empty()) {
    used = std::min(size, kPacket - partial_.size());
    partial_.insert(partial_.end(), data, data + used);
    if (partial_.size() < kPacket) return true;
    scratch_.swap(partial_);
    partial_.clear();
    judge();
  }
  for (; size - used >= kPacket; used += kPacket) {
    scratch_.insert(scratch_.end(), data + used, data + used + kPacket);
    judge();
  }
  partial_.assign(data + used, data + size);
  return scratch_.empty() || file_->Write(scratch_.data(), scratch_.size());
}

void CaptureStreamWriter::Fail(const std::string& why) {
  // The file's own account of a failed write says more than the library's.
  if (failure_.empty()) failure_ = file_->Error().empty() ? why : file_->Error();
}

bool CaptureStreamWriter::Report(std::string* error) const {
  if (!failure_.empty() && error) *error = failure_;
  return failure_.empty();
}

bool CaptureStreamWriter::WriteFrames(unsigned sceneNumber, std::uint32_t firstTimeCodeFrame, unsigned count,
                                      std::string* error) {
  if (!content_ && failure_.empty()) {
    if (error) *error = closed_ ? "the capture file is closed" : "a packet file takes no pictures";
    return false;
  }
  if (framesWritten_ == 0) firstTimeCode_ = firstTimeCodeFrame;
  std::string why;
  for (unsigned i = 0; i < count && failure_.empty(); ++i) {
    const PictureContent picture{sceneNumber, firstTimeCodeFrame + i, framesPerSecond_};
    // Timestamps run on from the file's first frame even where the time code
    // jumps (a capture across two scenes), as players need them to.
    const auto pts = static_cast<std::int64_t>(firstTimeCode_ + framesWritten_);
    if (!content_->Write(picture, pts, &why)) {
      Fail(why);
      break;
    }
    ++framesWritten_;
    // Without video no muxer paces the stream: the writer pads each frame.
    if (!HasVideo()) PadToFramesWritten();
  }
  return Report(error);
}

bool CaptureStreamWriter::HasVideo() noexcept { return ZELTO_SIM_HAVE_FFMPEG != 0; }

void CaptureStreamWriter::PadToFramesWritten() {
  const std::uint64_t packets = framesWritten_ * BytesPerFrame() / kPacketSize;
  const std::uint64_t have = streamBytes_ / kPacketSize;
  if (failure_.empty() && packets > have && !WriteNullPackets(FileSink(), packets - have)) Fail(file_->Error());
}

std::uint64_t CaptureStreamWriter::BytesWritten() const { return file_->Bytes(); }

bool CaptureStreamWriter::Close(std::string* error) {
  if (!closed_) {
    closed_ = true;
    std::string why;
    if (failure_.empty() && content_ && !content_->Finish(&why)) Fail(why);
    content_.reset();
    // The muxer stops short of the last frame's time on tape.
    PadToFramesWritten();
    // A packet cut short goes as it is.
    if (!partial_.empty() && failure_.empty() && !file_->Write(partial_.data(), partial_.size())) Fail(file_->Error());
    partial_.clear();
    if (!file_->Close()) Fail(file_->Error());
  }
  return Report(error);
}

}  // namespace zelto::sim
