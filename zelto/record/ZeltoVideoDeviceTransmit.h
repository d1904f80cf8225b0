// The device's handle on the driver's file-to-tape path. The driver reads
// the file and streams it to the camcorder itself; this component hands it
// the file and its two margins, starts and stops the sending, and keeps the
// record time of the item being recorded for the host's progress.
//
// Threads: the host's thread starts, stops and asks for progress; the
// message receiver's thread stops a recording the driver reports as ended.
// The component takes no lock: the driver serialises its own calls, the
// interface pointer changes only in the destructor, and the record time and
// the run state are atomics.
//
// Run state. Whether the driver is sending is the driver's to know; what
// this component knows is whether the device has a recording under way,
// from the moment it starts bringing one up (Begin) until a StopTransmit:
//   idle -> starting (Begin) -> sending (MarkSending) -> idle (StopTransmit),
//   or starting -> idle (Abandon) when the deck never got ready, or
//   starting/sending -> idle (Claim) when the camcorder is gone.
// StopTransmit may come from the message receiver's thread while the
// host's thread is still starting: MarkSending then fails and the starter
// knows that the recording was ended under it. StopTransmit leaves the
// state idle before it asks the driver to stop, so that a start the driver
// sees after that stop always finds MarkSending failing (see the
// recording operations in ZeltoVideoDeviceRecording.cpp).
#pragma once

#include <atomic>
#include <cstdint>

#include "host/foundation/OxString.h"
#include "zelto/bridge/DriverInterfaces.h"
#include "zelto/bridge/ZeltoComPtr.h"

class ZeltoVideoDeviceTransmit {
public:
  // Takes the driver's stream transmit from smartControl, whose reference
  // is let go before the constructor returns. Throws std::runtime_error
  // "ZeltoVideoDeviceTransmit::SetSourceDevice" when the driver has none.
  explicit ZeltoVideoDeviceTransmit(ZeltoComPtr<ISmartControl> smartControl);
  virtual ~ZeltoVideoDeviceTransmit();
  ZeltoVideoDeviceTransmit(const ZeltoVideoDeviceTransmit&) = delete;
  ZeltoVideoDeviceTransmit& operator=(const ZeltoVideoDeviceTransmit&) = delete;

  // Lets go of the driver's interface; the sending operations then do
  // nothing.
  void ReleaseSourceDevice();

  void SetRecordTime(unsigned long time);
  // Throws std::runtime_error "ZeltoVideoDeviceTransmit::GetRecordTime"
  // while the record time is 0 (never set, or set to 0).
  unsigned long GetRecordTime() const;

  // The file to send and its margins; the margins go to the driver only
  // when it accepts the file. Nothing is reported either way.
  void SetTransmitFile(Orvex::OxString path, long firstMargin, long secondMargin);
  void StartTransmit();
  // Stops the sending, clears the driver's file (an empty path, margins 0
  // and 0) and pauses 1000 ms; with no interface, does nothing at all.
  void StopTransmit();

  // ---- Run state (see above) ----
  void Begin();
  // starting -> sending; false when a stop came first.
  bool MarkSending();
  // starting -> idle, for a start given up before anything was sent.
  void Abandon();
  // starting or sending -> idle, for the end of a recording whose camcorder
  // is gone; true for the one caller that ended it, which tells the host.
  bool Claim();
  // A recording is being started or is sending.
  bool IsRecording() const;
  // Still starting: no stop has come since Begin.
  bool IsStarting() const;

private:
  enum : int { idle = 0, starting = 1, sending = 2 };

  void SetSourceDevice(ZeltoComPtr<ISmartControl>& smartControl);

  std::atomic<std::uint32_t> recordTime{0};
  ZeltoComPtr<IStreamTransmit> transmitInterface;
  std::atomic<int> runState{idle};
};
