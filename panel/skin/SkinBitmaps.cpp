#include "SkinBitmaps.h"

namespace skin {

CBitmap CutBitmap(HDC dc, HBITMAP face, const RECT& rect) {
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  if (!dc || !face || width <= 0 || height <= 0) return CBitmap();
  CBitmap piece(::CreateCompatibleBitmap(dc, width, height));
  if (!piece) return CBitmap();
  CMemoryDC source(dc), target(dc);
  if (!source || !target) return CBitmap();
  CSelectObject sourceSelected(source, face), targetSelected(target, piece);
  if (!sourceSelected.Selected() || !targetSelected.Selected() ||
      !::BitBlt(target, 0, 0, width, height, source, rect.left, rect.top, SRCCOPY)) {
    return CBitmap();
  }
  return piece;
}

void DrawBitmap(HDC dc, HBITMAP bitmap, int x, int y) {
  if (!dc || !bitmap) return;
  BITMAP bm{};
  if (!::GetObjectA(bitmap, sizeof bm, &bm)) return;
  CMemoryDC source(dc);
  CSelectObject selected(source, bitmap);
  if (selected.Selected()) ::BitBlt(dc, x, y, bm.bmWidth, bm.bmHeight, source, 0, 0, SRCCOPY);
}

}  // namespace skin

namespace skin {

void DrawBitmapPart(HDC dc, HBITMAP bitmap, const RECT& part) {
  if (!dc || !bitmap || part.right <= part.left || part.bottom <= part.top) return;
  CMemoryDC source(dc);
  CSelectObject selected(source, bitmap);
  if (selected.Selected())
    ::BitBlt(dc, part.left, part.top, part.right - part.left, part.bottom - part.top, source, part.left, part.top,
             SRCCOPY);
}

}  // namespace skin
