#include "tests/app/PngPixel.h"

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

#include <cstddef>

namespace apptest {

Rgb PixelAt(const std::filesystem::path& file, int x, int y) {
  int width = 0, height = 0, channels = 0;
  unsigned char* pixels = stbi_load(file.string().c_str(), &width, &height, &channels, 3);
  Rgb rgb{0, 0, 0};
  if (pixels && x >= 0 && y >= 0 && x < width && y < height)
    for (int i = 0; i < 3; ++i) rgb[i] = pixels[(static_cast<std::size_t>(y) * width + x) * 3 + i];
  stbi_image_free(pixels);
  return rgb;
}

}  // namespace apptest
