// One picture of a whole tape: a cell per scene with its picture (a grey
// box where the scene has none), its number, time codes and length.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/Picture.h"

namespace zelto::app {

struct SheetScene {
  unsigned number = 0;  // 1 is the first scene
  std::optional<RgbImage> picture;
  std::string times;   // "00:00:10:00-00:02:00:00"
  std::string length;  // "0:01:50"
  bool damaged = false;  // a capture of it found tape damage
};

// Four cells a row, each picture shown at 160 x 90 (16:9) whatever its size;
// a damaged scene's picture is framed in red and says so.
RgbImage ComposeContactSheet(const std::string& title, const std::vector<SheetScene>& scenes);

}  // namespace zelto::app
