// Cassette files: what is accepted, what is refused and why, and the time
// code arithmetic of scenes.
#include <gtest/gtest.h>

#include <tuple>

#include "simulator/Cassette.h"

using namespace zelto::sim;

TEST(Cassette, JsonRoundTripKeepsEveryField) {
  // Every field moved off its default, so that one lost on the way shows.
  Cassette c = Cassette::Default();
  c.writeProtected = true;
  c.hasMemory = false;
  c.positionTrack = 12345;
  c.scenes[1].videoSystem = 0;
  c.scenes[1].startFrame = 29;  // 00:00:00:29 exists only at 30 frames per second
  c.scenes[1].wide = !c.scenes[1].wide;
  std::string error;
  const auto back = Cassette::FromJson(c.ToJson(), &error);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(back->ToJson(), c.ToJson());
  EXPECT_TRUE(back->writeProtected);
  EXPECT_FALSE(back->hasMemory);
  EXPECT_EQ(back->positionTrack, 12345u);
  ASSERT_EQ(back->scenes.size(), c.scenes.size());
  const Scene& s = back->scenes[1];
  EXPECT_EQ(std::tie(s.startTrack, s.endTrack, s.startFrame, s.recorded, s.videoSystem, s.wide),
            std::tie(c.scenes[1].startTrack, c.scenes[1].endTrack, c.scenes[1].startFrame, c.scenes[1].recorded,
                     c.scenes[1].videoSystem, c.scenes[1].wide));
}

TEST(Cassette, RefusesInconsistentFilesAndSaysWhy) {
  struct Case {
    const char* json;
    const char* why;
  };
  const Case cases[] = {
      {"not json", "not valid JSON"},
      {"[]", "JSON object"},
      {R"({"length": "long"})", "\"length\""},
      {R"({"length": -5})", "\"length\""},
      {R"({"length": 60, "position": 61})", "position beyond"},
      {R"({"length": 60, "scenes": {}})", "list"},
      {R"({"length": 60, "scenes": [{"start": 5}]})", "\"end\""},
      {R"({"length": 60, "scenes": [{"start": 5, "end": 5}]})", "empty"},
      {R"({"length": 60, "scenes": [{"start": 5, "end": 61}]})", "past the end"},
      {R"({"length": 60, "scenes": [{"start": 5, "end": 20}, {"start": 19, "end": 30}]})", "overlaps"},
      {R"({"length": 60, "scenes": [{"start": 5, "end": 9, "timeCode": "00:00:00:25"}]})", "timeCode"},
      {R"({"length": 60, "scenes": [{"start": 5, "end": 9, "timeCode": "0:0:0:0"}]})", "timeCode"},
      {R"({"length": 60, "scenes": [{"start": 5, "end": 9, "wide": 1}]})", "wrong type"},
      {R"({"length": 60, "writeProtected": "yes"})", "true or false"},
      {R"({"length": 1e300})", "\"length\""},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(Cassette::FromJson(c.json, &error)) << c.json;
    EXPECT_NE(error.find(c.why), std::string::npos) << c.json << " -> " << error;
  }
  EXPECT_FALSE(Cassette::Load("/nonexistent/zelto-cassette.json"));
}

TEST(Cassette, TimeCodesAtTwentyFiveAndThirtyFramesPerSecond) {
  auto hmsf = [](const __MIDL___MIDL_itf_plgdefs_0000_0001& r) {
    return std::vector<int>{r.hours, r.minutes, r.seconds, r.frames};
  };
  Scene pal;
  pal.startTrack = 300;
  pal.endTrack = 300 + 3600 * kTracksPerSecond;
  pal.startFrame = *ParseTimeCode("23:59:59:24", 25);
  EXPECT_EQ(hmsf(pal.TimeCodeAt(300 + 12)), (std::vector<int>{0, 0, 0, 0})) << "one frame later the day wraps";
  Scene ntsc = pal;
  ntsc.videoSystem = 0;
  ntsc.startFrame = *ParseTimeCode("00:00:01:29", 30);
  EXPECT_EQ(hmsf(ntsc.TimeCodeAt(300 + 10)), (std::vector<int>{0, 0, 2, 0}));
  EXPECT_EQ(FormatTimeCode(*ParseTimeCode("01:02:03:04", 30), 30), "01:02:03:04");
  EXPECT_FALSE(ParseTimeCode("01:02:03:04x", 30));
  EXPECT_FALSE(ParseTimeCode("24:00:00:00", 30));
}

TEST(Cassette, OverwriteDropsCoveredScenesAndCutsOverlappedOnes) {
  Cassette c;
  c.lengthTracks = 10000;
  c.scenes.resize(3);
  for (int i = 0; i < 3; ++i) {
    c.scenes[i].startTrack = 1000 + 1000 * i;
    c.scenes[i].endTrack = 1500 + 1000 * i;
  }
  // Over the end of the first, all of the second, the start of the third.
  Scene n;
  n.startTrack = 1200;
  n.endTrack = 3300;
  c.Overwrite(n);
  ASSERT_EQ(c.scenes.size(), 3u);
  EXPECT_EQ(c.scenes[0].endTrack, 1200u);
  EXPECT_EQ(c.scenes[1].startTrack, 1200u);
  EXPECT_EQ(c.scenes[2].startTrack, 3300u);
  EXPECT_EQ(c.scenes[2].startFrame, 300u * 25 / 300) << "the cut start's time code moves on";
  EXPECT_EQ(c.Problem(), "");
}
