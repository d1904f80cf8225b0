#include "simulator/RecordedFrame.h"

#if ZELTO_SIM_HAVE_FFMPEG
#include <algorithm>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include "ffmpeg/FfmpegSupport.h"
#include "platform/PlatformExtras.h"
#include "simulator/Cassette.h"
#endif

namespace zelto::sim {

#if ZELTO_SIM_HAVE_FFMPEG
namespace {

using namespace zelto::ffmpeg;

// How much of the file is read for one picture before giving up: four
// seconds of the stream rate, where a key picture comes twice a second.
constexpr std::int64_t kLongestSearchBytes = 4 * 1'590'000;

struct CloseInput {
  void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};

std::vector<std::uint8_t> Scaled(const AVFrame& frame, int width, int height) {
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3, 0);
  const std::unique_ptr<SwsContext, FreeScaler> scaler(
      sws_getContext(frame.width, frame.height, static_cast<AVPixelFormat>(frame.format), width, height,
                     AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr));
  if (!scaler) return {};
  std::uint8_t* planes[1] = {rgb.data()};
  const int strides[1] = {width * 3};
  if (sws_scale(scaler.get(), frame.data, frame.linesize, 0, frame.height, planes, strides) != height) return {};
  return rgb;
}

// From byte `from` on, the first picture (first) or the last one up to the
// end of the file.
std::optional<std::vector<std::uint8_t>> Decode(AVFormatContext& input, AVCodecContext& decoder, int stream,
                                                std::int64_t from, bool first, int width, int height) {
  if (av_seek_frame(&input, -1, from, AVSEEK_FLAG_BYTE) < 0) return std::nullopt;
  const std::unique_ptr<AVFrame, FreeFrame> frame(av_frame_alloc());
  const std::unique_ptr<AVPacket, FreePacket> read(av_packet_alloc());
  if (!frame || !read) return std::nullopt;
  std::vector<std::uint8_t> last;
  const auto take = [&] {
    while (avcodec_receive_frame(&decoder, frame.get()) == 0) {
      last = Scaled(*frame, width, height);
      if (first) return true;
    }
    return false;
  };
  bool keySeen = false;
  while (av_read_frame(&input, read.get()) >= 0) {
    const bool ours = read->stream_index == stream;
    const bool tooFar = first && read->pos >= 0 && read->pos - from > kLongestSearchBytes;
    keySeen = keySeen || (ours && (read->flags & AV_PKT_FLAG_KEY) != 0);
    const bool sent = ours && keySeen && avcodec_send_packet(&decoder, read.get()) >= 0;
    av_packet_unref(read.get());
    if (sent && take()) break;
    if (tooFar) break;
  }
  // The last pictures wait in the decoder at the end of the file.
  if ((last.empty() || !first) && keySeen && avcodec_send_packet(&decoder, nullptr) >= 0) take();
  if (last.empty()) return std::nullopt;
  return last;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> RecordedFrame(const std::filesystem::path& file, std::uint64_t packet,
                                                       int width, int height) {
  if (width <= 0 || height <= 0) return std::nullopt;
  // A picture taken from the middle of a stream may meet broken packets
  // before its first key picture; nothing of that is the host's business.
  KeepFfmpegQuiet();
  AVFormatContext* opened = nullptr;
  // FFmpeg takes UTF-8 file names on every system.
  const std::string name = zelto::platform::Utf8FromPath(file);
  if (avformat_open_input(&opened, name.c_str(), nullptr, nullptr) != 0)
    return std::nullopt;
  const std::unique_ptr<AVFormatContext, CloseInput> input(opened);
  if (avformat_find_stream_info(input.get(), nullptr) < 0) return std::nullopt;
  const int stream = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (stream < 0) return std::nullopt;
  const AVCodec* codec = avcodec_find_decoder(input->streams[stream]->codecpar->codec_id);
  if (!codec) return std::nullopt;
  const std::unique_ptr<AVCodecContext, FreeCodec> decoder(avcodec_alloc_context3(codec));
  if (!decoder) return std::nullopt;
  if (avcodec_parameters_to_context(decoder.get(), input->streams[stream]->codecpar) < 0) return std::nullopt;
  // Pictures whose references lie before the packet would come out broken.
  decoder->flags &= ~AV_CODEC_FLAG_OUTPUT_CORRUPT;
  decoder->thread_count = 1;
  if (avcodec_open2(decoder.get(), codec, nullptr) < 0) return std::nullopt;

  const auto from = static_cast<std::int64_t>(packet * kPacketBytes);
  if (std::optional<std::vector<std::uint8_t>> rgb = Decode(*input, *decoder, stream, from, true, width, height))
    return rgb;
  // Nothing from there to the end: the last picture before it.
  avcodec_flush_buffers(decoder.get());
  return Decode(*input, *decoder, stream, std::max<std::int64_t>(from - kLongestSearchBytes, 0), false, width,
                height);
}

#else

std::optional<std::vector<std::uint8_t>> RecordedFrame(const std::filesystem::path&, std::uint64_t, int, int) {
  return std::nullopt;
}

#endif

}  // namespace zelto::sim
