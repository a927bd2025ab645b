#include "Gdi.h"

bool CBitmap::LoadBitmap(HINSTANCE module, UINT id) {
  HANDLE image = ::LoadImageA(module, MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
  Attach(static_cast<HBITMAP>(image));
  return image != nullptr;
}

SIZE CBitmap::GetSize() const {
  BITMAP bm{};
  if (!Get() || !::GetObjectA(Get(), sizeof bm, &bm)) return SIZE{0, 0};
  return SIZE{bm.bmWidth, bm.bmHeight};
}
