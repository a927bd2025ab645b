#include "SkinMask.h"

#include "SkinGeometry.h"

namespace skinart {

namespace {
constexpr Box kWindowBox{0, 0, kMaskWidth, kMaskHeight};
}

bool insideWindowShape(int x, int y) {
  if (x < 0 || y < 0 || x >= kMaskWidth || y >= kMaskHeight) return false;
  // A pixel belongs to the window when its centre lies inside the outline: the region is
  // all-or-nothing per pixel, so there are no partly covered edge pixels.
  return roundRectDistance(kWindowBox, kCornerRadius, x + 0.5f, y + 0.5f) < 0.0f;
}

Canvas drawRegionMask() {
  Canvas mask(kMaskWidth, kMaskHeight, rgb(0xFFFFFF));
  for (int y = 0; y < kMaskHeight; ++y)
    for (int x = 0; x < kMaskWidth; ++x)
      if (insideWindowShape(x, y)) mask.blend(x, y, rgb(0x000000), 1.0f);
  return mask;
}

}  // namespace skinart
