// What a player makes of a capture file: its video frames where the build
// reads video (libavformat), and whether it is whole transport-stream
// packets, each with its sync byte, which every build can tell.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

#if ZELTO_SIM_HAVE_FFMPEG
extern "C" {
#include <libavformat/avformat.h>
}
#endif

namespace zelto::testing {

inline bool WholePackets(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<char> packet(188);
  std::uintmax_t packets = 0;
  while (in.read(packet.data(), 188)) {
    if (packet[0] != 0x47) return false;
    ++packets;
  }
  return in.gcount() == 0 && packets > 0;
}

#if ZELTO_SIM_HAVE_FFMPEG
// Video frames in a capture file as a player reads them; -1 when it does
// not open.
inline int FramesIn(const std::filesystem::path& file) {
  AVFormatContext* input = nullptr;
  if (avformat_open_input(&input, file.string().c_str(), nullptr, nullptr) != 0) return -1;
  int frames = 0;
  AVPacket* packet = av_packet_alloc();
  while (av_read_frame(input, packet) >= 0) {
    if (input->streams[packet->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) ++frames;
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  avformat_close_input(&input);
  return frames;
}
#endif

}  // namespace zelto::testing
