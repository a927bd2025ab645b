// Region building for the shipped mask: the scan that turns the mask into batches of
// rectangles, against one plain pass over the same pixels (the least any scan must do).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "RegionScan.h"
#include "SkinGeometry.h"
#include "SkinMask.h"

namespace {

// The shipped mask as the window side scans it: a 32-bit bottom-up DIB.
struct ShippedMask {
  std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(skinart::kMaskWidth) * 4;
  std::vector<uint8_t> pixels;
  ShippedMask() : pixels(static_cast<std::size_t>(stride) * skinart::kMaskHeight) {
    const skinart::Canvas mask = skinart::drawRegionMask();
    for (int y = 0; y < skinart::kMaskHeight; ++y)
      mask.bgrRow(y, 4, pixels.data() + stride * (skinart::kMaskHeight - 1 - y));
  }
  skin::MaskPixels view() const {
    return skin::MaskPixels{pixels.data() + stride * (skinart::kMaskHeight - 1), -stride, skinart::kMaskWidth,
                            skinart::kMaskHeight, 4};
  }
};

const ShippedMask& shippedMask() {
  static const ShippedMask mask;
  return mask;
}

void BM_RegionScanShippedMask(benchmark::State& state) {
  const skin::MaskPixels view = shippedMask().view();
  std::size_t rects = 0;
  for (auto _ : state) {
    skin::RegionBatch batch;
    std::size_t flushed = 0;
    skin::scanMaskRegion(view, batch, [&](const skin::RegionBatch& b) { flushed += b.count(); });
    rects = flushed + batch.count();
    benchmark::DoNotOptimize(rects);
  }
  state.counters["rects"] = static_cast<double>(rects);
  state.SetItemsProcessed(state.iterations() * skinart::kMaskWidth * skinart::kMaskHeight);
}
BENCHMARK(BM_RegionScanShippedMask)->Unit(benchmark::kMicrosecond);

// Reference: read every pixel once and count the inside ones.
void BM_OnePassOverMaskPixels(benchmark::State& state) {
  const skin::MaskPixels view = shippedMask().view();
  for (auto _ : state) {
    std::size_t inside = 0;
    const uint8_t* row = view.topRow;
    for (int y = 0; y < view.height; ++y, row += view.rowStep)
      for (int x = 0; x < view.width; ++x) {
        const uint8_t* p = row + 4 * x;
        inside += !(p[0] == 0xFF && p[1] == 0xFF && p[2] == 0xFF);
      }
    benchmark::DoNotOptimize(inside);
  }
  state.SetItemsProcessed(state.iterations() * skinart::kMaskWidth * skinart::kMaskHeight);
}
BENCHMARK(BM_OnePassOverMaskPixels)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
