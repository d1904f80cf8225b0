// The simulated camera's picture and the capture files made of it. Both
// builds: packet framing and a size that follows the tape; natively also a
// transport stream of MPEG-2 video that libavformat reads back, each part of
// a split capture on its own, from its own time code.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "simulator/CaptureStreamWriter.h"
#include "simulator/SyntheticPicture.h"
#include "platform/PlatformExtras.h"

#if ZELTO_SIM_HAVE_FFMPEG
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}
#endif

using namespace zelto::sim;
namespace fs = std::filesystem;

namespace {

using Rgb = std::vector<std::uint8_t>;

bool IsText(const std::uint8_t* p) { return p[0] > 200 && p[1] > 200 && p[2] > 200; }
bool IsBar(const std::uint8_t* p) { return p[0] < 40 && p[1] < 40 && p[2] < 40; }

// Whether, in rows [from, to), one picture has text where the other has not.
bool TextDiffers(const Rgb& a, const Rgb& b, int width, int from, int to) {
  for (std::size_t i = static_cast<std::size_t>(from * width) * 3; i < static_cast<std::size_t>(to * width) * 3; i += 3)
    if (IsText(&a[i]) != IsText(&b[i])) return true;
  return false;
}

TEST(SyntheticPicture, SceneNumberAboveTimeCodeBelow) {
  constexpr int kWidth = 320, kHeight = 180;
  SyntheticPicture picture(kWidth, kHeight);
  const Rgb scene2 = picture.Draw({2, 100, 25});
  // Scenes 2 and 10 share a background: only the drawn number tells them apart.
  const Rgb scene10 = picture.Draw({10, 100, 25});
  // One second on, the bar stands where it stood: only the time code moved.
  const Rgb secondLater = picture.Draw({2, 125, 25});
  EXPECT_TRUE(TextDiffers(scene2, scene10, kWidth, 0, kHeight / 2));
  EXPECT_FALSE(TextDiffers(scene2, scene10, kWidth, kHeight / 2, kHeight));
  EXPECT_FALSE(TextDiffers(scene2, secondLater, kWidth, 0, kHeight / 2));
  EXPECT_TRUE(TextDiffers(scene2, secondLater, kWidth, kHeight / 2, kHeight));
  // The time code counts frames at the given rate: 00:00:04:00 at 25, 00:00:03:10 at 30.
  EXPECT_TRUE(TextDiffers(scene2, picture.Draw({2, 100, 30}), kWidth, kHeight / 2, kHeight));
}

TEST(SyntheticPicture, BarSweepsAcrossOnceASecond) {
  SyntheticPicture picture(160, 90);
  auto barAt = [&](std::uint32_t frame) {
    const Rgb& rgb = picture.Draw({1, frame, 25});
    const std::uint8_t* bottom = &rgb[static_cast<std::size_t>(89 * 160) * 3];  // below the text
    for (int x = 0; x < 160; ++x)
      if (IsBar(bottom + x * 3)) return x;
    return -1;
  };
  int last = -1;
  for (std::uint32_t frame : {50u, 56u, 62u, 68u, 74u}) {
    const int x = barAt(frame);
    EXPECT_GT(x, last) << "frame " << frame;
    last = x;
  }
  EXPECT_EQ(barAt(75), barAt(50));
}

TEST(SyntheticPicture, AnySizeStaysInItsBuffer) {
  // Under the address sanitizer a glyph or bar drawn past an edge fails here.
  for (auto [w, h] : {std::pair{1, 1}, {7, 5}, {161, 91}, {1000, 12}, {12, 1000}}) {
    SyntheticPicture picture(w, h);
    EXPECT_EQ(picture.Draw({12, 3599, 30}).size(), static_cast<std::size_t>(w * h * 3));
    EXPECT_EQ(picture.BottomUpBgr().size(), static_cast<std::size_t>((w * 3 + 3) / 4 * 4 * h));
  }
}

TEST(SyntheticPicture, BitmapIsBottomUpBgrWithPaddedRows) {
  constexpr int kWidth = 161, kHeight = 90;  // 483 bytes a row, 484 in the bitmap
  constexpr std::size_t kStride = 484;
  SyntheticPicture picture(kWidth, kHeight);
  const Rgb rgb = picture.Draw({1, 30, 25});  // scene 1: red, so a swap of red and blue shows
  const std::vector<std::uint8_t> bits = picture.BottomUpBgr();
  ASSERT_EQ(bits.size(), kStride * kHeight);
  auto rgbAt = [&](int x, int y) { return &rgb[static_cast<std::size_t>(y * kWidth + x) * 3]; };
  auto bitsAt = [&](int x, int y) { return &bits[static_cast<std::size_t>(kHeight - 1 - y) * kStride + x * 3]; };
  // A pixel of the time code, low in the picture, lies in the bitmap's upper rows.
  int textX = -1, textY = kHeight * 3 / 4;
  for (int x = 0; x < kWidth && textX < 0; ++x)
    if (IsText(rgbAt(x, textY))) textX = x;
  ASSERT_GE(textX, 0);
  EXPECT_TRUE(IsText(bitsAt(textX, textY)));
  EXPECT_FALSE(IsText(&bits[static_cast<std::size_t>(textY) * kStride + textX * 3]));
  for (auto [x, y] : {std::pair{kWidth - 1, 0}, {kWidth - 1, kHeight - 1}}) {
    const std::uint8_t* from = rgbAt(x, y);
    const std::uint8_t* to = bitsAt(x, y);
    EXPECT_EQ((std::vector<int>{to[0], to[1], to[2]}), (std::vector<int>{from[2], from[1], from[0]}));
  }
  ASSERT_NE(rgbAt(kWidth - 1, 0)[0], rgbAt(kWidth - 1, 0)[2]);
  for (int row = 0; row < kHeight; ++row) EXPECT_EQ(bits[static_cast<std::size_t>(row) * kStride + 483], 0);
}

// A fresh directory per test, removed afterwards; its random part keeps
// test runs in other work trees on the same machine out of it.
class ScratchDir {
 public:
  ScratchDir() {
    path_ = fs::temp_directory_path() /
            ("zelto-capture-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
             std::to_string(std::random_device{}()));
    fs::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    zelto::platform::RemoveTree(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  fs::path operator/(const char* name) const { return path_ / name; }

 private:
  fs::path path_;
};

std::vector<std::uint8_t> ReadBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int PidAt(const std::vector<std::uint8_t>& bytes, std::size_t packet) {
  const std::size_t at = packet * CaptureStreamWriter::kPacketSize;
  return (bytes[at + 1] & 0x1F) << 8 | bytes[at + 2];
}

TEST(CaptureStreamWriter, GrowsAtTheTapeRateInWholePackets) {
  ScratchDir dir;
  for (unsigned fps : {25u, 30u}) {
    SCOPED_TRACE(fps);
    const fs::path file = dir / (fps == 25 ? "25.m2t" : "30.m2t");
    std::string error;
    auto writer = CaptureStreamWriter::Create(file, fps, fps == 25, &error);
    ASSERT_TRUE(writer) << error;
    // Two seconds of tape, five frames at a time; the file keeps up with the
    // tape while it is written, within a fifth of a second.
    const std::uint64_t slack = CaptureStreamWriter::kStreamBytesPerSecond / 5;
    for (unsigned frame = 0; frame < 2 * fps; frame += 5) {
      ASSERT_TRUE(writer->WriteFrames(1, 750 + frame, 5, &error)) << error;
      const std::uint64_t tape = (frame + 5) * writer->BytesPerFrame();
      EXPECT_LE(writer->BytesWritten(), tape);
      EXPECT_GE(writer->BytesWritten() + slack, tape) << "after " << frame + 5 << " frames";
    }
    ASSERT_TRUE(writer->Close(&error)) << error;

    const std::vector<std::uint8_t> bytes = ReadBytes(file);
    EXPECT_EQ(bytes.size(), writer->BytesWritten());
    const std::uint64_t tape = 2 * CaptureStreamWriter::kStreamBytesPerSecond;
    EXPECT_LE(bytes.size(), tape);
    EXPECT_GT(bytes.size() + CaptureStreamWriter::kPacketSize, tape);
    ASSERT_EQ(bytes.size() % CaptureStreamWriter::kPacketSize, 0u);
    const std::size_t packets = bytes.size() / CaptureStreamWriter::kPacketSize;
    for (std::size_t i = 0; i < packets; ++i)
      ASSERT_EQ(bytes[i * CaptureStreamWriter::kPacketSize], 0x47) << "packet " << i;
    // The tables come first (a service description may precede them): a
    // reader that starts here finds the program at once.
    std::size_t first = 0;
    while (first < packets && PidAt(bytes, first) == 0x11) ++first;
    ASSERT_LT(first + 1, packets);
    EXPECT_EQ(PidAt(bytes, first), 0);
    EXPECT_EQ(PidAt(bytes, first + 1), 0x1000);
  }
}

TEST(CaptureStreamWriter, RefusesExistingFilesAndPlacesItCannotWrite) {
  ScratchDir dir;
  const fs::path existing = dir / "taken.m2t";
  std::ofstream(existing) << "keep";
  std::string error;
  EXPECT_FALSE(CaptureStreamWriter::Create(existing, 25, true, &error));
  EXPECT_NE(error.find("taken.m2t"), std::string::npos) << error;
  EXPECT_EQ(ReadBytes(existing), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));

  error.clear();
  EXPECT_FALSE(CaptureStreamWriter::Create(dir / "missing" / "a.m2t", 25, true, &error));
  EXPECT_NE(error.find("a.m2t"), std::string::npos) << error;

  error.clear();
  EXPECT_FALSE(CaptureStreamWriter::Create(dir / "24.m2t", 24, true, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(fs::exists(dir / "24.m2t"));
}

TEST(CaptureStreamWriter, FullDiskIsReportedByEveryLaterCall) {
#ifndef __linux__
  GTEST_SKIP() << "needs /dev/full";
#endif
  std::string error;
  auto writer = CaptureStreamWriter::Append("/dev/full", 25, true, &error);
  ASSERT_TRUE(writer) << error;
  EXPECT_FALSE(writer->WriteFrames(1, 0, 25, &error));
  EXPECT_NE(error.find("No space left"), std::string::npos) << error;
  error.clear();
  EXPECT_FALSE(writer->WriteFrames(1, 25, 1, &error));
  EXPECT_NE(error.find("No space left"), std::string::npos) << error;
  error.clear();
  EXPECT_FALSE(writer->Close(&error));
  EXPECT_NE(error.find("No space left"), std::string::npos) << error;
  EXPECT_EQ(writer->BytesWritten(), 0u);
}

#if ZELTO_SIM_HAVE_FFMPEG

struct Written {
  fs::path file;
  unsigned fps;
  bool wide;
  unsigned scene;
  std::uint32_t firstTimeCode;
  unsigned frames;
};

template <typename T, void (*Free)(T**)>
struct Freer {
  void operator()(T* p) const { Free(&p); }
};
using Input = std::unique_ptr<AVFormatContext, Freer<AVFormatContext, avformat_close_input>>;
using Packet = std::unique_ptr<AVPacket, Freer<AVPacket, av_packet_free>>;
using Decoder = std::unique_ptr<AVCodecContext, Freer<AVCodecContext, avcodec_free_context>>;
using Frame = std::unique_ptr<AVFrame, Freer<AVFrame, av_frame_free>>;

// Reads a file back as a player would and checks it against what was written.
void ExpectPlayable(const Written& w) {
  SCOPED_TRACE(w.file.filename().string());
  AVFormatContext* opened = nullptr;
  ASSERT_EQ(avformat_open_input(&opened, w.file.string().c_str(), nullptr, nullptr), 0);
  Input input(opened);
  ASSERT_GE(avformat_find_stream_info(opened, nullptr), 0);
  EXPECT_STREQ(input->iformat->name, "mpegts");
  ASSERT_EQ(input->nb_streams, 1u);
  const AVStream* stream = input->streams[0];
  EXPECT_EQ(stream->codecpar->codec_id, AV_CODEC_ID_MPEG2VIDEO);
  EXPECT_EQ(stream->codecpar->width, w.wide ? 320 : 240);
  EXPECT_EQ(stream->codecpar->height, 180);
  const double seconds = static_cast<double>(w.frames) / w.fps;
  EXPECT_NEAR(static_cast<double>(input->duration) / AV_TIME_BASE, seconds, 0.5);  // a GOP

  // Every frame, one after the other from the first frame's time code.
  const std::int64_t tick = 90000 / w.fps;
  Packet packet(av_packet_alloc()), first(av_packet_alloc());
  std::vector<std::int64_t> pts;
  std::vector<std::size_t> keyFrames;
  while (av_read_frame(input.get(), packet.get()) >= 0) {
    if (pts.empty()) av_packet_ref(first.get(), packet.get());
    if (packet->flags & AV_PKT_FLAG_KEY) keyFrames.push_back(pts.size());
    pts.push_back(packet->pts);
    av_packet_unref(packet.get());
  }
  ASSERT_EQ(pts.size(), w.frames);
  for (std::size_t i = 0; i < pts.size(); ++i)
    ASSERT_EQ(pts[i], (w.firstTimeCode + static_cast<std::int64_t>(i)) * tick) << "frame " << i;
  // A key frame first and every half second, where a player can start.
  std::vector<std::size_t> halfSeconds;
  for (std::size_t i = 0; i < w.frames; i += w.fps / 2) halfSeconds.push_back(i);
  EXPECT_EQ(keyFrames, halfSeconds);

  // The first frame decodes by itself and shows the scene's background.
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG2VIDEO);
  Decoder decoder(avcodec_alloc_context3(codec));
  avcodec_parameters_to_context(decoder.get(), stream->codecpar);
  ASSERT_EQ(avcodec_open2(decoder.get(), codec, nullptr), 0);
  Frame frame(av_frame_alloc());
  EXPECT_EQ(avcodec_send_packet(decoder.get(), first.get()), 0);
  avcodec_send_packet(decoder.get(), nullptr);
  ASSERT_EQ(avcodec_receive_frame(decoder.get(), frame.get()), 0);
  SyntheticPicture picture(frame->width, frame->height);
  const Rgb& drawn = picture.Draw({w.scene, w.firstTimeCode, w.fps});
  const int x = frame->width - 3, y = 2;  // a corner with nothing drawn over the background
  const std::uint8_t* rgb = &drawn[static_cast<std::size_t>(y * frame->width + x) * 3];
  const double luma = 16 + (65.738 * rgb[0] + 129.057 * rgb[1] + 25.064 * rgb[2]) / 256;
  EXPECT_NEAR(frame->data[0][y * frame->linesize[0] + x], luma, 6);
}

TEST(CaptureStreamWriter, FilesPlayAsMpeg2VideoFromTheirOwnTimeCode) {
  ScratchDir dir;
  std::string error;
  const std::uint32_t tenMinutes = 10 * 60 * 25 + 5;  // 00:10:00:05
  const Written parts[] = {{dir / "part1.m2t", 25, true, 3, tenMinutes, 50},
                           {dir / "part2.m2t", 25, true, 3, tenMinutes + 50, 37},
                           {dir / "narrow.m2t", 30, false, 4, 0, 45}};
  // A capture split in two: the second file goes on where the first stopped.
  for (const Written& part : {parts[0], parts[1]}) {
    auto writer = CaptureStreamWriter::Create(part.file, part.fps, part.wide, &error);
    ASSERT_TRUE(writer) << error;
    ASSERT_TRUE(writer->WriteFrames(part.scene, part.firstTimeCode, 20, &error)) << error;
    ASSERT_TRUE(writer->WriteFrames(part.scene, part.firstTimeCode + 20, part.frames - 20, &error)) << error;
    ASSERT_TRUE(writer->Close(&error)) << error;
  }
  // A capture across two scenes, the second's time code lower than the
  // first's: the file's timestamps still run on.
  auto writer = CaptureStreamWriter::Create(parts[2].file, 30, false, &error);
  ASSERT_TRUE(writer) << error;
  ASSERT_TRUE(writer->WriteFrames(4, 0, 30, &error)) << error;
  ASSERT_TRUE(writer->WriteFrames(5, 10, 15, &error)) << error;
  ASSERT_TRUE(writer->Close(&error)) << error;

  for (const Written& part : parts) ExpectPlayable(part);
}

#endif

}  // namespace
