// zelto verify on capture files the test damaged: what it says, in text and
// JSON, and the exit status a script relies on.
#include <nlohmann/json.hpp>

#include "app/ExitCode.h"
#include "tests/app/AppTestSupport.h"
#include "tests/streamcheck/StreamDamage.h"

namespace {

using namespace streamtest;

class VerifyCommandTest : public apptest::AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    std::string error;
    capture = CaptureStream(folder / "whole.zlt", 10, 0, &error);
    ASSERT_FALSE(capture.empty()) << error;
    // A packet flagged, then 500 bytes of garbage.
    WriteAll(folder / "damaged.zlt", WithGarbage(WithErrorFlags(capture, {1000}), 3000 * kPacketBytes, 500));
    WriteAll(folder / "notes.txt", Bytes(4000, 'x'));
  }
  std::string File(const char* name) { return Utf8(folder / name); }

  Bytes capture;
};

TEST_F(VerifyCommandTest, ExitStatusIsTheWorstOfTheFiles) {
  const struct {
    std::vector<const char*> files;
    int code;
  } cases[] = {
      {{"whole.zlt"}, zelto::app::kExitOk},
      {{"whole.zlt", "damaged.zlt"}, zelto::app::kExitDamaged},
      {{"damaged.zlt", "missing.zlt"}, zelto::app::kExitUsage},
      {{"notes.txt"}, zelto::app::kExitUsage},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"verify", "--no-pictures"};
    for (const char* f : c.files) args.push_back(File(f));
    const apptest::Result r = Zelto(args);
    EXPECT_EQ(r.code, c.code) << args.back() << "\n" << r.out << r.err;
  }
}

TEST_F(VerifyCommandTest, SaysWhereTheDamageIs) {
  const apptest::Result r = Zelto({"verify", "--no-pictures", File("damaged.zlt"), File("missing.zlt")});
  const std::string packets = std::to_string(PacketCount(capture));
  EXPECT_NE(r.out.find(File("damaged.zlt") + ": damaged; " + packets +
                       " packets, 0 lost, 1 flagged; sync lost 1 time, 500 bytes outside packets; pictures not "
                       "checked"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("  bytes 188000-188187 ("), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("): 1 packet flagged\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  bytes 564000-564499 ("), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("): 500 bytes outside packets\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("2 files: 0 whole, 1 damaged, 1 not inspected"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "zelto: " + File("missing.zlt") + ": no such file\n");
}

TEST_F(VerifyCommandTest, JsonCarriesTheFiguresAndTheSummary) {
  const apptest::Result r = Zelto({"verify", "--json", File("damaged.zlt"), File("notes.txt")});
  EXPECT_EQ(r.code, zelto::app::kExitUsage);
  std::istringstream lines(r.out);
  std::vector<nlohmann::json> events;
  for (std::string line; std::getline(lines, line);) events.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(events.size(), 3u) << r.out;
  const nlohmann::json& file = events[0];
  EXPECT_EQ(file["event"], "file");
  EXPECT_EQ(file["result"], "damaged");
  EXPECT_EQ(file["packets"], PacketCount(capture));
  EXPECT_EQ(file["packetsFlagged"], 1);
  EXPECT_EQ(file["bytesOutsidePackets"], 500);
  ASSERT_EQ(file["stretches"].size(), 2u);
  EXPECT_EQ(file["stretches"][1]["firstByte"], 3000 * kPacketBytes);
  EXPECT_EQ(file["stretches"][1]["endByte"], 3000 * kPacketBytes + 500);
  if (file["pictures"]["checked"]) {
    EXPECT_EQ(file["pictures"]["decoded"], 10);
    // The frame rate is known, so times are time codes.
    EXPECT_EQ(file["stretches"][0]["time"].get<std::string>().size(), std::string("00:00:00:00").size());
  }
  EXPECT_EQ(events[1]["event"], "error");
  EXPECT_EQ(events[1]["reason"], "not an MPEG transport stream (no packets found)");
  EXPECT_EQ(events[2]["event"], "summary");
  EXPECT_EQ(events[2]["damaged"], 1);
  EXPECT_EQ(events[2]["failed"], 1);
  EXPECT_EQ(events[2]["status"], zelto::app::kExitUsage);
}

}  // namespace
