// The atom table behind registered window messages and window class names,
// and RegisterWindowMessageW.
#include "platform/posix/UserObjects.h"
#include "platform/posix/kernel.h"
#include "platform/posix/user.h"

#include <cwctype>
#include <mutex>
#include <unordered_map>

namespace zelto::platform::detail {

namespace {

constexpr ATOM kFirstAtom = 0xC000;
constexpr std::size_t kMaxAtomLength = 255;

struct AtomTable {
  std::mutex lock;
  std::unordered_map<std::wstring, ATOM> atoms;
  unsigned next = kFirstAtom;
};

AtomTable& Atoms() {
  static auto* table = new AtomTable;
  return *table;
}

std::wstring Fold(LPCWSTR name) {
  std::wstring folded(name);
  for (auto& c : folded) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
  return folded;
}

}  // namespace

ATOM AddAtom(LPCWSTR name, DWORD* error) {
  if (!name) {
    *error = ERROR_INVALID_PARAMETER;
    return 0;
  }
  std::size_t length = std::char_traits<wchar_t>::length(name);
  if (length == 0) {
    *error = ERROR_INVALID_NAME;
    return 0;
  }
  if (length > kMaxAtomLength) {
    *error = ERROR_INVALID_PARAMETER;
    return 0;
  }
  AtomTable& table = Atoms();
  std::wstring key = Fold(name);
  std::lock_guard<std::mutex> guard(table.lock);
  auto it = table.atoms.find(key);
  if (it != table.atoms.end()) return it->second;
  if (table.next > 0xFFFF) {
    *error = ERROR_NOT_ENOUGH_MEMORY;
    return 0;
  }
  ATOM atom = static_cast<ATOM>(table.next++);
  table.atoms.emplace(std::move(key), atom);
  return atom;
}

ATOM FindAtom(LPCWSTR name) {
  if (!name || !*name) return 0;
  AtomTable& table = Atoms();
  std::wstring key = Fold(name);
  std::lock_guard<std::mutex> guard(table.lock);
  auto it = table.atoms.find(key);
  return it == table.atoms.end() ? 0 : it->second;
}

}  // namespace zelto::platform::detail

UINT WINAPI RegisterWindowMessageW(LPCWSTR name) {
  DWORD error = ERROR_SUCCESS;
  ATOM atom = zelto::platform::detail::AddAtom(name, &error);
  if (!atom) SetLastError(error);
  return atom;
}
