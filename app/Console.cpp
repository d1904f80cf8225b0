#include "app/Console.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iomanip>
#include <sstream>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace zelto::app {

namespace {

constexpr const char* kBold = "\033[1m";
constexpr const char* kCyan = "\033[36m";
constexpr const char* kRed = "\033[31m";
constexpr const char* kReset = "\033[0m";

}  // namespace

std::string TimeStamp(std::chrono::system_clock::time_point at) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(at);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count() % 1000;
  std::ostringstream text;
  text << std::put_time(&local, "%H:%M:%S") << '.' << std::setw(3) << std::setfill('0') << millis;
  return text.str();
}

void Console::ClearStatus() {
  if (drawn_ == 0) return;
  // Spaces, not an erase sequence: every console understands them.
  out_ << '\r' << std::string(drawn_, ' ') << '\r';
  drawn_ = 0;
}

void Console::RedrawStatus() {
  if (!interactive_ || status_.empty()) return;
  out_ << status_ << std::flush;
  drawn_ = DisplayWidth(status_);
}

void Console::Status(const std::string& text) {
  if (!interactive_) return;
  ClearStatus();
  status_ = text;
  RedrawStatus();
  if (status_.empty()) out_ << std::flush;
}

void Console::Line(const std::string& text) {
  ClearStatus();
  out_ << text << '\n';
  RedrawStatus();
  out_ << std::flush;
}

void Console::Heading(const std::string& text) {
  ClearStatus();
  if (colour_) out_ << kBold << text << kReset << '\n';
  else out_ << text << '\n';
  RedrawStatus();
  out_ << std::flush;
}

void Console::Event(std::chrono::system_clock::time_point at, const std::string& what, const std::string& detail) {
  ClearStatus();
  out_ << TimeStamp(at) << "  ";
  if (colour_) out_ << kCyan << what << kReset;
  else out_ << what;
  if (!detail.empty()) out_ << ": " << detail;
  out_ << '\n';
  RedrawStatus();
  out_ << std::flush;
}

void Console::Error(const std::string& text) {
  ClearStatus();
  out_ << std::flush;
  if (colour_) err_ << kRed << "zelto: " << text << kReset << '\n' << std::flush;
  else err_ << "zelto: " << text << '\n' << std::flush;
  RedrawStatus();
  out_ << std::flush;
}

bool Console::StdoutIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stdout)) != 0;
#else
  return isatty(fileno(stdout)) != 0;
#endif
}

bool Console::StdoutWantsColour() {
  if (std::getenv("NO_COLOR") != nullptr) return false;
#ifdef _WIN32
  // Old consoles print the escape sequences as text.
  return false;
#else
  const char* term = std::getenv("TERM");
  return isatty(fileno(stdout)) != 0 && term != nullptr && std::string(term) != "dumb";
#endif
}

namespace {

// Wide code points: Hangul Jamo, CJK and its punctuation, Hangul syllables,
// compatibility ideographs, full-width forms, and the emoji blocks.
bool Wide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
         (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
         (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD);
}

// Joiners, variation selectors and combining marks take no column of their own.
bool Zero(char32_t c) {
  return (c >= 0x0300 && c <= 0x036F) || c == 0x200D || (c >= 0xFE00 && c <= 0xFE0F);
}

}  // namespace

std::size_t DisplayWidth(std::string_view utf8) {
  std::size_t columns = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead >> 5 == 0x6 ? 2 : lead >> 4 == 0xE ? 3 : lead >> 3 == 0x1E ? 4 : 1;
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length && i + k < utf8.size(); ++k)
      c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    columns += Zero(c) ? 0 : Wide(c) ? 2 : 1;
    i += length;
  }
  return columns;
}

std::string PadToWidth(const std::string& utf8, std::size_t columns) {
  const std::size_t width = DisplayWidth(utf8);
  return width >= columns ? utf8 : utf8 + std::string(columns - width, ' ');
}

}  // namespace zelto::app
