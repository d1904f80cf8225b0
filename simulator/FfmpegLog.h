// A driver prints nothing on the host's terminal, where zelto draws its
// progress bars: FFmpeg's messages are kept back. What fails comes back
// through our own results. A program that has chosen FFmpeg's log level
// keeps it.
#pragma once

#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

namespace zelto::sim {

inline void KeepFfmpegQuiet() {
  static std::once_flag quiet;
  std::call_once(quiet, [] {
    if (av_log_get_level() == AV_LOG_INFO) av_log_set_level(AV_LOG_FATAL);
  });
}

}  // namespace zelto::sim
