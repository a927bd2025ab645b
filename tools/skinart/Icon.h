// Icon 128 of the control panel (window and tray): a small speaker-and-wave mark on the
// skin's title-bar blue, and the .ico file that carries it at several sizes.
#pragma once

#include <cstdint>
#include <vector>

#include "Canvas.h"

namespace skinart {

struct IconImage {
  Canvas colour;
  std::vector<float> alpha;  // 0..1 per pixel, rows from the top
};

IconImage drawPanelIcon(int size);

// An ICO file of 32-bit images (with their AND masks), one per size.
std::vector<uint8_t> encodeIco(const std::vector<IconImage>& images);

}  // namespace skinart
