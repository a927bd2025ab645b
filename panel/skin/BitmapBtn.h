// CBitmapBtn: an owner-drawn button drawn from five state bitmaps, with hover tracking and a
// tooltip. CSkinButton: the skin's named button, which reports clicks to its CSkinDialog.
#pragma once

#include <cstdint>
#include <string>

#include "ButtonLook.h"
#include "Controls.h"
#include "Gdi.h"

class CBitmapBtn : public CButton {
  DECLARE_DYNAMIC(CBitmapBtn)

 public:
  CBitmapBtn() = default;

  // Tooltip: created on first use; tool 1 covers the button.
  void SetTooltipText(const char* text);

  CBitmap& Bitmap(skin::ButtonLook look) { return m_bitmaps[static_cast<int>(look)]; }
  skin::ButtonLook CurrentLook(bool selected, bool disabled) const;

  bool m_checked = false;
  bool m_checkMode = false;
  bool m_shown = true;
  bool m_hover = false;

 protected:
  void PreSubclassWindow() override;
  BOOL PreTranslateMessage(MSG* msg) override;
  void DrawItem(DRAWITEMSTRUCT* dis) override;

  void OnMouseMove(UINT flags, POINT point) override;
  void OnKillFocus(HWND newFocus) override;
  void OnCaptureChanged(HWND newCapture) override;
  // The tooltip is a top-level window owned by the dialog, not by the button: it goes with the
  // button's window, not later with the object.
  void OnDestroy() override;

  void EnsureToolTip();

  CToolTipCtrl m_toolTip;
  CBitmap m_bitmaps[5];  // in ButtonLook order: base, hover, pressed, disabled, normal
};

class CSkinDialog;

class CSkinButton : public CBitmapBtn {
  DECLARE_DYNAMIC(CSkinButton)

 public:
  std::string m_name;
  int m_index = 0;
  uint32_t m_pageMask = 0;

 protected:
  void OnLButtonUp(UINT flags, POINT point) override;
  void OnMouseMove(UINT flags, POINT point) override;
};

// The skin dialog that owns a control: its parent window's object, when that is one.
CSkinDialog* SkinDialogOf(const CWnd& control);
