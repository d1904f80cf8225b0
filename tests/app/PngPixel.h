// A pixel of a PNG file the commands wrote, for the tests that look at one.
#pragma once

#include <array>
#include <filesystem>

namespace apptest {

using Rgb = std::array<int, 3>;

// Black where the file cannot be read or the pixel lies outside it.
Rgb PixelAt(const std::filesystem::path& file, int x, int y);

}  // namespace apptest
