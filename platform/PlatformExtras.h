// What the platform layer offers beyond the Win32 names: path and text
// conversion, the test clock, and fault hooks. Same API on every platform.
//
// Text and paths: every conversion between wide text, UTF-8 text and a path
// goes through the functions below, never through the C++ library's own
// conversions (path(std::string), path(std::wstring), path::string(),
// path::wstring()), which follow the C++ locale on POSIX and the ANSI code
// page on Windows, and throw or mangle a name outside ASCII. None of these
// throws on malformed input: what cannot be converted becomes U+FFFD.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <system_error>
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

// UTF-8 text (a name typed on the command line, read from a file, or shown)
// as a path, and back. On POSIX the bytes are the path's own, unchanged,
// both ways; on Windows they are converted to and from UTF-16. Separators
// are left as they are: '/' separates on both, '\\' on Windows only.
std::filesystem::path PathFromUtf8(std::string_view text);
std::string Utf8FromPath(const std::filesystem::path& path);

// Wide text (UTF-16 on Windows, UTF-32 on POSIX) to UTF-8 and back. A lone
// surrogate, an overlong or truncated sequence, an encoded surrogate or a
// code point beyond U+10FFFF becomes U+FFFD.
std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view text);

// Removes a file, or a folder and everything in it; returns how many
// entries went, and sets `error` only for one that could not be removed
// (after a few passes over a moment: a name Windows keeps while a handle
// stays open goes on its own).
// Unlike std::filesystem::remove_all, an entry that vanishes meanwhile
// (removed by another thread or process, or named twice by a listing taken
// while the folder changes) is simply gone: the C++ library's Windows build
// retries such an entry for ever.
std::uintmax_t RemoveTree(const std::filesystem::path& root, std::error_code& error);

// Flushes a file's bytes to the disk, not only into the system's cache: a
// file renamed over another must not come back empty after a power cut.
bool FlushFileToDisk(const std::filesystem::path& file);
// Flushes a folder's entries (a rename into it) where the system can: a
// no-op on Windows, where MOVEFILE_WRITE_THROUGH does it, and on file
// systems that refuse.
void FlushFolderToDisk(const std::filesystem::path& folder);
// Puts `bytes` in place of `file` whole or not at all: written beside it as
// FILE.new, flushed, and renamed over it (and the rename flushed, where the
// system allows). Empty when done, otherwise why not, in words.
std::string ReplaceFileWhole(const std::filesystem::path& file, std::string_view bytes);

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
