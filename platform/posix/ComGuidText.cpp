// GUIDs as registry text: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#include <cstdio>
#include <cwchar>

#include "platform/posix/com_api.h"

namespace {

constexpr int kGuidChars = 38;  // without the terminating null

int hexValue(WCHAR c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// Reads `digits` hex digits at text[at]; false on any other character.
bool readHex(LPCOLESTR text, int at, int digits, unsigned long long* value) {
  *value = 0;
  for (int i = 0; i < digits; ++i) {
    const int v = hexValue(text[at + i]);
    if (v < 0) return false;
    *value = *value << 4 | static_cast<unsigned>(v);
  }
  return true;
}

}  // namespace

int STDAPICALLTYPE StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
  if (lpsz == nullptr || cchMax <= kGuidChars) return 0;
  std::swprintf(lpsz, static_cast<std::size_t>(cchMax),
                L"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(rguid.Data1), rguid.Data2, rguid.Data3, rguid.Data4[0],
                rguid.Data4[1], rguid.Data4[2], rguid.Data4[3], rguid.Data4[4], rguid.Data4[5],
                rguid.Data4[6], rguid.Data4[7]);
  return kGuidChars + 1;
}

// A null text gives the null GUID, as COM does. Program identifiers are not
// looked up: there is no registry.
HRESULT STDAPICALLTYPE CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
  if (pclsid == nullptr) return E_INVALIDARG;
  if (lpsz == nullptr) {
    *pclsid = GUID_NULL;
    return S_OK;
  }
  // Stops at a terminator, so a short text is never read past its end.
  int length = 0;
  while (length <= kGuidChars && lpsz[length] != 0) ++length;
  if (length != kGuidChars || lpsz[0] != L'{' || lpsz[37] != L'}' || lpsz[9] != L'-' ||
      lpsz[14] != L'-' || lpsz[19] != L'-' || lpsz[24] != L'-')
    return CO_E_CLASSSTRING;
  GUID guid{};
  unsigned long long value = 0;
  if (!readHex(lpsz, 1, 8, &value)) return CO_E_CLASSSTRING;
  guid.Data1 = static_cast<DWORD>(value);
  if (!readHex(lpsz, 10, 4, &value)) return CO_E_CLASSSTRING;
  guid.Data2 = static_cast<WORD>(value);
  if (!readHex(lpsz, 15, 4, &value)) return CO_E_CLASSSTRING;
  guid.Data3 = static_cast<WORD>(value);
  static constexpr int kBytePositions[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!readHex(lpsz, kBytePositions[i], 2, &value)) return CO_E_CLASSSTRING;
    guid.Data4[i] = static_cast<BYTE>(value);
  }
  *pclsid = guid;
  return S_OK;
}
