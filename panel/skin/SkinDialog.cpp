#include "SkinDialog.h"

#include <cstring>

#include "SkinBitmaps.h"
#include "SkinPages.h"
#include "SkinTables.h"
#include "SliderScale.h"

IMPLEMENT_DYNAMIC(CSkinDialog, CDialog)

namespace {

RECT rectOf(const skin::SkinRect& r) { return RECT{r.left, r.top, r.left + r.width, r.top + r.height}; }

RECT shiftedDown(RECT r, int dy) {
  ::OffsetRect(&r, 0, dy);
  return r;
}

template <typename Control>
Control* findByName(const std::vector<std::unique_ptr<Control>>& list, const char* name) {
  if (!name) return nullptr;
  for (const auto& control : list)
    if (control->m_name == name) return control.get();
  return nullptr;
}

template <typename Control>
const char* nameAt(const std::vector<std::unique_ptr<Control>>& list, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= list.size()) return nullptr;
  return list[static_cast<std::size_t>(index)]->m_name.c_str();
}

}  // namespace

CSkinDialog::CSkinDialog(CWnd* parent, UINT templateId)
    : CDialog(templateId, parent), m_hSkinModule(::GetModuleHandleA(nullptr)) {}

CSkinDialog::~CSkinDialog() {
  DestroySkin();
  m_retired.clear();
}

BOOL CSkinDialog::OnInitDialog() {
  CDialog::OnInitDialog();
  // Children paint themselves: the dialog's paint leaves their areas alone.
  ModifyStyle(0, WS_CLIPCHILDREN);
  LoadSkin();
  return TRUE;
}

CBitmap CSkinDialog::LoadSkinBitmap(UINT id) const {
  CBitmap bitmap;
  bitmap.LoadBitmap(m_hSkinModule, id);  // a missing bitmap stays empty
  return bitmap;
}

void CSkinDialog::PruneRetired() {
  // A retired control whose handler is still on the stack (it rebuilt the skin, perhaps
  // twice, or from a nested message loop) stays until a later rebuild finds it idle.
  std::vector<std::unique_ptr<CWnd>> busy;
  for (auto& control : m_retired)
    if (control->IsHandlingMessage()) busy.push_back(std::move(control));
  m_retired = std::move(busy);
}

void CSkinDialog::DestroySkin() {
  PruneRetired();
  auto retire = [this](auto& list) {
    for (auto& control : list) {
      control->DestroyWindow();
      m_retired.push_back(std::move(control));
    }
    list.clear();
  };
  retire(m_buttons);
  retire(m_sliders);
  retire(m_labels);
  for (CBitmap& face : m_faces) face.DeleteObject();
}

void CSkinDialog::LoadSkin() {
  DestroySkin();
  if (!m_hWnd) return;

  m_faces[kFaceBase] = LoadSkinBitmap(IDB_SKIN_BASE);
  CBitmap mask = LoadSkinBitmap(IDB_SKIN_MASK);
  const SIZE maskSize = mask.GetSize();
  if (maskSize.cx > 0 && maskSize.cy > 0) {
    SetWindowPos(HWND_TOP, 0, 0, maskSize.cx, maskSize.cy, SWP_NOMOVE | SWP_NOOWNERZORDER);
    m_skinWidth = maskSize.cx;
    m_skinHeight = maskSize.cy;
  } else {
    // No mask: the window keeps its size and stays rectangular.
    RECT client;
    GetClientRect(&client);
    m_skinWidth = client.right - client.left;
    m_skinHeight = client.bottom - client.top;
  }
  m_faces[kFaceHover] = LoadSkinBitmap(IDB_SKIN_HOVER);
  m_faces[kFacePressed] = LoadSkinBitmap(IDB_SKIN_PRESSED);
  m_faces[kFaceDisabled] = LoadSkinBitmap(IDB_SKIN_DISABLED);
  m_faces[kFaceNormal] = LoadSkinBitmap(IDB_SKIN_NORMAL);

  ApplyWindowRegion(mask);

  CClientDC dc(m_hWnd);
  CreateButtons(dc);
  CreateLabels(dc);
  CreateSliders(dc);
  Invalidate();
}

