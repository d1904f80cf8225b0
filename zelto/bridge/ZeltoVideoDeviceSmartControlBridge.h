// The auto-capturing thread's own hold on the driver: the smart control and
// the stream receive, unmarshalled from the smart-control singleton into a
// single-threaded apartment that this bridge enters, a deck controller of
// its own built on that smart control, and the few driver operations a
// scapturing run needs.
//
// Threads and apartments. Everything here runs on the auto-capturing
// thread, which is the apartment the interfaces were unmarshalled into. On
// Windows a driver that is not free-threaded hands that thread proxies whose
// calls run on the host's thread, and a proxy answers RPC_E_WRONG_THREAD to
// any other thread: so no other thread ever calls into a bridge (the host
// stops a run through its stop event, never through the bridge).
//
// Decisions:
// - InitializeSmartControl unmarshals both positions even when the first
//   fails, so that no marshal is left waiting for a run that will never
//   take it.
// - The references and the controller are let go inside the apartment, in
//   TerminateSmartControl, before the apartment is left: a proxy released
//   after its apartment has ended would be released too late.
#pragma once

#include <memory>

#include "host/foundation/OxDeviceTypes.h"
#include "zelto/bridge/DriverInterfaces.h"
#include "zelto/bridge/ZeltoComPtr.h"
#include "zelto/deck/ZeltoVideoDeviceController.h"

class ZeltoVideoDeviceSmartControlBridge {
public:
  ZeltoVideoDeviceSmartControlBridge();
  // TerminateSmartControl, then the parameter copy.
  virtual ~ZeltoVideoDeviceSmartControlBridge();
  ZeltoVideoDeviceSmartControlBridge(const ZeltoVideoDeviceSmartControlBridge&) = delete;
  ZeltoVideoDeviceSmartControlBridge& operator=(const ZeltoVideoDeviceSmartControlBridge&) = delete;

  void SetCapturingParam(const Orvex::_OxDirectCapturingParam& param);
  // Enters a single-threaded apartment, takes both interfaces from the
  // singleton (waiting for them to be marshalled) and builds the deck
  // controller. False when the apartment, an interface or the deck control
  // cannot be had; the apartment is then left again. Never throws. Without
  // memory for the controller, it stays null and the result is true.
  bool InitializeSmartControl();
  // Deletes the controller, lets the interfaces go and leaves the apartment
  // when it was entered and not yet left.
  void TerminateSmartControl();

  // The controller's play, stop and rewind; results are not looked at.
  // Without a controller: ZeltoVideoDeviceInstanceException, code 2.
  void DeckPlay();
  void DeckStop();
  void DeckFastRewind();
  // The controller's deck state; without one, the exception above.
  Orvex::_OxVideoDeviceState GetDeviceState();
  // The controller's media information; 0 without a controller.
  Orvex::_OxMediaInfo GetMediaInfo();
  // Folder, size limit and options from the parameters, the pattern
  // base-%03d-01.zlt, then IStreamReceive::StartDirect (its result is not
  // looked at). Without a stream receive, the exception above.
  void StartCapturing();
  // IStreamReceive::Abort; without a stream receive, the exception above.
  HRESULT AbortCapturing();

private:
  ZeltoVideoDeviceController& requireController();
  IStreamReceive& requireStreamReceive();

  ZeltoComPtr<ISmartControl> smartControl;
  std::unique_ptr<ZeltoVideoDeviceController> controller;
  ZeltoComPtr<IStreamReceive> streamReceive;
  Orvex::_OxDirectCapturingParam capturingParam;
  bool apartmentEntered = false;
};
