#include "RegionScan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace skin {
namespace {

// A mask drawn from text rows: '#' inside (black), '.' outside (white).
struct TextMask {
  std::vector<uint8_t> pixels;
  int width = 0, height = 0, bpp = 4;

  TextMask(const std::vector<std::string>& rows, int bytesPerPixel)
      : width(static_cast<int>(rows.at(0).size())),
        height(static_cast<int>(rows.size())),
        bpp(bytesPerPixel) {
    pixels.assign(static_cast<std::size_t>(width) * height * bpp, 0);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        for (int c = 0; c < 3; ++c)
          pixels[(static_cast<std::size_t>(y) * width + x) * bpp + c] = rows[y][x] == '.' ? 0xFF : 0x00;
  }
  MaskPixels view() const {
    return MaskPixels{pixels.data(), static_cast<std::ptrdiff_t>(width) * bpp, width, height, bpp};
  }
};

struct ScanOutcome {
  std::size_t flushes = 0;
  std::vector<std::size_t> flushedCounts;
  std::vector<RegionRect> rects;  // flushed ones followed by the remainder
  RegionBatch rest;
};

ScanOutcome scan(const MaskPixels& mask) {
  ScanOutcome out;
  out.flushes = scanMaskRegion(mask, out.rest, [&](const RegionBatch& b) {
    out.flushedCounts.push_back(b.count());
    out.rects.insert(out.rects.end(), b.rects(), b.rects() + b.count());
  });
  out.rects.insert(out.rects.end(), out.rest.rects(), out.rest.rects() + out.rest.count());
  return out;
}

bool operator==(const RegionRect& a, const RegionRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

struct RunCase {
  const char* what;
  std::vector<std::string> rows;
  std::vector<RegionRect> expected;
};

TEST(RegionScan, RunsOfInsidePixelsBecomeRowRectangles) {
  const std::vector<RunCase> cases = {
      {"all white gives nothing", {"....", "...."}, {}},
      {"no white gives full rows", {"###", "###"}, {{0, 0, 3, 1}, {0, 1, 3, 2}}},
      {"run touching the right edge ends at the width", {"..##"}, {{2, 0, 4, 1}}},
      {"run at the left edge", {"##.."}, {{0, 0, 2, 1}}},
      {"several runs in a row", {"#.##.#"}, {{0, 0, 1, 1}, {2, 0, 4, 1}, {5, 0, 6, 1}}},
      {"rounded corners", {".##.", "####", ".##."},
       {{1, 0, 3, 1}, {0, 1, 4, 2}, {1, 2, 3, 3}}},
  };
  for (int bpp : {3, 4}) {
    for (const RunCase& c : cases) {
      SCOPED_TRACE(std::string(c.what) + ", bytes per pixel " + std::to_string(bpp));
      const TextMask mask(c.rows, bpp);
      const ScanOutcome out = scan(mask.view());
      EXPECT_EQ(out.flushes, 0u);
      ASSERT_EQ(out.rects.size(), c.expected.size());
      for (std::size_t i = 0; i < c.expected.size(); ++i) EXPECT_TRUE(out.rects[i] == c.expected[i]) << i;
    }
  }
}

TEST(RegionScan, NearWhiteAndAlphaDoNotMakeAPixelOutside) {
  // Only exactly white is outside; the fourth byte of a 32-bit pixel is not looked at.
  std::vector<uint8_t> px = {0xFF, 0xFF, 0xFE, 0x00,  0xFF, 0xFF, 0xFF, 0x00,
                             0xFF, 0xFF, 0xFF, 0xFF,  0x00, 0x00, 0x00, 0xFF};
  RegionBatch batch;
  scanMaskRegion(MaskPixels{px.data(), 16, 4, 1, 4}, batch, [](const RegionBatch&) {});
  ASSERT_EQ(batch.count(), 2u);
  EXPECT_TRUE(batch.rects()[0] == (RegionRect{0, 0, 1, 1}));
  EXPECT_TRUE(batch.rects()[1] == (RegionRect{3, 0, 4, 1}));
}

TEST(RegionScan, UnreadableMasksGiveNothing) {
  const std::vector<uint8_t> px(64, 0);
  for (const MaskPixels& m : {MaskPixels{px.data(), 8, 4, 2, 2}, MaskPixels{px.data(), 16, 4, 2, 1},
                              MaskPixels{nullptr, 16, 4, 2, 4}, MaskPixels{px.data(), 16, 0, 2, 4},
                              MaskPixels{px.data(), 16, 4, 0, 4}, MaskPixels{px.data(), 16, -3, 2, 4}}) {
    RegionBatch batch;
    EXPECT_EQ(scanMaskRegion(m, batch, [](const RegionBatch&) {}), 0u);
    EXPECT_EQ(batch.count(), 0u);
  }
}

TEST(RegionScan, BottomUpRowsAreScannedFromTheTop) {
  const TextMask stored({"####", ".#.."}, 4);  // memory order: bottom row first
  const MaskPixels view{stored.pixels.data() + 16, -16, 4, 2, 4};
  const ScanOutcome out = scan(view);
  ASSERT_EQ(out.rects.size(), 2u);
  EXPECT_TRUE(out.rects[0] == (RegionRect{1, 0, 2, 1}));
  EXPECT_TRUE(out.rects[1] == (RegionRect{0, 1, 4, 2}));
  EXPECT_TRUE(out.rest.bounds() == (RegionRect{0, 0, 4, 2}));
}

TEST(RegionScan, BatchesFlushEveryTwoThousandRectangles) {
  struct Case {
    int rows;
    std::size_t flushes;
    std::size_t remaining;
  };
  // One inside run per row: the row count is the rectangle count.
  for (const Case& c : {Case{1999, 0, 1999}, Case{2000, 1, 0}, Case{2001, 1, 1}, Case{4000, 2, 0}}) {
    SCOPED_TRACE(c.rows);
    const TextMask mask(std::vector<std::string>(c.rows, ".#."), 4);
    const ScanOutcome out = scan(mask.view());
    EXPECT_EQ(out.flushes, c.flushes);
    for (std::size_t n : out.flushedCounts) EXPECT_EQ(n, RegionBatch::kFlushCount);
    EXPECT_EQ(out.rest.count(), c.remaining);
    EXPECT_EQ(out.rects.size(), static_cast<std::size_t>(c.rows));
    if (c.remaining == 0) {
      EXPECT_TRUE(out.rest.bounds() == RegionBatch::kEmptyBounds);
    } else {
      EXPECT_TRUE(out.rest.bounds() == (RegionRect{1, c.rows - static_cast<int>(c.remaining), 2, c.rows}));
    }
  }
}

TEST(RegionScan, BatchGrowsInStepsOfAHundred) {
  RegionBatch batch;
  EXPECT_GE(batch.capacity(), RegionBatch::kGrowStep);
  for (int i = 0; i < 250; ++i) batch.append(RegionRect{0, i, 1, i + 1});
  EXPECT_EQ(batch.count(), 250u);
  EXPECT_GE(batch.capacity(), 300u);
  EXPECT_TRUE(batch.bounds() == (RegionRect{0, 0, 1, 250}));
  batch.clear();
  EXPECT_EQ(batch.count(), 0u);
  EXPECT_TRUE(batch.bounds() == RegionBatch::kEmptyBounds);
}

}  // namespace
}  // namespace skin
