// Windows bitmap files (BITMAPFILEHEADER + BITMAPINFOHEADER, BI_RGB, bottom-up rows).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Canvas.h"

namespace skinart {

// bitsPerPixel: 24 or 32 (the fourth byte is left 0).
std::vector<uint8_t> encodeBmp(const Canvas& canvas, int bitsPerPixel);

// Writes the whole file or reports why not.
bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error);

}  // namespace skinart
