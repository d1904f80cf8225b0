// What the platform layer offers beyond the Win32 names: path and text
// conversion, the test clock, and fault hooks. Same API on every platform.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace zelto::platform {

// A Windows-style wide path ("C:\\x\\y" or "dir\\file") as a path the C++
// library can open here. On POSIX '\\' is a separator and text becomes UTF-8.
std::filesystem::path NativePath(std::wstring_view windowsPath);
#ifndef _WIN32
// The same as text, for a system call made often: no path object to parse.
std::string NativePathText(std::wstring_view windowsPath);
#endif

// The reverse: a native path as the wide text the Win32 API would show.
std::wstring WidePath(const std::filesystem::path& path);

std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view text);

// The factor by which the process clock runs faster than real time: Sleep,
// GetTickCount and wait time-outs all follow it. Read once from
// ZELTO_TIME_SCALE (default 1; a value it cannot take counts as 1, since the
// library has nobody to tell). Always 1 on Windows, where the system's clock
// is used.
double TimeScale();
// What ZELTO_TIME_SCALE's text asks for: 1 when unset or empty, none when it
// is not a finite number above zero.
std::optional<double> ParseTimeScale(const char* text);
// Empty when ZELTO_TIME_SCALE is unset or a value TimeScale() takes;
// otherwise one line naming the variable, its value and what it takes, for a
// program that must refuse rather than run at a speed nobody asked for.
std::string TimeScaleProblem();
// Tests only: change the factor while the process runs. No effect on Windows.
void SetTimeScaleForTesting(double scale);

// Tests only: the nth CoTaskMemAlloc from now on (1 = the next one) returns
// null; 0 switches the fault off. Counts every thread's calls.
void FailNthTaskMemAlloc(unsigned n);

}  // namespace zelto::platform
