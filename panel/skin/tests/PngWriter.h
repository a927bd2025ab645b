// Writes 24-bit RGB pixels as a PNG file (stored deflate blocks: no compression library).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace skintest {

// rgb: width * height * 3 bytes, rows from the top.
bool writePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb);

}  // namespace skintest
