// The host's idea of what each deck button does, checked against the
// library itself on the simulated camcorder: for every state the deck can
// be in and every button, the library either sends nothing (and the host
// refuses the button) or ends in the state the host would wait for.
#include <gtest/gtest.h>

#include "app/DeckButtons.h"
#include "app/ExitCode.h"
#include "app/Names.h"
#include "app/Session.h"
#include "simulator/SimulatedDriver.h"
#include "tests/app/AppTestSupport.h"
#include "tests/simulator/SimTestSupport.h"
#include "zelto/device/ZeltoVideoDevice.h"

using namespace apptest;
using namespace zelto::app;
using namespace Orvex;

namespace {

class DeckButtonsOnTheLibrary : public AppTest {};

TEST_F(DeckButtonsOnTheLibrary, EveryButtonInEveryStateDoesWhatTheHostExpects) {
  // Mid-tape, so that nothing reaches an end while the buttons are tried.
  zelto::sim::Cassette cassette = zelto::sim::Cassette::Default();
  cassette.positionTrack = cassette.lengthTracks / 2;
  SessionSettings settings;
  settings.global.dataFolder = folder / "data";
  settings.global.stateFile = folder / "state.json";
  settings.global.cassette = Cassette(cassette.ToJson());
  Session session(settings);
  std::string error;
  ASSERT_EQ(session.Open(&error), kExitOk) << error;
  ZeltoVideoDevice& device = session.Device();
  zelto::sim::Camcorder& camcorder = session.Simulator()->Panel();
  // The test's own way to the transport, past the library.
  sim_test::Ref<ISmartControl> control;
  sim_test::Ref<IDeckControl> deck;
  ASSERT_EQ(sim_test::BindFirstUnit(control.Out()), S_OK);
  ASSERT_EQ(control->QueryInterface(IID_IDeckControl, deck.OutVoid()), S_OK);

  struct Start {
    DWORD command;  // 0: stall the transport instead
    _OxVideoDeviceState reads;
  };
  const Start starts[] = {
      {DECK_COMMAND_STOP, OX_DEVICE_STATE_STOP},
      {DECK_COMMAND_PLAY, OX_DEVICE_STATE_PLAY},
      {DECK_COMMAND_PAUSE, OX_DEVICE_STATE_PAUSE},
      {DECK_COMMAND_FAST_FORWARD, OX_DEVICE_STATE_FAST_FORWARD},
      {DECK_COMMAND_REWIND, OX_DEVICE_STATE_REWIND},
      {DECK_COMMAND_PLAY_FASTEST_FORWARD, OX_DEVICE_STATE_PLAY_FASTEST_FORWARD},
      {DECK_COMMAND_PLAY_FASTEST_REVERSE, OX_DEVICE_STATE_PLAY_FASTEST_REVERSE},
      {DECK_COMMAND_PLAY_SLOWEST_FORWARD, OX_DEVICE_STATE_PLAY_SLOWEST_FORWARD},
      {DECK_COMMAND_RECORD, OX_DEVICE_STATE_RECORD_PAUSE},  // the library reads recording so
      {0, OX_DEVICE_STATE_UNKNOWN},
  };
  for (const Start& start : starts) {
    for (DeckAction action : {DeckAction::Play, DeckAction::Stop, DeckAction::Pause, DeckAction::FastForward,
                              DeckAction::Rewind, DeckAction::Slow}) {
      SCOPED_TRACE(DeviceStateName(start.reads) + ", " + DeckActionWord(action));
      camcorder.StallTransport(false);
      ASSERT_EQ(deck->SendCommand(DECK_COMMAND_STOP), S_OK);
      if (start.command != 0)
        ASSERT_EQ(deck->SendCommand(start.command), S_OK);
      else
        camcorder.StallTransport(true);
      ASSERT_EQ(device.GetDeviceState(), start.reads);

      const unsigned sent = camcorder.CallCount(zelto::sim::Method::SendCommand);
      PressDeckButton(device, action);
      const std::optional<_OxVideoDeviceState> target = DeckTarget(action, start.reads);
      if (target) {
        EXPECT_EQ(camcorder.CallCount(zelto::sim::Method::SendCommand), sent + 1);
        EXPECT_EQ(DeviceStateName(device.GetDeviceState()), DeviceStateName(*target));
      } else {
        EXPECT_EQ(camcorder.CallCount(zelto::sim::Method::SendCommand), sent) << "the host would refuse it";
      }
    }
  }
  camcorder.StallTransport(false);
}

}  // namespace
