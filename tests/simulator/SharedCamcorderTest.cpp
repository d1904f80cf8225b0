// Programs sharing one camcorder through its state file (here camcorder
// objects in one process, each standing for a program of its own): a scan
// hears of the command from another program that ends it, and a recording
// whose program is gone stops as a camcorder's does when its data stops.
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "simulator/Camcorder.h"
#include "tests/simulator/SimTestSupport.h"

using namespace zelto::sim;
using namespace sim_test;

namespace {

class SharedCamcorderTest : public FolderTest {
 protected:
  SharedCamcorderTest() : FolderTest("zelto-shared-") {}

  CamcorderConfig Config(const std::string& name = "state.json") const {
    CamcorderConfig config;
    config.stateFile = folder / name;
    config.timing.recordPauseLimitMs = 2000;
    return config;
  }

  // A camcorder with a window of its own that hears its events.
  struct Program {
    explicit Program(const CamcorderConfig& config) : camcorder(std::make_unique<Camcorder>(config)) {
      EXPECT_EQ(camcorder->Advise(events.Handle(), &cookie, this), S_OK);
    }
    ~Program() { Close(); }
    void Close() {
      if (!camcorder) return;
      camcorder->Unadvise(cookie, this);
      camcorder.reset();
    }
    EventWindow events;
    std::unique_ptr<Camcorder> camcorder;
    DWORD cookie = 0;
  };
};

}  // namespace

TEST_F(SharedCamcorderTest, AScanEndsWithAnErrorWhenAnotherProgramTakesTheDeck) {
  const DWORD commands[] = {DECK_COMMAND_STOP, DECK_COMMAND_PLAY, DECK_COMMAND_REWIND, DECK_COMMAND_PAUSE,
                            DECK_COMMAND_SEEK_ATN | 3000};
  for (const DWORD command : commands) {
    SCOPED_TRACE(command);
    const std::string name = "state-" + std::to_string(command) + ".json";
    Program scanning(Config(name));
    Program other(Config(name));
    ASSERT_EQ(scanning.camcorder->StartScan(0x301), S_OK);
    ASSERT_EQ(other.camcorder->SendCommand(command), S_OK);
    EXPECT_TRUE(scanning.events.WaitFor(DRIVER_EVENT_SCAN_ERROR, 0));
    EXPECT_FALSE(scanning.camcorder->Scanning());
    // The other program hears its own deck, and nothing of a scan it did
    // not start.
    ASSERT_TRUE(other.events.WaitForCount(DRIVER_EVENT_DECK_STATE, 1));
    EXPECT_TRUE(other.events.Arguments(DRIVER_EVENT_SCAN_ERROR).empty());
    EXPECT_TRUE(other.events.Arguments(DRIVER_EVENT_SCAN_COMPLETE).empty());
  }
}

TEST_F(SharedCamcorderTest, ARecordingWhoseProgramIsGoneStopsAndTheDeckGivesUp) {
  // Two seconds of stream after ten minutes of lead-in: it runs for as long
  // as the test does.
  const std::filesystem::path file = folder / "clip.m2t";
  {
    std::ofstream out(file, std::ios::binary);
    std::string packet(188, '\xFF');
    packet[0] = '\x47';
    for (int i = 0; i < 16900; ++i) out << packet;
  }
  struct Case {
    const char* what;
    bool recorderGone;
  };
  for (const Case c : {Case{"the recording program still there", false}, Case{"the recording program gone", true}}) {
    SCOPED_TRACE(c.what);
    const std::string name = std::string(c.recorderGone ? "gone" : "there") + ".json";
    auto recorder = std::make_unique<Program>(Config(name));
    Camcorder& deck = *recorder->camcorder;
    ASSERT_EQ(deck.SendCommand(DECK_COMMAND_RECORD_PAUSE), S_OK);
    ASSERT_EQ(deck.SetTransmitFile(zelto::platform::WidePath(file).c_str()), S_OK);
    ASSERT_EQ(deck.SetTransmitMargins(60000, 0), S_OK);
    ASSERT_EQ(deck.StartTransmit(), S_OK);
    ASSERT_EQ(deck.SendCommand(DECK_COMMAND_RECORD), S_OK);

    Program watching(Config(name));
    if (c.recorderGone) recorder->Close();
    // A change of the watching program's own makes it look at once.
    ASSERT_EQ(watching.camcorder->SetPreviewVolume(50), S_OK);
    if (!c.recorderGone) {
      EXPECT_EQ(watching.camcorder->DeckState(), DECK_STATE_RECORD);
      EXPECT_EQ(watching.camcorder->Transmit(), DeckModel::TransmitState::Started);
      continue;
    }
    EXPECT_EQ(watching.camcorder->Transmit(), DeckModel::TransmitState::Failed);
    EXPECT_TRUE(watching.events.WaitFor(DRIVER_EVENT_DECK_STATE, DECK_STATE_RECORD_PAUSE));
    // A program that opens now finds the same.
    EXPECT_EQ(Camcorder(Config(name)).DeckState(), DECK_STATE_RECORD_PAUSE);
    EXPECT_TRUE(watching.events.WaitFor(DRIVER_EVENT_DECK_STATE, DECK_STATE_STOP)) << "the record pause gives up";
    EXPECT_TRUE(watching.events.Arguments(DRIVER_EVENT_RECORDING_ERROR).empty()) << "not its recording";
    // And a new recording may start.
    ASSERT_EQ(watching.camcorder->SendCommand(DECK_COMMAND_RECORD_PAUSE), S_OK);
    ASSERT_EQ(watching.camcorder->SetTransmitFile(zelto::platform::WidePath(file).c_str()), S_OK);
    EXPECT_EQ(watching.camcorder->StartTransmit(), S_OK);
  }
}
