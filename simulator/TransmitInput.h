// What the transmit was given: the file to send, the tape before and after
// its stream, and the panel's fault that leaves the next file unreadable
// from some packet on. Not thread-safe: the camcorder's lock guards it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/com.h"
#include "simulator/DeckModel.h"

namespace zelto::sim {

class TransmitInput {
 public:
  struct File {
    std::string path;  // UTF-8 native, absolute
    std::uint64_t size = 0;
    std::optional<std::uint64_t> readablePackets;
  };
  // The file a path names, checked as the transmit reads it: E_POINTER,
  // E_INVALIDARG for anything but a transport stream; an empty path gives
  // none (the transmit lets go of its file).
  static HRESULT Open(const WCHAR* path, std::optional<File>* file);
  // Whether margins (hundredths of a second) are ones the transmit takes.
  static bool MarginsFit(DWORD first, DWORD second);

  // Takes the file (none: lets go). A pending break applies to it, and a
  // break at its first packet refuses it with a read fault.
  HRESULT Take(std::optional<File> file);
  void SetMargins(DWORD first, DWORD second);
  // The next file given can be read only up to this many packets.
  void BreakNextFile(std::uint64_t readablePackets) { break_ = readablePackets; }

  bool HasFile() const { return file_.has_value(); }
  // What the deck sends; only with a file.
  DeckModel::TransmitSource Source() const;

 private:
  std::optional<File> file_;
  DWORD marginFirst_ = 0;
  DWORD marginSecond_ = 0;
  std::optional<std::uint64_t> break_;
};

}  // namespace zelto::sim
