// The device's construction, initialisation, termination and destruction.
#include "zelto/device/ZeltoVideoDevice.h"

#include <stdexcept>

#include "host/cassettedb/IMicDatabaseManager.h"
#include "zelto/bridge/DriverInterfaces.h"
#include "zelto/capture/ZeltoVideoDevicePreview.h"
#include "zelto/capture/ZeltoVideoDeviceReceive.h"
#include "zelto/cassette/MicDatabaseFile.h"
#include "zelto/deck/ZeltoVideoDeviceDeck.h"
#include "zelto/device/ZeltoDeviceLiveness.h"
#include "zelto/events/ZeltoVideoDeviceMessageReceiver.h"
#include "zelto/record/ZeltoVideoDeviceTransmit.h"

using namespace Orvex;

namespace {

template <typename T>
void destroyComponent(std::atomic<T*>& component) {
  delete component.exchange(nullptr);
}

}  // namespace

ZeltoVideoDevice::ZeltoVideoDevice(const ConnectedZeltoVideoDevice& connected)
    : live(std::make_shared<ZeltoDeviceLiveness>()) {
  HRESULT bound = E_POINTER;
  {
    ConnectedZeltoVideoDevice unit(connected);
    if (!unit.IsEmpty())
      bound = unit.GetUnit()->BindToObject(nullptr, nullptr, IID_ISmartControl, smartControl.ReceiveVoid());
  }
  if (FAILED(bound) || !smartControl) throw std::runtime_error("ZltVideoDevice::ZltVideoDevice");

  micDatabaseManager = CreateMicDatabaseManager();
  if (!micDatabaseManager) throw std::runtime_error("ZltVideoDevice::MicDatabaseManager");
  memoryInCassette.SetMicDatabaseManager(micDatabaseManager);
  micDatabaseManager->AddEventListener(&memoryInCassette);
}

ZeltoVideoDevice::~ZeltoVideoDevice() {
  TerminateDevice();
  if (micDatabaseManager) {
    memoryInCassette.SetMicDatabaseManager(nullptr);
    micDatabaseManager->Destroy();
    micDatabaseManager = nullptr;
    // A destructor must not throw; a host library failing while the file is
    // compacted leaves the file as it was.
    try {
      compactMicDataBase();
    } catch (...) {
    }
  }
}

bool ZeltoVideoDevice::InitializeDevice(_OxVideoSystem newVideoSystem, bool newDeinterlaceEnable,
                                        const OxWindow* window, const OxRect* rect, bool newPreviewMuting,
                                        bool newPreviewMonitorVisible) {
  deinterlaceEnable = newDeinterlaceEnable;

  OxString databasePath;
  getMicDataBaseFileFullPath(databasePath);
  CreateMicDatabase(databasePath);
  micDatabaseManager->Open(databasePath, OX_MIC_DB_OPEN_READWRITE);
  micDatabaseManager->SetSmartControl(smartControl.Get());

  try {
    deck.store(new ZeltoVideoDeviceDeck(&smartControl, newVideoSystem));
    transmit.store(new ZeltoVideoDeviceTransmit(smartControl));
    preview.store(new ZeltoVideoDevicePreview(&smartControl));
    messageReceiver.store(new ZeltoVideoDeviceMessageReceiver(&smartControl, this));
    receive.store(new ZeltoVideoDeviceReceive(&smartControl, newVideoSystem, this));
    messageReceiver.load()->FollowCaptures(*receive.load()->reportGate());
  } catch (...) {
    TerminateDevice();
    return false;
  }

  ZeltoVideoDevicePreview* builtPreview = preview.load();
  if (builtPreview && window && rect) builtPreview->SetWindow(window, rect);
  setDecodeQuality();
  SetPreviewMuting(newPreviewMuting);
  previewMonitorVisible = newPreviewMonitorVisible;
  videoSystem = newVideoSystem;
  return true;
}

// The message receiver's thread dispatches driver events until the receiver
// is deleted, and its handlers reach the deck and the other components
// through this device. So the receiver is detached first: once
// DetachDevice returns, no handler is running on this device and none will
// start (on the receiver's own thread, none but the one calling this). The
// components then go in their fixed order and the driver sees the same
// calls in the same order as without the detach: the deck's release, then
// the window's unadvise when the receiver is released, then the smart
// control's release.
//
// Scapturing runs end before the detach: a handler under way may be waiting
// for a run (AbortScapturing), and on Windows that run's driver calls are
// carried out on this thread, which must dispatch its messages for them
// while it waits; the detach's plain wait for that handler would not. So
// the runs' aborts and deck stops reach the driver before the deck goes.
void ZeltoVideoDevice::TerminateDevice() {
  live->live.store(false);
  if (ZeltoVideoDeviceReceive* r = receive.load()) r->endScapturingRuns();
  if (ZeltoVideoDeviceMessageReceiver* receiver = messageReceiver.load()) receiver->DetachDevice();

  destroyComponent(deck);
  destroyComponent(transmit);
  destroyComponent(preview);
  destroyComponent(receive);
  ZeltoVideoDeviceMessageReceiver::Release(messageReceiver.exchange(nullptr));

  if (micDatabaseManager) {
    micDatabaseManager->RemoveEventListener(&memoryInCassette);
    micDatabaseManager->Close();
  }
  smartControl.Reset();
}

void ZeltoVideoDevice::getMicDataBaseFileFullPath(OxString& out) { zelto::cassette::MicDataBaseFileFullPath(out); }

void ZeltoVideoDevice::compactMicDataBase() { zelto::cassette::CompactMicDataBase(); }
