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

TEST(Cassette, TheMemoryAndRecordedContentSurviveTheRoundTrip) {
  Cassette c = Cassette::Default();
  c.identity = "ZL-TEST";
  c.text = "Tape text \u00e9";
  c.cleaning = true;
  c.scenes[0].memoryKey = 4000000000u;
  c.scenes[2].content = SceneContent{"/tapes/clip.m2t", 188 * 1000, 10, 900, -5};
  std::string error;
  const auto back = Cassette::FromJson(c.ToJson(), &error);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(back->ToJson(), c.ToJson());
  EXPECT_EQ(std::tie(back->identity, back->title, back->text, back->cleaning),
            std::tie(c.identity, c.title, c.text, c.cleaning));
  EXPECT_EQ(back->scenes[0].memoryKey, 4000000000u);
  EXPECT_EQ(back->scenes[1].note, "Market");
  EXPECT_EQ(back->scenes[2].content, c.scenes[2].content);

  // A file that names no identity is given one from its scenes: the same
  // every time it is loaded, another for other scenes.
  const auto plain = Cassette::FromJson(R"({"length": 60, "scenes": [{"start": 5, "end": 9}]})", &error);
  const auto again = Cassette::FromJson(R"({"length": 60, "scenes": [{"start": 5, "end": 9}]})", &error);
  const auto other = Cassette::FromJson(R"({"length": 60, "scenes": [{"start": 5, "end": 10}]})", &error);
  ASSERT_TRUE(plain && again && other);
  EXPECT_FALSE(plain->identity.empty());
  EXPECT_EQ(plain->identity, again->identity);
  EXPECT_NE(plain->identity, other->identity);
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
      {R"({"length": 60, "scenes": [{"start": 5, "end": 9, "wide": 1}]})", "\"wide\""},
      {R"({"length": 60, "writeProtected": "yes"})", "true or false"},
      {R"({"length": 1e300})", "\"length\""},
      {R"({"length": 60, "memory": "yes"})", "\"memory\""},
      {R"({"length": 60, "memory": {"title": 5}})", "\"title\""},
      {R"({"length": 60, "memory": {"cleaning": "no"}})", "\"cleaning\""},
      {R"({"length": 60, "scenes": [{"start": 5, "end": 9, "key": -1}]})", "\"key\""},
      {R"({"length": 60, "scenes": [{"start": 5, "end": 9, "content": {"file": "a.m2t"}}]})", "\"content\""},
      {R"({"length": 60, "scenes": [{"start": 5, "end": 9, "content": {"file": "a.m2t", "fileSize": 188,
           "fromPacket": 0, "toPacket": 2, "atPacket": 0}}]})", "does not fit"},
      // Numbers too large for their field, and fractions where a count is
      // meant, are refused by name rather than converted.
      {R"({"length": 894785})", "\"length\""},
      {R"({"length": 60, "scenes": [{"start": 5, "end": 1e300}]})", "\"end\""},
      {R"({"length": 60, "scenes": [{"start": 5, "end": 9, "key": 4294967296}]})", "\"key\""},
      {R"({"length": 60, "scenes": [{"start": 5, "end": 9, "key": 1.5}]})", "\"key\""},
      {R"({"length": 60, "scenes": [{"start": 5, "end": 9, "videoSystem": 1e300}]})", "\"videoSystem\""},
      {R"({"length": 60, "scenes": [{"start": 5, "end": 9, "content": {"file": "a.m2t", "fileSize": 1e20,
           "fromPacket": 0, "toPacket": 0, "atPacket": 0}}]})", "\"fileSize\""},
      {R"({"length": 60, "scenes": [{"start": 5, "end": 9, "content": {"file": "a.m2t", "fileSize": 188,
           "fromPacket": 0, "toPacket": 1, "atPacket": -9223372036854775808}}]})", "\"atPacket\""},
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

  // A recording in the middle of a scene recorded from a file: the part
  // after it keeps the file's packets where they lay on the tape, and is a
  // new scene to the cassette memory.
  Cassette r;
  r.lengthTracks = 10000;
  r.scenes.resize(1);
  r.scenes[0].startTrack = 1000;
  r.scenes[0].endTrack = 4000;
  r.scenes[0].memoryKey = 7;
  r.scenes[0].content = SceneContent{"f.m2t", 188 * 100000, 0, 100000, 500};
  Scene middle;
  middle.startTrack = 2000;
  middle.endTrack = 3000;
  r.Overwrite(middle);
  ASSERT_EQ(r.scenes.size(), 3u);
  EXPECT_EQ(r.scenes[0].memoryKey, 7u);
  EXPECT_EQ(r.scenes[2].memoryKey, 0u);
  ASSERT_TRUE(r.scenes[2].content);
  EXPECT_EQ(r.scenes[2].content->atPacket, 500 - static_cast<std::int64_t>(PacketAtTrack(2000)));
  EXPECT_EQ(r.scenes[0].content, SceneContent({"f.m2t", 188 * 100000, 0, 100000, 500}));
}

