#include "BitmapBtn.h"

#include "SkinBitmaps.h"
#include "SkinDialog.h"

IMPLEMENT_DYNAMIC(CBitmapBtn, CButton)
IMPLEMENT_DYNAMIC(CSkinButton, CBitmapBtn)

namespace {
constexpr UINT_PTR kToolId = 1;
}

CSkinDialog* SkinDialogOf(const CWnd& control) {
  CWnd* parent = CWnd::FromHandlePermanent(control.GetParent());
  return parent && parent->IsKindOf(RUNTIME_CLASS(CSkinDialog)) ? static_cast<CSkinDialog*>(parent) : nullptr;
}

void CBitmapBtn::PreSubclassWindow() {
  CButton::PreSubclassWindow();
  ModifyStyle(WS_TABSTOP, BS_OWNERDRAW);
}

void CBitmapBtn::EnsureToolTip() {
  if (m_toolTip.m_hWnd || !m_hWnd || !::IsWindow(m_hWnd)) return;
  if (m_toolTip.Create(this)) m_toolTip.Activate(false);
}

void CBitmapBtn::SetTooltipText(const char* text) {
  if (!text) return;
  EnsureToolTip();
  if (!m_toolTip.m_hWnd) return;
  if (m_toolTip.GetToolCount() == 0) {
    RECT client;
    GetClientRect(&client);
    m_toolTip.AddTool(this, text, &client, kToolId);
  }
  m_toolTip.UpdateTipText(text, this, kToolId);
  m_toolTip.Activate(true);
}

BOOL CBitmapBtn::PreTranslateMessage(MSG* msg) {
  EnsureToolTip();
  if (m_toolTip.m_hWnd) m_toolTip.RelayEvent(msg);
  return CButton::PreTranslateMessage(msg);
}

skin::ButtonLook CBitmapBtn::CurrentLook(bool selected, bool disabled) const {
  return skin::selectButtonLook(skin::ButtonState{m_checkMode, m_checked, m_hover, selected, disabled, m_shown});
}

void CBitmapBtn::DrawItem(DRAWITEMSTRUCT* dis) {
  const skin::ButtonLook look =
      CurrentLook((dis->itemState & ODS_SELECTED) != 0, (dis->itemState & ODS_DISABLED) != 0);
  // A missing bitmap draws nothing: the control shows what its device context holds.
  skin::DrawBitmap(dis->hDC, m_bitmaps[static_cast<int>(look)], dis->rcItem.left, dis->rcItem.top);
}

void CBitmapBtn::OnMouseMove(UINT flags, POINT point) {
  CButton::OnMouseMove(flags, point);
  const bool leftDown = (flags & MK_LBUTTON) != 0;
  if (leftDown && !m_hover) return;
  if (::GetCapture() != m_hWnd && ::GetActiveWindow() && GetOwnerOrParent()) {
    // Pointer entered: hold the capture to learn when it leaves.
    m_hover = true;
    ::SetCapture(m_hWnd);
    Invalidate();
    return;
  }
  POINT screen = point;
  ::ClientToScreen(m_hWnd, &screen);
  HWND under = ::WindowFromPoint(screen);
  if (!under || under == m_hWnd) return;
  if (m_hover) {
    m_hover = false;
    Invalidate();
  }
  if (!leftDown) ::ReleaseCapture();
}

void CBitmapBtn::OnKillFocus(HWND newFocus) {
  CButton::OnKillFocus(newFocus);
  m_hover = false;
  Invalidate();
}

void CBitmapBtn::OnCaptureChanged(HWND newCapture) {
  if (m_hover) {
    // Without the capture the pointer can no longer be followed: drop the highlight, and
    // leave a capture that another window has just taken alone.
    m_hover = false;
    if (::GetCapture() == m_hWnd) ::ReleaseCapture();
    Invalidate();
  }
  CButton::OnCaptureChanged(newCapture);
}

void CBitmapBtn::OnDestroy() {
  if (m_toolTip.m_hWnd) m_toolTip.DestroyWindow();
  CButton::OnDestroy();
}

void CSkinButton::OnLButtonUp(UINT flags, POINT point) {
  RECT client;
  GetClientRect(&client);
  if (::PtInRect(&client, point)) {
    m_hover = false;
    Invalidate();
    if (CSkinDialog* dialog = SkinDialogOf(*this)) dialog->OnSkinButtonUp(m_index);
  }
  CBitmapBtn::OnLButtonUp(flags, point);
}

void CSkinButton::OnMouseMove(UINT flags, POINT point) {
  if (CSkinDialog* dialog = SkinDialogOf(*this)) dialog->OnSkinMouseOver(m_name.c_str(), point.x, point.y);
  CBitmapBtn::OnMouseMove(flags, point);
}
