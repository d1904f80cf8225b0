#include "host/foundation/OxUnique.h"

#include <filesystem>
#include <system_error>

#include "platform/PlatformExtras.h"

namespace Orvex {

namespace {

OxString systemTempFolder() {
  std::error_code ec;
  std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
  if (ec || temp.empty()) return OxString(L".");
  return OxString(std::wstring_view(zelto::platform::WidePath(temp)));
}

}  // namespace

OxUnique& OxUnique::GetInstance() {
  static OxUnique instance;
  return instance;
}

OxUnique::OxUnique() { ResetToDefaults(); }

void OxUnique::ResetToDefaults() {
  OxString temp = systemTempFolder();
  std::lock_guard<std::mutex> guard(mutex);
  captureFolder = temp;
  micDataBaseFolder = temp;
  tempFolder = temp;
  pollingTime = 500;
  scaptureStreamTimeOut = 10000;
  appVideoSystem = 0;
}

OxFolder OxUnique::GetCaptureFolder() const {
  std::lock_guard<std::mutex> guard(mutex);
  return OxFolder(captureFolder);
}

OxFolder OxUnique::GetMicDataBaseFolder() const {
  std::lock_guard<std::mutex> guard(mutex);
  return OxFolder(micDataBaseFolder);
}

OxFolder OxUnique::GetTempFolder() const {
  std::lock_guard<std::mutex> guard(mutex);
  return OxFolder(tempFolder);
}

DWORD OxUnique::GetPollingTime() const {
  std::lock_guard<std::mutex> guard(mutex);
  return pollingTime;
}

DWORD OxUnique::GetScaptureStreamTimeOut() const {
  std::lock_guard<std::mutex> guard(mutex);
  return scaptureStreamTimeOut;
}

int OxUnique::GetAppVideoSystem() const {
  std::lock_guard<std::mutex> guard(mutex);
  return appVideoSystem;
}

void OxUnique::SetCaptureFolder(const OxString& path) {
  std::lock_guard<std::mutex> guard(mutex);
  captureFolder = path;
}

void OxUnique::SetMicDataBaseFolder(const OxString& path) {
  std::lock_guard<std::mutex> guard(mutex);
  micDataBaseFolder = path;
}

void OxUnique::SetTempFolder(const OxString& path) {
  std::lock_guard<std::mutex> guard(mutex);
  tempFolder = path;
}

void OxUnique::SetPollingTime(DWORD milliseconds) {
  std::lock_guard<std::mutex> guard(mutex);
  pollingTime = milliseconds;
}

void OxUnique::SetScaptureStreamTimeOut(DWORD milliseconds) {
  std::lock_guard<std::mutex> guard(mutex);
  scaptureStreamTimeOut = milliseconds;
}

void OxUnique::SetAppVideoSystem(int videoSystem) {
  std::lock_guard<std::mutex> guard(mutex);
  appVideoSystem = videoSystem;
}

}  // namespace Orvex
