#include "Controls.h"

#include <vector>

IMPLEMENT_DYNAMIC(CButton, CWnd)
IMPLEMENT_DYNAMIC(CSliderCtrl, CWnd)
IMPLEMENT_DYNAMIC(CToolTipCtrl, CWnd)
IMPLEMENT_DYNAMIC(CComboBox, CWnd)
IMPLEMENT_DYNAMIC(CIPAddressCtrl, CWnd)

bool CButton::Create(const char* caption, DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return CreateEx(0, "BUTTON", caption, style | WS_CHILD, rect, parent, id);
}

bool CSliderCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return CreateEx(0, TRACKBAR_CLASSA, "", style | WS_CHILD, rect, parent, id);
}

void CSliderCtrl::SetRange(int low, int high, bool redraw) {
  SendMessage(TBM_SETRANGEMIN, FALSE, low);
  SendMessage(TBM_SETRANGEMAX, redraw, high);
}

namespace {
// The version-2 record: understood by every common-controls version that has tooltips'
// subclass flag, with or without a version-6 manifest.
TOOLINFOA toolInfo(CWnd* owner, CWnd* tool, UINT_PTR id) {
  TOOLINFOA ti{};
  ti.cbSize = TTTOOLINFOA_V2_SIZE;
  ti.hwnd = tool ? tool->m_hWnd : (owner ? owner->m_hWnd : nullptr);
  ti.uId = id;
  return ti;
}
}  // namespace

bool CToolTipCtrl::Create(CWnd* parent, DWORD style) {
  if (!parent || !parent->m_hWnd || m_hWnd) return false;
  HWND hWnd = ::CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | style,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, parent->m_hWnd,
                                nullptr, ::GetModuleHandleA(nullptr), nullptr);
  if (!hWnd) return false;
  if (!SubclassWindow(hWnd)) {
    ::DestroyWindow(hWnd);
    return false;
  }
  return true;
}

bool CToolTipCtrl::AddTool(CWnd* tool, const char* text, const RECT* rect, UINT_PTR id, UINT flags) {
  if (!tool || !tool->m_hWnd) return false;
  TOOLINFOA ti = toolInfo(nullptr, tool, id);
  ti.uFlags = flags;
  ti.lpszText = const_cast<char*>(text ? text : "");
  if (rect) {
    ti.rect = *rect;
  } else {
    ::GetClientRect(tool->m_hWnd, &ti.rect);
  }
  return SendMessage(TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti)) != FALSE;
}

void CToolTipCtrl::UpdateTipText(const char* text, CWnd* tool, UINT_PTR id) {
  TOOLINFOA ti = toolInfo(nullptr, tool, id);
  ti.lpszText = const_cast<char*>(text ? text : "");
  SendMessage(TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&ti));
}

bool CComboBox::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return CreateEx(0, "COMBOBOX", "", style | WS_CHILD, rect, parent, id);
}

std::string CComboBox::GetLBText(int index) {
  const LRESULT length = SendMessage(CB_GETLBTEXTLEN, static_cast<WPARAM>(index));
  if (length == CB_ERR || length < 0) return std::string();
  std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\0');
  const LRESULT got = SendMessage(CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer.data()));
  if (got == CB_ERR || got < 0) return std::string();
  return std::string(buffer.data(), static_cast<std::size_t>(got));
}

bool CIPAddressCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return CreateEx(0, WC_IPADDRESSA, "", style | WS_CHILD, rect, parent, id);
}
