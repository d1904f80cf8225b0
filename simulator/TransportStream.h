// What the camcorder takes as a file to record: an MPEG transport stream of
// 188-byte packets. The one check, used by the camcorder when it is given a
// file and by the zelto command before anything moves, so that a file the
// command accepts is never refused by the camcorder once the deck runs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <istream>
#include <optional>
#include <string>

namespace zelto::sim {

// The bytes of the stream's whole packets (a cut-off packet at the end is
// not sent): each of the first 16 packets and the last whole one must begin
// with the sync byte 0x47. None, with *why in words (no file name), for
// anything else.
std::optional<std::uint64_t> TransportStreamBytes(std::istream& in, std::uint64_t size, std::string* why);
// The same for a file; also none when it is missing, not a file or unreadable.
std::optional<std::uint64_t> TransportStreamFileBytes(const std::filesystem::path& file, std::string* why);

}  // namespace zelto::sim