void CSkinDialog::CreateButtons(HDC dc) {
  for (std::size_t row = 0; row < skin::kSkinButtonCount; ++row) {
    const skin::SkinButtonDef& def = skin::kSkinButtons[row];
    auto button = std::make_unique<CSkinButton>();
    const RECT rect = rectOf(def.rect);
    if (!button->Create("", WS_VISIBLE, rect, this, 0)) continue;
    button->m_pageMask = def.pageMask;
    const RECT source = shiftedDown(rect, skin::pageOffset(def.pageMask, m_skinHeight));
    using skin::ButtonLook;
    button->Bitmap(ButtonLook::Base) = skin::CutBitmap(dc, m_faces[kFaceBase], source);
    button->Bitmap(ButtonLook::Hover) = skin::CutBitmap(dc, m_faces[kFaceHover], source);
    button->Bitmap(ButtonLook::Pressed) = skin::CutBitmap(dc, m_faces[kFacePressed], source);
    button->Bitmap(ButtonLook::Disabled) = skin::CutBitmap(dc, m_faces[kFaceDisabled], source);
    button->Bitmap(ButtonLook::Normal) = skin::CutBitmap(dc, m_faces[kFaceNormal], source);
    button->m_index = static_cast<int>(row);
    button->m_name = def.name;
    button->SetTooltipText(def.caption);
    button->m_checkMode = def.checkMode != 0;
    m_buttons.push_back(std::move(button));
  }
}

void CSkinDialog::CreateLabels(HDC dc) {
  for (std::size_t row = 0; row < skin::kSkinLabelCount; ++row) {
    const skin::SkinLabelDef& def = skin::kSkinLabels[row];
    auto label = std::make_unique<CSkinLabel>();
    const RECT rect = rectOf(def.rect);
    if (!label->Create(def.text, WS_VISIBLE, rect, this, 0)) continue;
    label->m_pageMask = def.pageMask;
    label->SetBackground(skin::CutBitmap(dc, m_faces[kFaceBase], rect));
    label->m_index = static_cast<int>(row);
    label->m_name = def.name;
    label->SetText(def.text);
    label->SetTextColour(def.colour);

    LOGFONTA lf{};
    std::strncpy(lf.lfFaceName, def.fontFace, LF_FACESIZE - 1);
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfHeight = def.fontHeight;
    lf.lfWeight = def.bold ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = def.upright ? FALSE : TRUE;
    lf.lfQuality = ANTIALIASED_QUALITY;
    label->SetLabelFont(::CreateFontIndirectA(&lf));
    label->RecomputeLayout();
    m_labels.push_back(std::move(label));
  }
}

void CSkinDialog::CreateSliders(HDC dc) {
  for (std::size_t row = 0; row < skin::kSkinSliderCount; ++row) {
    const skin::SkinSliderDef& def = skin::kSkinSliders[row];
    auto slider = std::make_unique<CSkinSlider>();
    const RECT rect = rectOf(def.rect);
    if (!slider->Create(WS_VISIBLE, rect, this, 0)) continue;
    slider->m_pageMask = def.pageMask;
    const RECT source = shiftedDown(rect, skin::pageOffset(def.pageMask, m_skinHeight));
    slider->m_background = skin::CutBitmap(dc, m_faces[kFaceNormal], source);
    slider->m_backgroundDisabled = skin::CutBitmap(dc, m_faces[kFaceDisabled], source);
    slider->m_thumbs[CBitmapSlider::kThumbNormal] = LoadSkinBitmap(static_cast<UINT>(def.thumbNormal));
    slider->m_thumbs[CBitmapSlider::kThumbHeld] = LoadSkinBitmap(static_cast<UINT>(def.thumbHeld));
    slider->m_thumbs[CBitmapSlider::kThumbDisabled] = LoadSkinBitmap(static_cast<UINT>(def.thumbDisabled));
    slider->ModifyStyle(WS_BORDER | WS_TABSTOP, 0, SWP_FRAMECHANGED);
    slider->m_dragging = false;
    slider->m_index = static_cast<int>(row);
    slider->m_name = def.name;
    slider->SetPos(def.initialPosition);
    if (!def.horizontal) slider->ModifyStyle(0, TBS_VERT);
    m_sliders.push_back(std::move(slider));
  }
}

// Region ------------------------------------------------------------------------------------

void CSkinDialog::ApplyWindowRegion(HBITMAP mask) {
  if (!m_hWnd) return;
  HRGN region = mask ? BitmapToRegion(mask) : nullptr;
  if (!region) {
    ::MessageBoxA(m_hWnd, kWrongRegion, kMessageCaption, MB_OK);
  } else if (!::SetWindowRgn(m_hWnd, region, TRUE)) {
    ::MessageBoxA(m_hWnd, kWrongWindowRegion, kMessageCaption, MB_OK);
    ::DeleteObject(region);
  }
  // On success the window owns the region.
  Invalidate();
}

// Painting and moving -----------------------------------------------------------------------

void CSkinDialog::OnPaint() {
  // Only the invalid part of the background; the window clips its visible children, which
  // paint themselves, so a tooltip hiding repaints just what it covered.
  CPaintDC dc(m_hWnd);
  if (!dc) return;
  const RECT& r = dc.Paint().rcPaint;
  skin::DrawBitmapPart(dc, m_faces[kFaceBase], r);
}

