// Where a command writes: plain lines for pipes and tests, a little colour on
// a terminal. Errors are one line on the error stream, "zelto: ...".
#pragma once

#include <chrono>
#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>

namespace zelto::app {

class Console {
public:
  // interactive: standard output is a terminal, where a progress line may be
  // redrawn in place; elsewhere every line stays.
  Console(std::ostream& out, std::ostream& err, bool colour = false, bool interactive = false)
      : out_(out), err_(err), colour_(colour), interactive_(interactive) {}

  std::ostream& Out() { return out_; }
  std::ostream& Err() { return err_; }

  void Line(const std::string& text);
  // A heading of the demo's tour.
  void Heading(const std::string& text);
  // "HH:MM:SS.mmm  what: detail" with the local time of the moment.
  void Event(std::chrono::system_clock::time_point at, const std::string& what, const std::string& detail);
  void Error(const std::string& text);
  // Whether standard output has failed (a closed pipe, a full disk): what
  // was written may be lost, and the program must say so in its status.
  bool OutputFailed() const { return out_.fail(); }

  bool Interactive() const { return interactive_; }
  // A line redrawn in place (a progress line) on a terminal; Line, Event
  // and Error clear it first and draw it again after. Empty: none.
  void Status(const std::string& text);

  // Whether standard output is a terminal that takes colour (never on a
  // pipe, never with NO_COLOR set).
  static bool StdoutWantsColour();
  static bool StdoutIsTerminal();

private:
  std::ostream& out_;
  void ClearStatus();
  void RedrawStatus();

  std::ostream& err_;
  bool colour_;
  bool interactive_;
  std::string status_;
  std::size_t drawn_ = 0;  // width of the status line on the screen
};

// Local wall-clock time of day with milliseconds.
std::string TimeStamp(std::chrono::system_clock::time_point at);

// How many columns UTF-8 text takes on a terminal: one a character, two for
// the wide characters of East Asian scripts and most emoji.
std::size_t DisplayWidth(std::string_view utf8);
// The text with spaces after it to fill `columns` (as wide as it is when wider).
std::string PadToWidth(const std::string& utf8, std::size_t columns);

}  // namespace zelto::app
