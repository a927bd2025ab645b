// Turns a region mask (pure white outside, any other colour inside) into batches of
// one-pixel-high rectangles, one per horizontal run of inside pixels. The window side turns
// each batch into a system region. Portable: no Windows header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace skin {

struct RegionRect {
  int32_t left, top, right, bottom;
};

// Rectangle storage that grows in steps of kGrowStep and is handed over every kFlushCount
// rectangles, so no single region call gets an unbounded list.
class RegionBatch {
 public:
  static constexpr std::size_t kGrowStep = 100;
  static constexpr std::size_t kFlushCount = 2000;
  static constexpr RegionRect kEmptyBounds{0x7FFFFFFF, 0x7FFFFFFF, 0, 0};

  RegionBatch() { rects_.reserve(kGrowStep); }

  void append(const RegionRect& rect);
  void clear();  // count 0, empty bounds; keeps the capacity
  bool full() const { return rects_.size() == kFlushCount; }

  std::size_t count() const { return rects_.size(); }
  std::size_t capacity() const { return rects_.capacity(); }
  const RegionRect& bounds() const { return bounds_; }
  const RegionRect* rects() const { return rects_.data(); }

 private:
  std::vector<RegionRect> rects_;
  RegionRect bounds_ = kEmptyBounds;
};

// A mask in memory: rows from the top of the picture, rowStep bytes apart (negative for a
// bottom-up bitmap), 3 or 4 bytes per pixel with the three colour bytes first.
struct MaskPixels {
  const uint8_t* topRow;
  std::ptrdiff_t rowStep;
  int width;
  int height;
  int bytesPerPixel;
};

// Scans the mask row by row from the top and appends every run of inside pixels as one
// rectangle. Each time the batch reaches kFlushCount rectangles, flush(batch) is called and
// the batch cleared. What remains at the end is left in the batch for the caller.
// Returns the number of flushes made during the scan.
template <typename Flush>
std::size_t scanMaskRegion(const MaskPixels& mask, RegionBatch& batch, Flush&& flush);

// Inside-run finder for one row: returns the end of the run of inside pixels starting at x.
int insideRunEnd(const uint8_t* row, int x, int width, int bytesPerPixel);
// First inside pixel at or after x, or width.
int nextInsidePixel(const uint8_t* row, int x, int width, int bytesPerPixel);

template <typename Flush>
std::size_t scanMaskRegion(const MaskPixels& mask, RegionBatch& batch, Flush&& flush) {
  std::size_t flushes = 0;
  if (!mask.topRow || (mask.bytesPerPixel != 3 && mask.bytesPerPixel != 4)) return 0;  // nothing it can read
  const uint8_t* row = mask.topRow;
  for (int y = 0; y < mask.height; ++y, row += mask.rowStep) {
    int x = nextInsidePixel(row, 0, mask.width, mask.bytesPerPixel);
    while (x < mask.width) {
      const int end = insideRunEnd(row, x, mask.width, mask.bytesPerPixel);
      batch.append(RegionRect{x, y, end, y + 1});
      if (batch.full()) {
        flush(batch);
        batch.clear();
        ++flushes;
      }
      x = nextInsidePixel(row, end, mask.width, mask.bytesPerPixel);
    }
  }
  return flushes;
}

}  // namespace skin