BOOL CSkinDialog::OnEraseBkgnd(HDC) { return TRUE; }  // the paint covers the background

void CSkinDialog::OnLButtonDown(UINT flags, POINT point) {
  // Any background point drags the window, as its caption would.
  POINT screen = point;
  ::ClientToScreen(m_hWnd, &screen);
  PostMessage(WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(screen.x, screen.y));
  CDialog::OnLButtonDown(flags, point);
}

void CSkinDialog::OnMouseMove(UINT flags, POINT point) {
  CDialog::OnMouseMove(flags, point);
  OnSkinMouseOver("", point.x, point.y);
}

// By name -----------------------------------------------------------------------------------

CSkinButton* CSkinDialog::FindSkinButton(const char* name) { return findByName(m_buttons, name); }
CSkinLabel* CSkinDialog::FindSkinLabel(const char* name) { return findByName(m_labels, name); }
CSkinSlider* CSkinDialog::FindSkinSlider(const char* name) { return findByName(m_sliders, name); }

void CSkinDialog::ShowSkinButton(const char* name, int show) {
  if (CSkinButton* b = FindSkinButton(name)) {
    b->ShowWindow(show ? SW_SHOW : SW_HIDE);
    b->m_shown = show != 0;
  }
}

void CSkinDialog::EnableSkinButton(const char* name, int enable) {
  if (CSkinButton* b = FindSkinButton(name)) b->EnableWindow(enable != 0);
}

void CSkinDialog::SetSkinButtonCheck(const char* name, int checked) {
  CSkinButton* b = FindSkinButton(name);
  if (!b) return;
  if ((checked != 0) != b->m_checked) {
    b->m_checked = checked != 0;
    b->Invalidate();
  }
  b->RedrawWindow(RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

int CSkinDialog::GetSkinButtonCheck(const char* name) {
  CSkinButton* b = FindSkinButton(name);
  return b && b->m_checked ? 1 : 0;
}

void CSkinDialog::ShowSkinLabel(const char* name, int show) {
  if (CSkinLabel* l = FindSkinLabel(name)) l->ShowWindow(show ? SW_SHOW : SW_HIDE);
}

void CSkinDialog::SetSkinLabelText(const char* name, const char* text) {
  if (CSkinLabel* l = FindSkinLabel(name)) l->SetText(text);
}

void CSkinDialog::ShowSkinSlider(const char* name, int show) {
  if (CSkinSlider* s = FindSkinSlider(name)) {
    s->ShowWindow(show ? SW_SHOW : SW_HIDE);
    s->m_shown = show != 0;
  }
}

void CSkinDialog::SetSkinSliderPos(const char* name, int value) {
  if (CSkinSlider* s = FindSkinSlider(name)) {
    s->SetPos(skin::sliderPositionFromValue(value));
    s->Invalidate();
  }
}

int CSkinDialog::GetSkinSliderPos(const char* name) {
  CSkinSlider* s = FindSkinSlider(name);
  return s ? skin::sliderValueFromPosition(s->GetPos()) : 0;
}

void CSkinDialog::ResetSkinPages() {
  m_currentPage = 0;
  for (auto& b : m_buttons) {
    const bool show = skin::onFirstPage(b->m_pageMask);
    b->ShowWindow(show ? SW_SHOW : SW_HIDE);
    b->m_shown = show;
  }
  for (auto& l : m_labels) l->ShowWindow(skin::onFirstPage(l->m_pageMask) ? SW_SHOW : SW_HIDE);
  for (auto& s : m_sliders) {
    const bool show = skin::onFirstPage(s->m_pageMask);
    s->ShowWindow(show ? SW_SHOW : SW_HIDE);
    s->m_shown = show;
  }
}

// Notifications -----------------------------------------------------------------------------

void CSkinDialog::OnSkinButtonClicked(const char*) {}

void CSkinDialog::OnSkinButtonUp(int index) {
  if (const char* name = nameAt(m_buttons, index)) OnSkinButtonClicked(name);
}

void CSkinDialog::OnSkinSliderChanged(const char*, int, int) {}

void CSkinDialog::OnSkinSliderEvent(int index, int code, int position) {
  if (const char* name = nameAt(m_sliders, index)) {
    OnSkinSliderChanged(name, code, skin::sliderValueFromPosition(position));
  }
}

void CSkinDialog::OnSkinLabelClicked(const char*) {}

void CSkinDialog::OnSkinLabelUp(int index) {
  if (const char* name = nameAt(m_labels, index)) OnSkinLabelClicked(name);
}

void CSkinDialog::OnSkinMouseOver(const char*, int, int) {}
