// lstrcmpW and friends. Windows compares linguistically ("word sort"); this
// follows its main rules for the characters file names and model texts use:
// letters compare without case first, then lower case before upper case;
// hyphens and apostrophes count only when all else is equal; symbols sort
// before digits and digits before letters. Null sorts before any string.
#include "platform/posix/kernel.h"

#include <cwctype>

namespace {

bool Ignorable(wchar_t c) { return c == L'-' || c == L'\''; }

bool IsSymbol(wchar_t c) {
  return c < 0x80 && !((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'));
}

// Latin-1 letters sort with their base letter; the accent matters only when
// all else is equal (before case).
wchar_t BaseLetter(wchar_t c) {
  static const char kBase[] = "aaaaaaaceeeeiiiidnooooo\0ouuuuyts"  // U+00C0..U+00DF
                              "aaaaaaaceeeeiiiidnooooo\0ouuuuyty";  // U+00E0..U+00FF
  if (c >= 0xC0 && c <= 0xFF && kBase[c - 0xC0] != '\0') return static_cast<wchar_t>(kBase[c - 0xC0]);
  return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
}

unsigned long Weight(wchar_t c) {
  if (IsSymbol(c) || c == 0xD7 || c == 0xF7) return static_cast<unsigned long>(c);
  return 0x10000ul + static_cast<unsigned long>(BaseLetter(c));
}

bool IsUpper(wchar_t c) {
  return (c >= 0xC0 && c <= 0xDE && c != 0xD7) || std::iswupper(static_cast<wint_t>(c));
}
wchar_t Lower(wchar_t c) {
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<wchar_t>(c + 0x20);
  return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
}

const wchar_t* SkipIgnorable(const wchar_t* p) {
  while (*p && Ignorable(*p)) ++p;
  return p;
}

int Sign(long long v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

int Compare(LPCWSTR a, LPCWSTR b, bool ignoreCase) {
  if (!a || !b) return a ? 1 : b ? -1 : 0;
  // Level 1: letters without accent or case, ignorable characters skipped.
  int accentOrder = 0, caseOrder = 0;
  const wchar_t* p = SkipIgnorable(a);
  const wchar_t* q = SkipIgnorable(b);
  for (; *p && *q; p = SkipIgnorable(p + 1), q = SkipIgnorable(q + 1)) {
    unsigned long wp = Weight(*p), wq = Weight(*q);
    if (wp != wq) return wp < wq ? -1 : 1;
    // Remembered for later levels: the first accent difference (plain
    // first), the first case difference (lower case first).
    wchar_t lp = Lower(*p), lq = Lower(*q);
    if (!accentOrder && lp != lq) accentOrder = lp < lq ? -1 : 1;
    if (!caseOrder && lp == lq && *p != *q) caseOrder = IsUpper(*p) ? 1 : -1;
  }
  if (*p || *q) return *p ? 1 : -1;
  if (accentOrder) return accentOrder;
  if (!ignoreCase && caseOrder) return caseOrder;
  // Level 3: the ignorable characters; fewer of them first, then code order.
  int ignorableA = 0, ignorableB = 0;
  for (p = a; *p; ++p) ignorableA += Ignorable(*p);
  for (q = b; *q; ++q) ignorableB += Ignorable(*q);
  if (ignorableA != ignorableB) return ignorableA < ignorableB ? -1 : 1;
  for (p = a, q = b; *p && *q; ++p, ++q) {
    if (*p != *q && (Ignorable(*p) || Ignorable(*q))) return Sign(static_cast<long long>(*p) - *q);
  }
  return 0;
}

}  // namespace

int WINAPI lstrcmpW(LPCWSTR first, LPCWSTR second) { return Compare(first, second, false); }

int WINAPI lstrcmpiW(LPCWSTR first, LPCWSTR second) { return Compare(first, second, true); }

int WINAPI lstrlenW(LPCWSTR text) {
  if (!text) return 0;
  int n = 0;
  while (text[n]) ++n;
  return n;
}
