#include "Bmp.h"
#include "RegionScan.h"
#include "SkinGeometry.h"
#include "SkinMask.h"

#include <gtest/gtest.h>

#include <cstring>

namespace skinart {
namespace {

uint32_t read32(const std::vector<uint8_t>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

TEST(SkinArt, BmpHeadersAndRowsAsTheResourceCompilerExpects) {
  Canvas c(3, 2, rgb(0x000000));
  c.blend(0, 0, rgb(0x102030), 1.0f);  // top-left
  for (int bits : {24, 32}) {
    const std::vector<uint8_t> bmp = encodeBmp(c, bits);
    const std::size_t stride = bits == 24 ? 12 : 12;  // 9 bytes padded to 12; 3 x 4
    ASSERT_EQ(bmp.size(), 54 + stride * 2);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(read32(bmp, 2), bmp.size());
    EXPECT_EQ(read32(bmp, 10), 54u);
    EXPECT_EQ(read32(bmp, 18), 3u);
    EXPECT_EQ(read32(bmp, 22), 2u);  // positive height: bottom-up
    EXPECT_EQ(bmp[28], bits);
    EXPECT_EQ(read32(bmp, 30), 0u);  // BI_RGB
    // The top row is stored last, blue first.
    const std::size_t topRow = 54 + stride;
    EXPECT_EQ(bmp[topRow], 0x30);
    EXPECT_EQ(bmp[topRow + 1], 0x20);
    EXPECT_EQ(bmp[topRow + 2], 0x10);
  }
}

TEST(SkinArt, MaskIsARoundedRectangleOfPureBlackAndWhite) {
  const Canvas mask = drawRegionMask();
  ASSERT_EQ(mask.width(), kMaskWidth);
  ASSERT_EQ(mask.height(), kMaskHeight);
  std::vector<uint8_t> row(static_cast<std::size_t>(kMaskWidth) * 3);
  std::vector<uint8_t> pixels;
  for (int y = 0; y < kMaskHeight; ++y) {
    mask.bgrRow(y, 3, row.data());
    for (uint8_t v : row) ASSERT_TRUE(v == 0 || v == 0xFF) << "row " << y;
    pixels.insert(pixels.end(), row.begin(), row.end());
  }
  auto white = [&](int x, int y) { return pixels[(static_cast<std::size_t>(y) * kMaskWidth + x) * 3] == 0xFF; };
  for (auto [x, y] : {std::pair{0, 0}, {kMaskWidth - 1, 0}, {0, kMaskHeight - 1}, {kMaskWidth - 1, kMaskHeight - 1}, {2, 2}})
    EXPECT_TRUE(white(x, y)) << x << "," << y;
  for (auto [x, y] : {std::pair{149, 320}, {0, 320}, {kMaskWidth - 1, 320}, {149, 0}, {149, kMaskHeight - 1}})
    EXPECT_FALSE(white(x, y)) << x << "," << y;

  // A convex shape: one run per row, full width away from the corners.
  skin::RegionBatch batch;
  const std::size_t flushes = skin::scanMaskRegion(
      skin::MaskPixels{pixels.data(), kMaskWidth * 3, kMaskWidth, kMaskHeight, 3}, batch,
      [](const skin::RegionBatch&) {});
  EXPECT_EQ(flushes, 0u);
  ASSERT_EQ(batch.count(), static_cast<std::size_t>(kMaskHeight));
  EXPECT_GT(batch.rects()[0].left, 0);
  EXPECT_EQ(batch.rects()[0].right, kMaskWidth - batch.rects()[0].left);
  EXPECT_EQ(batch.rects()[320].left, 0);
  EXPECT_EQ(batch.rects()[320].right, kMaskWidth);
  EXPECT_EQ(batch.bounds().bottom, kMaskHeight);
}

}  // namespace
}  // namespace skinart
