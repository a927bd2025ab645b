// CAnimatedLabel: text drawn transparently over a background bitmap, centred when it fits;
// text that does not fit runs as a marquee (" ** " between repeats), one character a tick.
// CSkinLabel: the skin's named label, which reports clicks to its CSkinDialog.
#pragma once

#include <cstdint>
#include <string>

#include "BitmapBtn.h"
#include "LabelLayout.h"

class CAnimatedLabel : public CBitmapBtn {
  DECLARE_DYNAMIC(CAnimatedLabel)

 public:
  static constexpr UINT_PTR kMarqueeTimer = 1;
  static constexpr UINT kMarqueePeriodMs = 300;
  static constexpr int kTextPadding = 4;  // pixels kept clear at the left and right edges

  CAnimatedLabel();

  void SetText(const char* text);
  const std::string& Text() const { return m_text; }
  void SetTextColour(COLORREF colour) { m_textColour = colour; }
  void SetBackground(CBitmap&& background) { m_background = std::move(background); }
  void SetLabelFont(HFONT font);  // takes ownership
  void RecomputeLayout();

  int VisibleCount() const { return m_visibleCount; }
  bool Overflows() const { return m_overflow; }
  std::size_t ScrollOffset() const { return m_scrollOffset; }
  skin::LabelLine CurrentLine() const {
    return skin::composeLabelLine(m_text, m_scrollOffset, m_visibleCount);
  }

 protected:
  void PreSubclassWindow() override;
  void OnPaint() override;
  void OnTimer(UINT_PTR id) override;

  std::size_t m_scrollOffset = 0;
  int m_visibleCount = 0;
  std::string m_text;
  COLORREF m_textColour = 0;
  CBitmap m_background;
  bool m_overflow = false;
  CFont m_font;
};

class CSkinLabel : public CAnimatedLabel {
  DECLARE_DYNAMIC(CSkinLabel)

 public:
  std::string m_name;
  int m_index = 0;
  uint32_t m_pageMask = 0;

 protected:
  void OnLButtonUp(UINT flags, POINT point) override;
  void OnMouseMove(UINT flags, POINT point) override;
};
