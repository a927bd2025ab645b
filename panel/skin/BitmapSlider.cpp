#include "BitmapSlider.h"

#include "BitmapBtn.h"
#include "SkinBitmaps.h"
#include "SkinDialog.h"

IMPLEMENT_DYNAMIC(CBitmapSlider, CSliderCtrl)
IMPLEMENT_DYNAMIC(CSkinSlider, CBitmapSlider)

namespace {
constexpr int kThumbTrack = 4;  // TB_THUMBTRACK
constexpr int kEndTrack = 8;    // TB_ENDTRACK
}  // namespace

RECT CBitmapSlider::ThumbRect() {
  RECT trackbar{};
  GetThumbRect(&trackbar);
  const SIZE size = m_thumbs[kThumbNormal].GetSize();
  const bool horizontal = (GetStyle() & TBS_VERT) == 0;
  const skin::PixelRect r = skin::sliderThumbRect(
      horizontal, skin::PixelRect{trackbar.left, trackbar.top, trackbar.right, trackbar.bottom}, size.cx, size.cy);
  return RECT{r.left, r.top, r.right, r.bottom};
}

void CBitmapSlider::OnPaint() {
  CPaintDC dc(m_hWnd);
  if (!dc) return;
  const RECT thumb = ThumbRect();
  if (m_disabledLook) {
    skin::DrawBitmap(dc, m_backgroundDisabled, 0, 0);
    skin::DrawBitmap(dc, m_thumbs[kThumbDisabled], thumb.left, thumb.top);
  } else {
    skin::DrawBitmap(dc, m_background, 0, 0);
    skin::DrawBitmap(dc, m_thumbs[m_thumbHeld ? kThumbHeld : kThumbNormal], thumb.left, thumb.top);
  }
}

BOOL CBitmapSlider::OnEraseBkgnd(HDC) { return TRUE; }  // the paint covers everything

void CBitmapSlider::OnLButtonDown(UINT, POINT point) {
  Default();
  const RECT thumb = ThumbRect();
  m_thumbHeld = ::PtInRect(&thumb, point) != FALSE;
  Invalidate();
}

void CBitmapSlider::OnLButtonUp(UINT, POINT) {
  Default();
  m_thumbHeld = false;
  Invalidate();
}

void CBitmapSlider::OnMouseMove(UINT, POINT) {
  Default();
  if (m_thumbHeld) Invalidate();
}

void CBitmapSlider::OnCaptureChanged(HWND) {
  // Only a capture this slider still holds is released; one another window has just taken
  // stays with it. The trackbar then ends its own drag.
  if (m_thumbHeld && ::GetCapture() == m_hWnd) ::ReleaseCapture();
  Default();
  Invalidate();
}

BOOL CBitmapSlider::OnMouseWheel(UINT, short, POINT) {
  Invalidate();
  return static_cast<BOOL>(Default());
}

void CSkinSlider::OnLButtonDown(UINT flags, POINT point) {
  CBitmapSlider::OnLButtonDown(flags, point);
  m_dragging = true;
}

void CSkinSlider::OnMouseMove(UINT flags, POINT point) {
  CBitmapSlider::OnMouseMove(flags, point);
  CSkinDialog* dialog = SkinDialogOf(*this);
  if (!dialog) return;
  if (m_dragging) {
    dialog->OnSkinSliderEvent(m_index, kThumbTrack, GetPos());
  } else {
    dialog->OnSkinMouseOver(m_name.c_str(), point.x, point.y);
  }
}

void CSkinSlider::OnLButtonUp(UINT flags, POINT point) {
  m_dragging = false;
  if (CSkinDialog* dialog = SkinDialogOf(*this)) dialog->OnSkinSliderEvent(m_index, kEndTrack, GetPos());
  CBitmapSlider::OnLButtonUp(flags, point);
}
