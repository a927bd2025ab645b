// Slider geometry and values. The owner sees 0..100 with 100 at the trackbar's minimum
// position (top of a volume scale); the trackbar keeps its default range 0..100. Portable.
#pragma once

#include <algorithm>

namespace skin {

inline constexpr int kSliderRange = 100;

inline int sliderValueFromPosition(int position) { return kSliderRange - position; }
inline int sliderPositionFromValue(int value) { return kSliderRange - value; }

struct PixelRect {
  int left, top, right, bottom;
};

// Where the thumb bitmap goes: centred on the trackbar's own thumb along the track, at the
// control's edge across it.
inline PixelRect sliderThumbRect(bool horizontal, const PixelRect& trackbarThumb,
                                 int bitmapWidth, int bitmapHeight) {
  PixelRect r{};
  if (horizontal) {
    const int centre = (trackbarThumb.left + trackbarThumb.right) / 2;
    r.top = 0;
    r.bottom = bitmapHeight;
    r.left = centre - bitmapWidth / 2;
    r.right = r.left + bitmapWidth;
  } else {
    const int centre = (trackbarThumb.top + trackbarThumb.bottom) / 2;
    r.left = 0;
    r.right = bitmapWidth;
    r.top = std::max(0, centre - bitmapHeight / 2);
    r.bottom = r.top + bitmapHeight;
  }
  return r;
}

}  // namespace skin
