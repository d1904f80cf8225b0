// The scan's thumbnail of a scene recorded from a file shows that file's
// picture where the tape carries it, not the camera's title card, and black
// where the file can no longer be read.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "platform/PlatformExtras.h"
#include "simulator/CaptureStreamWriter.h"
#include "simulator/Cassette.h"
#include "simulator/SyntheticPicture.h"
#include "simulator/Thumbnail.h"
#include "tests/TestFolder.h"

using namespace zelto::sim;
namespace fs = std::filesystem;

namespace {

constexpr unsigned kFileScene = 7;  // the scene the recorded file shows
constexpr unsigned kFps = 25;
constexpr unsigned kFileFrames = 4 * kFps;
constexpr std::uint32_t kStart = 3000;               // the recorded scene's first track
constexpr std::uint32_t kMargin = kTracksPerSecond;  // blank tape before the file

// A thumbnail's pixels as RGB, top row first.
std::vector<std::uint8_t> Pixels(const Orvex::_THUMBNAIL_DATA* record) {
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(kThumbnailWidth) * kThumbnailHeight * 3);
  const std::size_t stride = static_cast<std::size_t>(kThumbnailWidth) * 3;  // a multiple of 4 already
  for (int y = 0; y < kThumbnailHeight; ++y) {
    const std::uint8_t* row = record->dibPointer + 40 + stride * static_cast<std::size_t>(kThumbnailHeight - 1 - y);
    for (std::size_t x = 0; x < stride; x += 3) {
      std::uint8_t* out = &rgb[stride * static_cast<std::size_t>(y) + x];
      out[0] = row[x + 2], out[1] = row[x + 1], out[2] = row[x];
    }
  }
  return rgb;
}

// The frame of the file the picture looks most like.
unsigned NearestFrame(const std::vector<std::uint8_t>& rgb) {
  SyntheticPicture drawn(kThumbnailWidth, kThumbnailHeight);
  unsigned best = 0;
  long long bestDistance = std::numeric_limits<long long>::max();
  for (unsigned frame = 0; frame < kFileFrames; ++frame) {
    const std::vector<std::uint8_t>& expected = drawn.Draw({kFileScene, frame, kFps});
    long long distance = 0;
    for (std::size_t i = 0; i < rgb.size(); ++i) distance += std::abs(int(rgb[i]) - int(expected[i]));
    if (distance < bestDistance) bestDistance = distance, best = frame;
  }
  return best;
}

class RecordedThumbnailTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = zelto::testing::TestFolder("zelto-recorded-thumbnail");
    zelto::testing::RemoveFolder(folder);
    fs::create_directories(folder);
  }
  void TearDown() override {
    std::error_code ignored;
    zelto::platform::RemoveTree(folder, ignored);
  }

  // Four seconds of scene 7 from time code 0, recorded after a second of
  // margin into a scene of six seconds.
  Scene RecordedScene(const std::string& name) {
    const fs::path file = folder / name;
    std::string error;
    auto writer = CaptureStreamWriter::Create(file, kFps, true, &error);
    EXPECT_TRUE(writer) << error;
    if (writer) {
      EXPECT_TRUE(writer->WriteFrames(kFileScene, 0, kFileFrames, &error)) << error;
      EXPECT_TRUE(writer->Close(&error)) << error;
    }
    Scene scene;
    scene.startTrack = kStart;
    scene.endTrack = kStart + 6 * kTracksPerSecond;
    SceneContent content;
    content.file = zelto::platform::Utf8FromPath(file);
    content.fileSize = fs::file_size(file);
    content.toPacket = content.fileSize / kPacketBytes;
    content.atPacket = static_cast<std::int64_t>(PacketAtTrack(kMargin));
    scene.content = content;
    return scene;
  }

  fs::path folder;
};

TEST_F(RecordedThumbnailTest, TheFilesPictureWhereTheTapeCarriesIt) {
  if (!CaptureStreamWriter::HasVideo()) GTEST_SKIP() << "this build writes no pictures into files";
  const Scene scene = RecordedScene("clip.m2t");
  struct Case {
    const char* where;
    std::uint32_t track;
    unsigned frame;  // the file's frame recorded there
  };
  const Case cases[] = {
      {"the scene's start, in the margin: the file's first picture", kStart, 0},
      {"where the file starts", kStart + kMargin, 0},
      {"two seconds into the file", kStart + kMargin + 2 * kTracksPerSecond, 2 * kFps},
      {"the margin after the file: its last stretch", kStart + 5 * kTracksPerSecond + 150, kFileFrames - 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.where);
    const Orvex::_THUMBNAIL_DATA* record = RecordedThumbnailRecord(scene, c.track, 42);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->sceneKey, 42u);
    const unsigned shown = NearestFrame(Pixels(record));
    // The picture comes from the first key picture at or after the packet,
    // half a second apart at most; the file's last frames have none after.
    if (c.frame == kFileFrames - 1) {
      EXPECT_GE(shown + kFps, c.frame) << shown;
    } else {
      EXPECT_GE(shown + 3, c.frame) << shown;
      EXPECT_LE(shown, c.frame + kFps / 2 + 3) << shown;
    }
  }
  // Not the camera's own picture of the scene number on the tape.
  const std::vector<std::uint8_t> recorded = Pixels(RecordedThumbnailRecord(scene, kStart, 42));
  SyntheticPicture camera(kThumbnailWidth, kThumbnailHeight);
  EXPECT_NE(recorded, camera.Draw({1, 0, kFps}));
}

TEST_F(RecordedThumbnailTest, BlackWhereTheFileIsGoneOrNothingOfItWasRecorded) {
  Scene gone = RecordedScene("gone.m2t");
  fs::remove(folder / "gone.m2t");
  Scene empty = RecordedScene("empty.m2t");
  empty.content->toPacket = empty.content->fromPacket;
  for (const Scene* scene : {&gone, &empty}) {
    const std::vector<std::uint8_t> rgb = Pixels(RecordedThumbnailRecord(*scene, kStart + kMargin, 5));
    EXPECT_EQ(rgb, std::vector<std::uint8_t>(rgb.size(), 0));
  }
}

}  // namespace
