// What our uses of FFmpeg share (the simulated camcorder, the stream
// inspection): owners that free its objects, and its messages kept off the
// host's terminal.
#pragma once

#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

namespace zelto::ffmpeg {

struct FreeCodec {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FreeFrame {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct FreePacket {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FreeScaler {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};

// Nothing of ours prints on the host's terminal, where zelto draws its
// progress bars: FFmpeg's messages are kept back. What fails comes back
// through our own results. A program that has chosen FFmpeg's log level
// keeps it.
inline void KeepFfmpegQuiet() {
  static std::once_flag quiet;
  std::call_once(quiet, [] {
    if (av_log_get_level() == AV_LOG_INFO) av_log_set_level(AV_LOG_FATAL);
  });
}

}  // namespace zelto::ffmpeg
