// The host's settings, one per process. Every getter and setter may be called
// from any thread.
//
// Defaults until the host sets them:
//   capture folder, cassette-memory database folder, temporary folder:
//       the system's temporary directory, as a wide Windows-style path
//   polling time: 500 ms
//   scapture stream time-out: 10000 ms
//   application video system: 0 (30 frames per second; non-zero means 25)
#pragma once

#include <mutex>

#include "host/foundation/OxFolder.h"
#include "host/foundation/OxString.h"
#include "platform/win32.h"

namespace Orvex {

class OxUnique {
public:
  static OxUnique& GetInstance();

  OxFolder GetCaptureFolder() const;
  OxFolder GetMicDataBaseFolder() const;
  OxFolder GetTempFolder() const;
  DWORD GetPollingTime() const;
  DWORD GetScaptureStreamTimeOut() const;
  int GetAppVideoSystem() const;

  void SetCaptureFolder(const OxString& path);
  void SetMicDataBaseFolder(const OxString& path);
  void SetTempFolder(const OxString& path);
  void SetPollingTime(DWORD milliseconds);
  void SetScaptureStreamTimeOut(DWORD milliseconds);
  void SetAppVideoSystem(int videoSystem);

  // Back to the defaults above (for tests and for a host that starts over).
  void ResetToDefaults();

  OxUnique(const OxUnique&) = delete;
  OxUnique& operator=(const OxUnique&) = delete;

private:
  OxUnique();

  mutable std::mutex mutex;
  OxString captureFolder;
  OxString micDataBaseFolder;
  OxString tempFolder;
  DWORD pollingTime = 0;
  DWORD scaptureStreamTimeOut = 0;
  int appVideoSystem = 0;
};

}  // namespace Orvex
