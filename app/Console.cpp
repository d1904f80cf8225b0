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
  drawn_ = status_.size();
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

}  // namespace zelto::app
