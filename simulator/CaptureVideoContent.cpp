// Capture content with pictures: the SyntheticPicture of each frame,
// converted by libswscale, encoded as MPEG-2 by libavcodec and put into a
// transport stream by libavformat, whose muxer pads with null packets to the
// stream rate.
#include <memory>
#include <string>

#include "simulator/CaptureStreamContent.h"
#include "ffmpeg/FfmpegSupport.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace zelto::sim {

namespace {

using namespace zelto::ffmpeg;

// How far the video may run ahead of the stream's clock (the PCR). Frames
// here are a few kilobytes, far less than a tenth of a second of the rate.
constexpr int kMuxDelayMicroseconds = 100'000;
constexpr int kIoBufferBytes = 64 * 1024;
// A fixed quantiser: the pictures are flat and small, and rate control would
// only spend time.
constexpr int kQuantiser = 4;

#if LIBAVFORMAT_VERSION_MAJOR >= 61
using IoBuffer = const std::uint8_t*;
#else
using IoBuffer = std::uint8_t*;
#endif

std::string Describe(const char* what, int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return std::string(what) + ": " + text;
}

struct FreeIo {
  void operator()(AVIOContext* io) const {
    av_freep(&io->buffer);
    avio_context_free(&io);
  }
};
struct FreeMuxer {
  void operator()(AVFormatContext* f) const { avformat_free_context(f); }
};

class VideoContent final : public CaptureStreamContent {
 public:
  VideoContent(CaptureSink sink, const CaptureStreamShape& shape) : sink_(std::move(sink)), picture_(shape.width, shape.height) {}

  bool Open(const CaptureStreamShape& shape, std::string* error) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG2VIDEO);
    if (!codec) return Failed("no MPEG-2 video encoder", error);
    encoder_.reset(avcodec_alloc_context3(codec));
    frame_.reset(av_frame_alloc());
    packet_.reset(av_packet_alloc());
    if (!encoder_ || !frame_ || !packet_) return Failed("out of memory", error);

    const int fps = static_cast<int>(shape.framesPerSecond);
    encoder_->width = shape.width;
    encoder_->height = shape.height;
    encoder_->pix_fmt = AV_PIX_FMT_YUV420P;
    encoder_->sample_aspect_ratio = {1, 1};
    encoder_->time_base = {1, fps};
    encoder_->framerate = {fps, 1};
    encoder_->gop_size = fps / 2;
    // No B-frames and no reordering delay: each frame leaves the encoder as
    // it goes in, decoded and shown at its own time code.
    encoder_->max_b_frames = 0;
    encoder_->flags |= AV_CODEC_FLAG_QSCALE | AV_CODEC_FLAG_LOW_DELAY;
    encoder_->global_quality = FF_QP2LAMBDA * kQuantiser;
    encoder_->thread_count = 1;  // a real-time frame each 40 ms needs no helpers
    if (int r = avcodec_open2(encoder_.get(), codec, nullptr); r < 0) return Failed(Describe("encoder", r), error);

    frame_->format = encoder_->pix_fmt;
    frame_->width = shape.width;
    frame_->height = shape.height;
    if (int r = av_frame_get_buffer(frame_.get(), 0); r < 0) return Failed(Describe("picture", r), error);
    scaler_.reset(sws_getContext(shape.width, shape.height, AV_PIX_FMT_RGB24, shape.width, shape.height,
                                 AV_PIX_FMT_YUV420P, SWS_POINT, nullptr, nullptr, nullptr));
    if (!scaler_) return Failed("no RGB to YUV conversion", error);

