#include "AnimatedLabel.h"

#include "SkinBitmaps.h"
#include "SkinDialog.h"

IMPLEMENT_DYNAMIC(CAnimatedLabel, CBitmapBtn)
IMPLEMENT_DYNAMIC(CSkinLabel, CAnimatedLabel)

CAnimatedLabel::CAnimatedLabel() {
  LOGFONTA lf{};
  if (::GetObjectA(::GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf)) m_font.Attach(::CreateFontIndirectA(&lf));
}

void CAnimatedLabel::SetLabelFont(HFONT font) {
  if (font) m_font.Attach(font);
}

void CAnimatedLabel::PreSubclassWindow() {
  CBitmapBtn::PreSubclassWindow();
  RecomputeLayout();
}

void CAnimatedLabel::SetText(const char* text) {
  // The same text again (a page refreshed each second) keeps its marquee where it is.
  if (m_hWnd && m_text == (text ? text : "")) return;
  const bool wasRunning = m_overflow;
  m_text = text ? text : "";
  if (m_hWnd) {
    SetWindowText(m_text.c_str());
    if (wasRunning) KillTimer(kMarqueeTimer);
  }
  RecomputeLayout();
}

void CAnimatedLabel::RecomputeLayout() {
  int textWidth = 0;
  RECT client{};
  if (m_hWnd && !m_text.empty()) {
    GetClientRect(&client);
    // The text itself, in the font it is drawn with.
    CClientDC dc(m_hWnd);
    CSelectObject font(dc, m_font);
    SIZE size{};
    if (dc && ::GetTextExtentPoint32A(dc, m_text.c_str(), static_cast<int>(m_text.size()), &size)) textWidth = size.cx;
  }
  const bool wasRunning = m_overflow && m_hWnd;
  const skin::LabelLayout layout =
      skin::layoutLabel(client.right - client.left - 2 * kTextPadding, textWidth, m_text.size());
  m_visibleCount = layout.visibleCount;
  m_overflow = layout.overflow;
  m_scrollOffset = 0;
  if (!m_hWnd) return;
  // Text that does not fit scrolls, so that all of it can be read.
  if (m_overflow) {
    SetTimer(kMarqueeTimer, kMarqueePeriodMs);
  } else if (wasRunning) {
    KillTimer(kMarqueeTimer);
  }
  Invalidate();
}

void CAnimatedLabel::OnPaint() {
  CPaintDC dc(m_hWnd);
  if (!dc) return;
  RECT client;
  GetClientRect(&client);
  skin::DrawBitmap(dc, m_background, 0, 0);
  const skin::LabelLine line = CurrentLine();
  const UINT flags = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | (line.centred ? DT_CENTER : 0);
  // Text keeps clear of the label's edges, so that a running marquee does not touch them.
  ::InflateRect(&client, -kTextPadding, 0);
  CSelectObject font(dc, m_font);
  const int oldMode = ::SetBkMode(dc, TRANSPARENT);
  const COLORREF oldColour = ::SetTextColor(dc, m_textColour);
  ::DrawTextA(dc, line.text.c_str(), static_cast<int>(line.text.size()), &client, flags);
  ::SetTextColor(dc, oldColour);
  ::SetBkMode(dc, oldMode);
}

void CAnimatedLabel::OnTimer(UINT_PTR id) {
  if (id != kMarqueeTimer) return CBitmapBtn::OnTimer(id);
  m_scrollOffset = skin::nextMarqueeOffset(m_scrollOffset, m_text.size());
  Invalidate();
}

void CSkinLabel::OnLButtonUp(UINT flags, POINT point) {
  CAnimatedLabel::OnLButtonUp(flags, point);
  if (CSkinDialog* dialog = SkinDialogOf(*this)) dialog->OnSkinLabelUp(m_index);
}

void CSkinLabel::OnMouseMove(UINT, POINT point) {
  if (CSkinDialog* dialog = SkinDialogOf(*this)) dialog->OnSkinMouseOver(m_name.c_str(), point.x, point.y);
  Default();
}
