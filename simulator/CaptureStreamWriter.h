// One capture file as the simulated camcorder's driver writes it while the
// play head crosses recorded tape: an MPEG transport stream at the constant
// rate the library assumes for tape, so that the file grows by
// kStreamBytesPerSecond for every second of tape and the library's progress
// figures, which it works out from file sizes, hold.
//
// With FFmpeg (ZELTO_SIM_HAVE_FFMPEG, see simulator/README.md) the stream
// carries MPEG-2 video of the SyntheticPicture, 320x180 for the 16:9 shape
// and 240x180 for 4:3, a key frame every half second and no B-frames, padded
// with null packets to the rate; any player opens it. Timestamps start at the
// first frame's time code and advance one frame per frame written. Without
// FFmpeg (the Windows build) it carries the stream's tables and padding only,
// at the same rate. Either way each file begins with its tables (and a key
// frame), so every part of a split capture opens by itself.
//
// One thread at a time.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zelto::sim {

class CaptureStreamContent;

// What the tape does to each packet of the stream on its way into the file
// (worn tape: see CaptureDamage).
class PacketDamage {
 public:
  // The packet that starts at `streamByte` of the stream as it was played
  // (before any loss), to be stored at `fileByte`; it may be changed. False:
  // it is lost.
  virtual bool Keep(std::uint8_t* packet, std::uint64_t streamByte, std::uint64_t fileByte) = 0;

 protected:
  ~PacketDamage() = default;
};

class CaptureStreamWriter {
 public:
  static constexpr std::uint64_t kStreamBytesPerSecond = 1'590'000;
  static constexpr std::uint64_t kPacketSize = 188;
  // Whether this build puts pictures into the files.
  static bool HasVideo() noexcept;

  // Creates the file for a stream of 25 or 30 frames a second. Null, with
  // the reason in *error, when the file exists (it is left alone) or cannot
  // be created.
  static std::unique_ptr<CaptureStreamWriter> Create(const std::filesystem::path& file, unsigned framesPerSecond,
                                                     bool wide, std::string* error);
  // The same at the end of something that exists already: a named pipe a
  // player reads, or a device such as /dev/full.
  static std::unique_ptr<CaptureStreamWriter> Append(const std::filesystem::path& file, unsigned framesPerSecond,
                                                     bool wide, std::string* error);

  // A file that takes a recorded stream's packets as they are (a scene
  // recorded from a file): nothing is drawn, nothing padded. It takes
  // WritePackets only.
  static std::unique_ptr<CaptureStreamWriter> CreateForPackets(const std::filesystem::path& file,
                                                               std::string* error);

  // Closes the file if Close has not, dropping any error.
  ~CaptureStreamWriter();
  CaptureStreamWriter(const CaptureStreamWriter&) = delete;
  CaptureStreamWriter& operator=(const CaptureStreamWriter&) = delete;

  // Appends `count` frames of a scene, the first showing the time code
  // `firstTimeCodeFrame` (in frames), each next one a frame later. False,
  // with the reason in *error, once anything has failed (a full disk, say);
  // every later call fails the same way.
  bool WriteFrames(unsigned sceneNumber, std::uint32_t firstTimeCodeFrame, unsigned count, std::string* error);

  // Appends whole packets of a packet file. False as WriteFrames.
  bool WritePackets(const std::uint8_t* data, std::size_t size, std::string* error);

  // From now on every whole packet passes `damage` (which outlives the
  // writer) on its way to the file; null: none.
  void SetDamage(PacketDamage* damage) { damage_ = damage; }

  // The bytes in the file so far. While frames are being written the file
  // trails them by up to a fifth of a second of the rate (the muxer's delay
  // and a frame); Close catches up.
  std::uint64_t BytesWritten() const;
  // The stream rate divided by the frame rate: after Close the file holds
  // this many bytes per frame written, less than one packet short. Split
  // captures decide from it how many frames fit under a size limit.
  std::uint64_t BytesPerFrame() const { return kStreamBytesPerSecond / framesPerSecond_; }

  // Finishes the stream, pads it to the size of the frames written and
  // closes the file: it is complete and playable. False, with the reason in
  // *error, when anything failed since Create. Later calls answer the same.
  bool Close(std::string* error);

 private:
  class File;
  static std::unique_ptr<CaptureStreamWriter> Open(const std::filesystem::path& path, bool create,
                                                   unsigned framesPerSecond, bool wide, std::string* error);
  CaptureStreamWriter(std::unique_ptr<File> file, unsigned framesPerSecond);
  std::function<bool(const std::uint8_t*, std::size_t)> FileSink();
  bool Report(std::string* error) const;
  // The stream's next bytes into the file, through the damage if any.
  bool Store(const std::uint8_t* data, std::size_t size);
  void Fail(const std::string& why);
  // Null packets up to the size of the frames written.
  void PadToFramesWritten();

  std::unique_ptr<File> file_;
  std::unique_ptr<CaptureStreamContent> content_;
  unsigned framesPerSecond_;
  std::uint64_t framesWritten_ = 0;
  std::uint64_t streamBytes_ = 0;  // given to Store, before any loss
  PacketDamage* damage_ = nullptr;
  std::vector<std::uint8_t> partial_;  // the start of a packet the damage has not seen yet
  std::vector<std::uint8_t> scratch_;
  std::uint32_t firstTimeCode_ = 0;
  bool closed_ = false;
  std::string failure_;
};

}  // namespace zelto::sim
