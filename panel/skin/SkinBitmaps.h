// Cutting and drawing skin bitmaps: controls keep their own pieces of the faces.
#pragma once

#include <windows.h>

#include "Gdi.h"

namespace skin {

// A bitmap of rect's size, compatible with dc, holding the face's pixels at rect 1:1.
// Empty when the face is empty or the copy fails.
CBitmap CutBitmap(HDC dc, HBITMAP face, const RECT& rect);

// Copies the whole bitmap 1:1 to (x, y) of dc; nothing for an empty bitmap.
void DrawBitmap(HDC dc, HBITMAP bitmap, int x, int y);

// Copies the part of the bitmap at `part` to the same place of dc.
void DrawBitmapPart(HDC dc, HBITMAP bitmap, const RECT& part);

}  // namespace skin
