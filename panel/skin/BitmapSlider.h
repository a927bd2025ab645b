// CBitmapSlider: a trackbar drawn from a background bitmap and a thumb bitmap.
// CSkinSlider: the skin's named slider, which reports drags to its CSkinDialog.
#pragma once

#include <cstdint>
#include <string>

#include "Controls.h"
#include "Gdi.h"
#include "SliderScale.h"

class CBitmapSlider : public CSliderCtrl {
  DECLARE_DYNAMIC(CBitmapSlider)

 public:
  enum Thumb { kThumbNormal, kThumbHeld, kThumbDisabled };

  CBitmap m_background;
  CBitmap m_backgroundDisabled;
  CBitmap m_thumbs[3];
  bool m_shown = true;
  bool m_disabledLook = false;
  bool m_thumbHeld = false;

  // Where the thumb bitmap is drawn, from the trackbar's own thumb.
  RECT ThumbRect();

 protected:
  void OnPaint() override;
  BOOL OnEraseBkgnd(HDC dc) override;
  void OnLButtonDown(UINT flags, POINT point) override;
  void OnLButtonUp(UINT flags, POINT point) override;
  void OnMouseMove(UINT flags, POINT point) override;
  void OnCaptureChanged(HWND newCapture) override;
  BOOL OnMouseWheel(UINT flags, short delta, POINT screenPoint) override;
};

class CSkinSlider : public CBitmapSlider {
  DECLARE_DYNAMIC(CSkinSlider)

 public:
  std::string m_name;
  int m_index = 0;
  uint32_t m_pageMask = 0;
  bool m_dragging = false;

 protected:
  void OnLButtonDown(UINT flags, POINT point) override;
  void OnLButtonUp(UINT flags, POINT point) override;
  void OnMouseMove(UINT flags, POINT point) override;
};
