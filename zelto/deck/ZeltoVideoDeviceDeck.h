// The device's deck: a controller on the driver, the current deck state, the
// cassette's media information, the camcorder mode and the scene search.
//
// Threads: the host calls the buttons and getters; the message receiver's
// thread runs the updates. The state, mode, media and search flag are
// atomics, so the two never race; the controller's driver calls are the
// driver's to serialise.
#pragma once

#include <atomic>
#include <memory>

#include "host/devevents/SceneSearchEventNotification.h"
#include "host/foundation/OxDeviceTypes.h"
#include "zelto/bridge/DriverInterfaces.h"
#include "zelto/bridge/ZeltoComPtr.h"
#include "zelto/deck/VideoCassette.h"
#include "zelto/deck/VideoDeviceState.h"
#include "zelto/deck/ZeltoVideoDeviceController.h"

class ZeltoVideoDeviceDeck {
public:
  // Throws std::runtime_error when the driver has no deck control.
  ZeltoVideoDeviceDeck(ZeltoComPtr<ISmartControl>* smartControl, Orvex::_OxVideoSystem videoSystem);
  virtual ~ZeltoVideoDeviceDeck();
  ZeltoVideoDeviceDeck(const ZeltoVideoDeviceDeck&) = delete;
  ZeltoVideoDeviceDeck& operator=(const ZeltoVideoDeviceDeck&) = delete;

  void UpdateDeviceState();
  void UpdateMediaInfo();
  void UpdateCamcorderMode();

  Orvex::_OxVideoDeviceState GetDeviceState();
  Orvex::_OxMediaInfo GetMediaInfo();
  Orvex::_OxCamcorderMode GetCamcorderMode();
  void GetTimecode(Orvex::OxTimeCode& timeCode);

  // Judged by the last state read; the state is not refreshed first.
  void DeckPlay();
  void DeckStop();
  void DeckPause();
  void DeckFastForward();
  void DeckFastRewind();
  void DeckPlaySlow();

  HRESULT Record();
  HRESULT RecordPause();
  HRESULT StopRecord();
  HRESULT SetRecordMode(bool record);

  void StartSeekATN(std::uint32_t absoluteTrackNumber);

  void AddEventListener(KelSafeEventListener<Orvex::OxSceneSearchEvent>* listener);
  // Waits for a pass under way on another thread, as the device's removals do.
  void RemoveEventListener(KelSafeEventListener<Orvex::OxSceneSearchEvent>* listener);
  Orvex::SceneSearchEventNotification& GetSceneSearchNotification() { return sceneSearchNotification; }

private:
  VideoDeviceState& stateFor(Orvex::_OxVideoDeviceState value);
  VideoDeviceState& current() const { return *currentState.load(); }

  Orvex::SceneSearchEventNotification sceneSearchNotification;
  std::unique_ptr<ZeltoVideoDeviceController> controller;
  std::atomic<VideoDeviceState*> currentState;
  ZeltoStopState stopState;
  ZeltoPlayState playState;
  ZeltoPauseState pauseState;
  ZeltoFastForwardState fastForwardState;
  ZeltoRewindState rewindState;
  ZeltoPlayFastestForwardState playFastestForwardState;
  ZeltoPlayFastestReverseState playFastestReverseState;
  ZeltoRecordState recordState;
  ZeltoRecordPauseState recordPauseState;
  ZeltoPlaySlowestForwardState playSlowestForwardState;
  ZeltoUnknownState unknownState;
  std::atomic<Orvex::_OxCamcorderMode> camcorderMode{Orvex::OX_CAMCORDER_MODE_UNKNOWN};
  VideoCassette cassette;
  std::atomic<bool> sceneSearch{false};
};