    AVFormatContext* muxer = nullptr;
    if (int r = avformat_alloc_output_context2(&muxer, nullptr, "mpegts", nullptr); r < 0)
      return Failed(Describe("muxer", r), error);
    muxer_.reset(muxer);
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferBytes));
    if (!buffer) return Failed("out of memory", error);
    io_.reset(avio_alloc_context(buffer, kIoBufferBytes, 1, this, nullptr, &VideoContent::Sink, nullptr));
    if (!io_) {
      av_free(buffer);
      return Failed("out of memory", error);
    }
    muxer_->pb = io_.get();
    muxer_->flags |= AVFMT_FLAG_CUSTOM_IO;
    muxer_->max_delay = kMuxDelayMicroseconds;
    // Every packet goes to the file at once, so that its size follows the tape.
    muxer_->flush_packets = 1;
    stream_ = avformat_new_stream(muxer_.get(), nullptr);
    if (!stream_) return Failed("out of memory", error);
    stream_->time_base = encoder_->time_base;
    if (int r = avcodec_parameters_from_context(stream_->codecpar, encoder_.get()); r < 0)
      return Failed(Describe("stream", r), error);

    AVDictionary* options = nullptr;
    av_dict_set_int(&options, "muxrate", static_cast<std::int64_t>(shape.bytesPerSecond * 8), 0);
    // Timestamps as given: a file's first frame carries its time code.
    av_dict_set_int(&options, "mpegts_copyts", 1, 0);
    const int r = avformat_write_header(muxer_.get(), &options);
    // An option the muxer did not take would leave the rate or the
    // timestamps quietly wrong.
    const bool allTaken = av_dict_count(options) == 0;
    av_dict_free(&options);
    if (r < 0) return Failed(Describe("stream header", r), error);
    if (!allTaken) return Failed("the transport stream muxer lacks an option it needs", error);
    return true;
  }

  bool Write(const PictureContent& picture, std::int64_t pts, std::string* error) override {
    if (int r = av_frame_make_writable(frame_.get()); r < 0) return Failed(Describe("picture", r), error);
    const std::uint8_t* rgb[1] = {picture_.Draw(picture).data()};
    const int rgbStride[1] = {picture_.Width() * 3};
    sws_scale(scaler_.get(), rgb, rgbStride, 0, picture_.Height(), frame_->data, frame_->linesize);
    frame_->pts = pts;
    frame_->quality = encoder_->global_quality;
    return Encode(frame_.get(), error);
  }

  bool Finish(std::string* error) override {
    if (!Encode(nullptr, error)) return false;
    if (int r = av_write_trailer(muxer_.get()); r < 0) return Failed(Describe("writing", r), error);
    return true;
  }

 private:
  static bool Failed(const std::string& why, std::string* error) {
    if (error) *error = why;
    return false;
  }

  static int Sink(void* opaque, IoBuffer data, int size) {
    auto* self = static_cast<VideoContent*>(opaque);
    return self->sink_(data, static_cast<std::size_t>(size)) ? size : AVERROR(EIO);
  }

  // Sends a frame (null: the end) and muxes every packet it yields.
  bool Encode(AVFrame* frame, std::string* error) {
    if (int r = avcodec_send_frame(encoder_.get(), frame); r < 0) return Failed(Describe("encoding", r), error);
    for (;;) {
      int r = avcodec_receive_packet(encoder_.get(), packet_.get());
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
      if (r < 0) return Failed(Describe("encoding", r), error);
      av_packet_rescale_ts(packet_.get(), encoder_->time_base, stream_->time_base);
      packet_->stream_index = stream_->index;
      r = av_write_frame(muxer_.get(), packet_.get());
      av_packet_unref(packet_.get());
      if (r < 0) return Failed(Describe("writing", r), error);
    }
  }

  CaptureSink sink_;
  SyntheticPicture picture_;
  std::unique_ptr<AVCodecContext, FreeCodec> encoder_;
  std::unique_ptr<AVFrame, FreeFrame> frame_;
  std::unique_ptr<AVPacket, FreePacket> packet_;
  std::unique_ptr<SwsContext, FreeScaler> scaler_;
  // The muxer goes before the I/O context it writes through.
  std::unique_ptr<AVIOContext, FreeIo> io_;
  std::unique_ptr<AVFormatContext, FreeMuxer> muxer_;
  AVStream* stream_ = nullptr;
};

}  // namespace

std::unique_ptr<CaptureStreamContent> CreateCaptureStreamContent(CaptureSink sink, const CaptureStreamShape& shape,
                                                                 std::string* error) {
  // The muxer warns once a file that the first frame comes with the first
  // clock reference rather than before it, which players ignore.
  KeepFfmpegQuiet();
  auto content = std::make_unique<VideoContent>(std::move(sink), shape);
  if (!content->Open(shape, error)) return nullptr;
  return content;
}

}  // namespace zelto::sim
