// Window classes: process-wide, by name without case (or by atom).
#include "platform/posix/UserObjects.h"
#include "platform/posix/kernel.h"
#include "platform/posix/user.h"

#include <map>
#include <mutex>

namespace zelto::platform::detail {

namespace {

struct ClassRegistry {
  std::mutex lock;
  std::map<ATOM, std::shared_ptr<WindowClass>> classes;
};

ClassRegistry& Registry() {
  static auto* registry = new ClassRegistry;
  return *registry;
}

bool IsAtomName(LPCWSTR name) { return reinterpret_cast<ULONG_PTR>(name) <= 0xFFFF; }

// The atom a class is known by, or 0.
ATOM AtomOf(LPCWSTR classNameOrAtom) {
  if (IsAtomName(classNameOrAtom)) return static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(classNameOrAtom));
  return FindAtom(classNameOrAtom);
}

}  // namespace

std::shared_ptr<WindowClass> AcquireClassForWindow(LPCWSTR classNameOrAtom) {
  ATOM atom = AtomOf(classNameOrAtom);
  if (!atom) return nullptr;
  ClassRegistry& registry = Registry();
  std::lock_guard<std::mutex> guard(registry.lock);
  auto it = registry.classes.find(atom);
  if (it == registry.classes.end()) return nullptr;
  ++it->second->windows;
  return it->second;
}

void ReleaseClassWindow(WindowClass& windowClass) {
  std::lock_guard<std::mutex> guard(Registry().lock);
  --windowClass.windows;
}

}  // namespace zelto::platform::detail

using namespace zelto::platform::detail;

ATOM WINAPI RegisterClassExW(const WNDCLASSEXW* windowClass) {
  if (!windowClass || windowClass->cbSize != sizeof(WNDCLASSEXW) || windowClass->cbClsExtra < 0 ||
      windowClass->cbWndExtra < 0 || !windowClass->lpszClassName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  ATOM atom;
  std::wstring name;
  if (IsAtomName(windowClass->lpszClassName)) {
    atom = static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(windowClass->lpszClassName));
    if (!atom) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
  } else {
    DWORD error = ERROR_SUCCESS;
    atom = AddAtom(windowClass->lpszClassName, &error);
    if (!atom) {
      SetLastError(error);
      return 0;
    }
    name = windowClass->lpszClassName;
  }
  auto entry = std::make_shared<WindowClass>();
  entry->atom = atom;
  entry->name = std::move(name);
  entry->style = windowClass->style;
  entry->procedure = windowClass->lpfnWndProc;
  entry->classExtra = windowClass->cbClsExtra;
  entry->windowExtra = windowClass->cbWndExtra;
  entry->instance = windowClass->hInstance ? windowClass->hInstance : GetModuleHandleW(nullptr);

  ClassRegistry& registry = Registry();
  std::lock_guard<std::mutex> guard(registry.lock);
  if (!registry.classes.emplace(atom, std::move(entry)).second) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  return atom;
}

BOOL WINAPI UnregisterClassW(LPCWSTR className, HINSTANCE) {
  ATOM atom = className ? AtomOf(className) : 0;
  ClassRegistry& registry = Registry();
  std::lock_guard<std::mutex> guard(registry.lock);
  auto it = atom ? registry.classes.find(atom) : registry.classes.end();
  if (it == registry.classes.end()) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  if (it->second->windows > 0) {
    SetLastError(ERROR_CLASS_HAS_WINDOWS);
    return FALSE;
  }
  registry.classes.erase(it);
  return TRUE;
}
