// Pictures decoded by libavformat's transport stream demuxer and
// libavcodec's decoder, reading through a ByteSource so that the stream is
// read once for both the packets and the pictures.
#include <algorithm>
#include <array>
#include <limits>
#include <memory>

#include "streamcheck/PictureCheck.h"
#include "streamcheck/TransportPacket.h"
// The owners of FFmpeg's objects and its quiet, shared with the simulator.
#include "ffmpeg/FfmpegSupport.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace zelto::streamcheck {

namespace {

using zelto::ffmpeg::FreeCodec;
using zelto::ffmpeg::FreeFrame;
using zelto::ffmpeg::FreePacket;

constexpr int kIoBufferBytes = 256 * 1024;
// Presentation times of recent packets the demuxer found damaged: a picture
// leaves the decoder a few packets after the data it is made of.
constexpr std::size_t kRecentDamage = 32;

struct FreeIo {
  void operator()(AVIOContext* io) const {
    av_freep(&io->buffer);
    avio_context_free(&io);
  }
};
struct CloseInput {
  void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};

int ReadSource(void* opaque, std::uint8_t* data, int size) {
  const std::size_t got = static_cast<ByteSource*>(opaque)->Read(data, static_cast<std::size_t>(size));
  return got == 0 ? AVERROR_EOF : static_cast<int>(got);
}

class Decoding {
 public:
  Decoding(AVCodecContext* decoder, AVRational timeBase, StreamReport& report)
      : decoder_(decoder), timeBase_(timeBase), report_(report), frame_(av_frame_alloc()) {}

  bool Ready() const { return frame_ != nullptr; }

  // Sends a packet (null: the end) and takes every picture it yields.
  void Send(const AVPacket* packet) {
    if (packet && (packet->flags & AV_PKT_FLAG_CORRUPT) && packet->pts != AV_NOPTS_VALUE) {
      recentDamage_[nextDamage_] = packet->pts;
      nextDamage_ = (nextDamage_ + 1) % kRecentDamage;
    }
    const int sent = avcodec_send_packet(decoder_, packet);
    if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_EOF && packet) {
      // The decoder refused the data outright: a picture that is not there.
      report_.AddDamagedPicture({Clock(packet->pts)});
      return;
    }
    while (avcodec_receive_frame(decoder_, frame_.get()) >= 0) {
      ++report_.pictures;
      const std::int64_t pts = frame_->best_effort_timestamp;
      const bool fromDamage =
          pts != AV_NOPTS_VALUE && std::find(recentDamage_.begin(), recentDamage_.end(), pts) != recentDamage_.end();
      if (frame_->decode_error_flags != 0 || (frame_->flags & AV_FRAME_FLAG_CORRUPT) != 0 || fromDamage)
        report_.AddDamagedPicture({Clock(pts)});
      av_frame_unref(frame_.get());
    }
  }

 private:
  std::optional<std::int64_t> Clock(std::int64_t pts) const {
    if (pts == AV_NOPTS_VALUE) return std::nullopt;
    return av_rescale_q(pts, timeBase_, AVRational{1, static_cast<int>(kClockHz)});
  }

  AVCodecContext* decoder_;
  AVRational timeBase_;
  StreamReport& report_;
  std::unique_ptr<AVFrame, FreeFrame> frame_;
  std::array<std::int64_t, kRecentDamage> recentDamage_ = [] {
    std::array<std::int64_t, kRecentDamage> none;
    none.fill(AV_NOPTS_VALUE);
    return none;
  }();
  std::size_t nextDamage_ = 0;
};

bool NotChecked(StreamReport& report, const char* why) {
  report.picturesChecked = false;
  report.picturesNotCheckedWhy = why;
  return false;
}

bool Check(ByteSource& source, StreamReport& report) {
  zelto::ffmpeg::KeepFfmpegQuiet();
  auto* buffer = static_cast<std::uint8_t*>(av_malloc(kIoBufferBytes));
  if (!buffer) return NotChecked(report, "out of memory");
  std::unique_ptr<AVIOContext, FreeIo> io(
      avio_alloc_context(buffer, kIoBufferBytes, 0, &source, &ReadSource, nullptr, nullptr));
  if (!io) {
    av_free(buffer);
    return NotChecked(report, "out of memory");
  }
  AVFormatContext* opened = avformat_alloc_context();
  if (!opened) return NotChecked(report, "out of memory");
  opened->pb = io.get();
  // Each PES as it came, with the damage the demuxer saw in it: a parser
  // would cut pictures out afresh and hand a PES's damage to the picture
  // before.
  opened->flags |= AVFMT_FLAG_CUSTOM_IO | AVFMT_FLAG_NOPARSE;
  if (avformat_open_input(&opened, nullptr, av_find_input_format("mpegts"), nullptr) < 0)
    return NotChecked(report, "the demuxer could not read the stream");
  std::unique_ptr<AVFormatContext, CloseInput> input(opened);
  if (avformat_find_stream_info(input.get(), nullptr) < 0)
    return NotChecked(report, "the demuxer found no streams");
  const AVCodec* codec = nullptr;
  const int video = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  if (video < 0 || !codec) return NotChecked(report, "no video stream it can decode");
  for (unsigned i = 0; i < input->nb_streams; ++i)
    if (static_cast<int>(i) != video) input->streams[i]->discard = AVDISCARD_ALL;
  AVStream* stream = input->streams[video];

  std::unique_ptr<AVCodecContext, FreeCodec> decoder(avcodec_alloc_context3(codec));
  if (!decoder || avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0)
    return NotChecked(report, "out of memory");
  decoder->pkt_timebase = stream->time_base;
  // A damaged picture comes out, marked, rather than being dropped unseen.
  decoder->flags |= AV_CODEC_FLAG_OUTPUT_CORRUPT;
  if (avcodec_open2(decoder.get(), codec, nullptr) < 0) return NotChecked(report, "the video decoder would not start");

  report.picturesChecked = true;
  Decoding decoding(decoder.get(), stream->time_base, report);
  std::unique_ptr<AVPacket, FreePacket> packet(av_packet_alloc());
  if (!packet || !decoding.Ready()) return NotChecked(report, "out of memory");
  while (av_read_frame(input.get(), packet.get()) >= 0) {
    if (packet->stream_index == video) decoding.Send(packet.get());
    av_packet_unref(packet.get());
  }
  decoding.Send(nullptr);

  AVRational rate = stream->avg_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) rate = stream->r_frame_rate;
  if (rate.num > 0 && rate.den > 0) report.framesPerSecond = av_q2d(rate);
  return true;
}

}  // namespace

bool CanCheckPictures() { return true; }

void CheckPictures(ByteSource& source, StreamReport& report) { Check(source, report); }

}  // namespace zelto::streamcheck