TEST(Cassette, WornStretchesAreReadWhereverTheFileSaysAndKeepTheirPasses) {
  // A 25 and a 30 frames a second scene; the second's time code starts again.
  const std::string scenes = R"("length": 60, "scenes": [{"start": 10, "end": 20, "timeCode": "01:00:00:00"},
      {"start": 30, "end": 40, "timeCode": "01:00:00:00", "videoSystem": 0}])";
  struct Case {
    const char* damage;
    std::uint32_t startTrack;
    std::uint32_t endTrack;
    const char* problem;  // in the refusal; null: taken
  };
  const Case cases[] = {
      {R"({"start": 12.5, "seconds": 0.5, "lost": 0.1, "flagged": 0.2, "passes": 3})", 3750, 3900, nullptr},
      {R"({"start": 12.5, "end": 13, "lost": 0.1})", 3750, 3900, nullptr},
      {R"({"start": 12.5, "end": 13, "lost": 0.7, "flagged": 0.3})", 3750, 3900, nullptr},
      // The first scene that shows the time code, and frames at its rate.
      {R"({"timeCode": "01:00:02:00", "frames": 25})", 3600, 3900, nullptr},
      {R"({"timeCode": "01:00:12:00", "frames": 30})", 0, 0, "no scene shows the time code 01:00:12:00"},
      {R"({"timeCode": "01:00:02:27", "frames": 3})", 9000 + 2 * 300 + 270, 9000 + 2 * 300 + 300, nullptr},
      {R"({"start": 1, "timeCode": "01:00:02:00", "frames": 1})", 0, 0, "either \"start\""},
      {R"({"start": 1})", 0, 0, "give one of \"end\""},
      {R"({"start": 1, "seconds": 1, "frames": 2})", 0, 0, "give one of \"end\""},
      {R"({"start": 1, "seconds": 1, "lost": 0.7, "flagged": 0.4})", 0, 0, "together must be at most 1"},
      {R"({"start": 1, "seconds": 1, "lost": -0.1})", 0, 0, "lost"},
      {R"({"start": 59.5, "seconds": 1})", 0, 0, "runs past the end of the tape"},
      {R"({"start": 5, "end": 5})", 0, 0, "is empty"},
  };
  for (const Case& c : cases) {
    std::string error;
    const auto tape = Cassette::FromJson("{" + scenes + R"(, "damage": [)" + c.damage + "]}", &error);
    if (!c.problem) {
      ASSERT_TRUE(tape) << c.damage << ": " << error;
      ASSERT_EQ(tape->dropouts.size(), 1u);
      EXPECT_EQ(tape->dropouts[0].startTrack, c.startTrack) << c.damage;
      EXPECT_EQ(tape->dropouts[0].endTrack, c.endTrack) << c.damage;
      // Written back as it is kept, passes and all.
      const auto back = Cassette::FromJson(tape->ToJson(), &error);
      ASSERT_TRUE(back) << error;
      EXPECT_EQ(back->dropouts, tape->dropouts) << c.damage;
    } else {
      EXPECT_FALSE(tape) << c.damage;
      EXPECT_NE(error.find(c.problem), std::string::npos) << c.damage << ": " << error;
    }
  }
  std::string error;
  const auto overlapping = Cassette::FromJson(
      "{" + scenes + R"(, "damage": [{"start": 12, "seconds": 2}, {"start": 13, "seconds": 2}]})", &error);
  EXPECT_FALSE(overlapping);
  EXPECT_NE(error.find("overlaps"), std::string::npos) << error;
}
