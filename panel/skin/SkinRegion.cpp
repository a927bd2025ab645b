// CSkinDialog::BitmapToRegion: the window's shape from a mask bitmap. The scan runs over a
// 32-bit DIB copy of the mask (rows bottom-up in memory); every 2000 rectangles become one
// system region, OR-ed into the result, so no region call gets an unbounded list.
#include <cstring>
#include <new>
#include <vector>

#include "RegionScan.h"
#include "SkinDialog.h"

namespace {

static_assert(sizeof(RGNDATAHEADER) == 32 && sizeof(RECT) == sizeof(skin::RegionRect),
              "region data layout");

// Region of one batch; null on failure. An empty batch gives an empty region.
HRGN regionFromBatch(const skin::RegionBatch& batch) {
  const std::size_t count = batch.count();
  std::vector<unsigned char> data(sizeof(RGNDATAHEADER) + count * sizeof(RECT));
  RGNDATAHEADER header{};
  header.dwSize = sizeof(RGNDATAHEADER);
  header.iType = RDH_RECTANGLES;
  header.nCount = static_cast<DWORD>(count);
  header.nRgnSize = 0;
  const skin::RegionRect& b = batch.bounds();
  header.rcBound = RECT{b.left, b.top, b.right, b.bottom};
  std::memcpy(data.data(), &header, sizeof header);
  if (count) std::memcpy(data.data() + sizeof header, batch.rects(), count * sizeof(RECT));
  return ::ExtCreateRegion(nullptr, static_cast<DWORD>(data.size()), reinterpret_cast<const RGNDATA*>(data.data()));
}

// Adds part to result (the first part becomes the result). False when a region call failed;
// part is consumed either way.
bool mergeInto(HRGN& result, HRGN part) {
  if (!part) return false;
  if (!result) {
    result = part;
    return true;
  }
  const bool ok = ::CombineRgn(result, result, part, RGN_OR) != ERROR;
  ::DeleteObject(part);
  return ok;
}

}  // namespace

HRGN CSkinDialog::BitmapToRegion(HBITMAP bitmap) {
  if (!bitmap) return nullptr;
  BITMAP bm{};
  if (!::GetObjectA(bitmap, sizeof bm, &bm) || bm.bmWidth <= 0 || bm.bmHeight <= 0) return nullptr;

  CMemoryDC dibDC(nullptr);
  if (!dibDC) return nullptr;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = bm.bmWidth;
  info.bmiHeader.biHeight = bm.bmHeight;  // positive: bottom-up rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  CBitmap dib(::CreateDIBSection(dibDC, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!dib || !bits) return nullptr;
  {
    CSelectObject dibSelected(dibDC, dib);
    CMemoryDC maskDC(static_cast<HDC>(dibDC));
    CSelectObject maskSelected(maskDC, bitmap);
    if (!dibSelected.Selected() || !maskSelected.Selected() ||
        !::BitBlt(dibDC, 0, 0, bm.bmWidth, bm.bmHeight, maskDC, 0, 0, SRCCOPY)) {
      return nullptr;
    }
    ::GdiFlush();
  }

  const std::ptrdiff_t stride = ((static_cast<std::ptrdiff_t>(bm.bmWidth) * 32 + 31) / 32) * 4;
  const auto* lastRowInMemory = static_cast<const uint8_t*>(bits) + stride * (bm.bmHeight - 1);
  const skin::MaskPixels pixels{lastRowInMemory, -stride, bm.bmWidth, bm.bmHeight, 4};

  HRGN result = nullptr;
  bool ok = true;
  try {
    skin::RegionBatch batch;
    skin::scanMaskRegion(pixels, batch, [&](const skin::RegionBatch& full) {
      if (ok) ok = mergeInto(result, regionFromBatch(full));
    });
    if (ok && (batch.count() > 0 || !result)) ok = mergeInto(result, regionFromBatch(batch));
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  if (!ok && result) {
    ::DeleteObject(result);
    result = nullptr;
  }
  return result;
}
