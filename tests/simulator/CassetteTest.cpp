// Cassette files: what is accepted, what is refused and why, and the time
// code arithmetic of scenes.
#include <gtest/gtest.h>

#include "simulator/Cassette.h"

using namespace zelto::sim;

TEST(Cassette, JsonRoundTripKeepsEveryField) {
  Cassette c = Cassette::Default();
  c.writeProtected = true;
  c.hasMemory = false;
  c.positionTrack = 12345;
  c.scenes[1].videoSystem = 0;
  c.scenes[1].startFrame = 29;  // 00:00:00:29 exists only at 30 frames per second
  std::string error;
  const auto back = Cassette::FromJson(c.ToJson(), &error);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(back->lengthTracks, c.lengthTracks);
  EXPECT_EQ(back->positionTrack, 12345u);
  EXPECT_TRUE(back->writeProtected);
  EXPECT_FALSE(back->hasMemory);
  ASSERT_EQ(back->scenes.size(), c.scenes.size());
  for (std::size_t i = 0; i < c.scenes.size(); ++i) {
    EXPECT_EQ(back->scenes[i].startTrack, c.scenes[i].startTrack);
    EXPECT_EQ(back->scenes[i].endTrack, c.scenes[i].endTrack);
    EXPECT_EQ(back->scenes[i].startFrame, c.scenes[i].startFrame);
    EXPECT_EQ(back->scenes[i].recorded, c.scenes[i].recorded);
    EXPECT_EQ(back->scenes[i].videoSystem, c.scenes[i].videoSystem);
    EXPECT_EQ(back->scenes[i].wide, c.scenes[i].wide);
  }
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
  Scene pal;
  pal.startTrack = 300;
  pal.endTrack = 300 + 3600 * kTracksPerSecond;
  pal.startFrame = *ParseTimeCode("23:59:59:24", 25);
  auto r = pal.TimeCodeAt(300 + 12);  // one frame later: the day wraps
  EXPECT_EQ(r.hours, 0);
  EXPECT_EQ(r.minutes, 0);
  EXPECT_EQ(r.seconds, 0);
  EXPECT_EQ(r.frames, 0);
  Scene ntsc = pal;
  ntsc.videoSystem = 0;
  ntsc.startFrame = *ParseTimeCode("00:00:01:29", 30);
  r = ntsc.TimeCodeAt(300 + 10);
  EXPECT_EQ(r.seconds, 2);
  EXPECT_EQ(r.frames, 0);
  EXPECT_EQ(FormatTimeCode(*ParseTimeCode("01:02:03:04", 30), 30), "01:02:03:04");
  EXPECT_FALSE(ParseTimeCode("01:02:03:04x", 30));
  EXPECT_FALSE(ParseTimeCode("24:00:00:00", 30));
}

TEST(Cassette, OverwriteDropsCoveredScenesAndCutsOverlappedOnes) {
  Cassette c;
  c.lengthTracks = 10000;
  Scene a;
  a.startTrack = 1000;
  a.endTrack = 2000;
  Scene b = a;
  b.startTrack = 3000;
  b.endTrack = 4000;
  c.scenes = {a, b};
  Scene n;
  n.startTrack = 1500;
  n.endTrack = 3600;
  c.Overwrite(n);
  ASSERT_EQ(c.scenes.size(), 3u);
  EXPECT_EQ(c.scenes[0].endTrack, 1500u);
  EXPECT_EQ(c.scenes[1].startTrack, 1500u);
  EXPECT_EQ(c.scenes[2].startTrack, 3600u);
  EXPECT_EQ(c.scenes[2].startFrame, 600u * 25 / 300) << "the cut start's time code moves on";
  Scene all;
  all.startTrack = 0;
  all.endTrack = 10000;
  c.Overwrite(all);
  ASSERT_EQ(c.scenes.size(), 1u);
  EXPECT_EQ(c.Problem(), "");
}
