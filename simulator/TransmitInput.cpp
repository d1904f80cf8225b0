#include "simulator/TransmitInput.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "platform/PlatformExtras.h"
#include "simulator/TransportStream.h"

namespace zelto::sim {

HRESULT TransmitInput::Open(const WCHAR* path, std::optional<File>* file) {
  file->reset();
  if (!path) return E_POINTER;
  if (!*path) return S_OK;
  // Kept absolute: the tape refers to it, and a capture in another program
  // (sharing the state file) reads it again.
  std::error_code error;
  const std::filesystem::path native = std::filesystem::absolute(zelto::platform::NativePath(path), error);
  if (error) return E_INVALIDARG;
  const std::optional<std::uint64_t> size = TransportStreamFileBytes(native, nullptr);
  if (!size) return E_INVALIDARG;
  *file = File{zelto::platform::Utf8FromPath(native), *size, std::nullopt};
  return S_OK;
}

bool TransmitInput::MarginsFit(DWORD first, DWORD second) {
  // An hour either side is more than any tape needs.
  constexpr DWORD kMaxMargin = 360000;
  return first <= kMaxMargin && second <= kMaxMargin;
}

HRESULT TransmitInput::Take(std::optional<File> file) {
  if (file && break_) {
    // The fault: the file cannot be read (at all, or from some point on).
    const std::uint64_t readable = *std::exchange(break_, std::nullopt);
    if (readable == 0) return static_cast<HRESULT>(0x8007001EL);  // a read fault
    file->readablePackets = readable;
  }
  file_ = std::move(file);
  return S_OK;
}

void TransmitInput::SetMargins(DWORD first, DWORD second) {
  marginFirst_ = first;
  marginSecond_ = second;
}

DeckModel::TransmitSource TransmitInput::Source() const {
  // Margins count hundredths of a second of the stream.
  auto packets = [](DWORD hundredths) {
    return std::uint64_t{hundredths} * kStreamBytesPerTrack * kTracksPerSecond / 100 / kPacketBytes;
  };
  DeckModel::TransmitSource source;
  source.file = file_->path;
  source.fileSize = file_->size;
  source.leadInPackets = packets(marginFirst_);
  source.leadOutPackets = packets(marginSecond_);
  source.readablePackets = file_->readablePackets;
  return source;
}

}  // namespace zelto::sim
