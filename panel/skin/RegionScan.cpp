#include "RegionScan.h"

#include <algorithm>
#include <cstring>

namespace skin {

namespace {

inline bool isWhite(const uint8_t* pixel) {
  return pixel[0] == 0xFF && pixel[1] == 0xFF && pixel[2] == 0xFF;
}

// Four-byte pixels: one load per pixel, the fourth byte ignored.
inline bool isWhite32(const uint8_t* pixel) {
  uint32_t value;
  std::memcpy(&value, pixel, sizeof value);
  return (value & 0x00FFFFFFu) == 0x00FFFFFFu;
}

}  // namespace

void RegionBatch::append(const RegionRect& rect) {
  if (rects_.size() == rects_.capacity()) {
    rects_.reserve(rects_.capacity() + kGrowStep);
  }
  rects_.push_back(rect);
  bounds_.left = std::min(bounds_.left, rect.left);
  bounds_.top = std::min(bounds_.top, rect.top);
  bounds_.right = std::max(bounds_.right, rect.right);
  bounds_.bottom = std::max(bounds_.bottom, rect.bottom);
}

void RegionBatch::clear() {
  rects_.clear();
  bounds_ = kEmptyBounds;
}

int insideRunEnd(const uint8_t* row, int x, int width, int bytesPerPixel) {
  if (bytesPerPixel == 4) {
    while (x < width && !isWhite32(row + 4 * static_cast<std::ptrdiff_t>(x))) ++x;
  } else {
    while (x < width && !isWhite(row + bytesPerPixel * static_cast<std::ptrdiff_t>(x))) ++x;
  }
  return x;
}

int nextInsidePixel(const uint8_t* row, int x, int width, int bytesPerPixel) {
  if (bytesPerPixel == 4) {
    while (x < width && isWhite32(row + 4 * static_cast<std::ptrdiff_t>(x))) ++x;
  } else {
    while (x < width && isWhite(row + bytesPerPixel * static_cast<std::ptrdiff_t>(x))) ++x;
  }
  return x;
}

}  // namespace skin
