// Thin value wrappers for a window rectangle and a window handle.
#pragma once

#include "platform/win32.h"

namespace Orvex {

class OxRect {
public:
  OxRect() : rect{0, 0, 0, 0} {}
  OxRect(LONG left, LONG top, LONG right, LONG bottom) : rect{left, top, right, bottom} {}
  explicit OxRect(const RECT& r) : rect(r) {}
  virtual ~OxRect() = default;
  OxRect(const OxRect&) = default;
  OxRect& operator=(const OxRect&) = default;

  RECT GetRect() const { return rect; }
  void SetRect(const RECT& r) { rect = r; }
  LONG GetWidth() const { return rect.right - rect.left; }
  LONG GetHeight() const { return rect.bottom - rect.top; }

private:
  RECT rect;
};

class OxWindow {
public:
  explicit OxWindow(HWND hwnd = nullptr) : hwnd(hwnd) {}
  virtual ~OxWindow() = default;
  OxWindow(const OxWindow&) = default;
  OxWindow& operator=(const OxWindow&) = default;

  HWND GetHwnd() const { return hwnd; }
  void SetHwnd(HWND value) { hwnd = value; }

private:
  HWND hwnd;
};

}  // namespace Orvex
