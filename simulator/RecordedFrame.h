// A picture of a file recorded onto the tape: what the scan's thumbnail of a
// scene recorded from a file shows, as the tape carries that file's packets.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace zelto::sim {

// The first picture the transport stream `file` shows from its 188-byte
// packet `packet` on (where none follows, the last one before it), scaled
// to width x height, as RGB24, top row first. None where the file cannot be
// read or holds no picture (the tape then shows none either), and always
// without FFmpeg.
std::optional<std::vector<std::uint8_t>> RecordedFrame(const std::filesystem::path& file, std::uint64_t packet,
                                                       int width, int height);

}  // namespace zelto::sim
