#include "Wnd.h"

#include <vector>

IMPLEMENT_DYNAMIC(CWnd, CObject)

namespace {
// The window property that points at the bound object.
const char kObjectProperty[] = "TessUi.CWnd";

// Signed client coordinates from a mouse message.
POINT pointFrom(LPARAM lParam) {
  return POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
}
}  // namespace

CWnd::~CWnd() {
  if (m_hWnd) {
    // Derived parts are gone: their handlers must not run during the destruction.
    HWND hWnd = m_hWnd;
    Detach();
    ::DestroyWindow(hWnd);
  }
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
  if (!hWnd) return nullptr;
  return static_cast<CWnd*>(::GetPropA(hWnd, kObjectProperty));
}

bool CWnd::SubclassWindow(HWND hWnd) {
  if (m_hWnd || !hWnd || !::IsWindow(hWnd) || FromHandlePermanent(hWnd)) return false;
  if (!::SetPropA(hWnd, kObjectProperty, this)) return false;
  m_hWnd = hWnd;
  PreSubclassWindow();
  const auto previous = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::StaticWindowProc)));
  if (!previous) {
    ::RemovePropA(hWnd, kObjectProperty);
    m_hWnd = nullptr;
    return false;
  }
  m_pfnSuper = previous;
  return true;
}

bool CWnd::SubclassDlgItem(UINT id, CWnd* parent) {
  if (!parent || !parent->m_hWnd) return false;
  return SubclassWindow(::GetDlgItem(parent->m_hWnd, static_cast<int>(id)));
}

HWND CWnd::UnsubclassWindow() {
  HWND hWnd = m_hWnd;
  Detach();
  return hWnd;
}

void CWnd::Detach() {
  if (!m_hWnd) return;
  if (m_pfnSuper) ::SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
  ::RemovePropA(m_hWnd, kObjectProperty);
  m_pfnSuper = nullptr;
  m_hWnd = nullptr;
}

bool CWnd::CreateEx(DWORD exStyle, const char* className, const char* windowName, DWORD style,
                    const RECT& rect, CWnd* parent, UINT id) {
  if (m_hWnd) return false;
  HWND parentHwnd = parent ? parent->m_hWnd : nullptr;
  HWND hWnd = ::CreateWindowExA(exStyle, className, windowName, style, rect.left, rect.top,
                                rect.right - rect.left, rect.bottom - rect.top, parentHwnd,
                                (style & WS_CHILD) ? reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)) : nullptr,
                                ::GetModuleHandleA(nullptr), nullptr);
  if (!hWnd) return false;
  if (!SubclassWindow(hWnd)) {
    ::DestroyWindow(hWnd);
    return false;
  }
  return true;
}

bool CWnd::DestroyWindow() {
  if (!m_hWnd) return false;
  return ::DestroyWindow(m_hWnd) != FALSE;  // WM_NCDESTROY detaches
}

bool CWnd::WalkPreTranslateTree(HWND stop, MSG* msg) {
  for (HWND hWnd = msg->hwnd; hWnd;) {
    CWnd* wnd = FromHandlePermanent(hWnd);
    if (wnd && wnd->PreTranslateMessage(msg)) return true;
    if (hWnd == stop || !(::GetWindowLongPtrA(hWnd, GWL_STYLE) & WS_CHILD)) break;
    hWnd = ::GetParent(hWnd);
  }
  return false;
}

std::string CWnd::GetWindowText() const {
  const int length = ::GetWindowTextLengthA(m_hWnd);
  if (length <= 0) return std::string();
  std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
  const int got = ::GetWindowTextA(m_hWnd, buffer.data(), length + 1);
  return std::string(buffer.data(), got > 0 ? static_cast<std::size_t>(got) : 0);
}

bool CWnd::ModifyStyle(DWORD remove, DWORD add, UINT swpFlags) {
  const DWORD style = GetStyle();
  const DWORD changed = (style & ~remove) | add;
  if (changed == style) return false;
  ::SetWindowLongPtrA(m_hWnd, GWL_STYLE, static_cast<LONG_PTR>(changed));
  if (swpFlags)
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | swpFlags);
  return true;
}

HWND CWnd::GetOwnerOrParent() const {
  HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
  return owner ? owner : ::GetParent(m_hWnd);
}

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }
void CWnd::PreSubclassWindow() {}
void CWnd::DrawItem(DRAWITEMSTRUCT*) {}
void CWnd::PostNcDestroy() {}

LRESULT CWnd::Default() { return DefWindowProc(m_current.msg, m_current.wParam, m_current.lParam); }

LRESULT CWnd::DefWindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (m_pfnSuper) return ::CallWindowProcA(m_pfnSuper, m_hWnd, msg, wParam, lParam);
  return ::DefWindowProcA(m_hWnd, msg, wParam, lParam);
}

LRESULT CALLBACK CWnd::StaticWindowProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  CWnd* wnd = FromHandlePermanent(hWnd);
  if (!wnd) return ::DefWindowProcA(hWnd, msg, wParam, lParam);
  if (msg == WM_NCDESTROY) {
    // Last message: the previous procedure gets it, then the object lets go of the window.
    WNDPROC super = wnd->m_pfnSuper;
    wnd->Detach();
    const LRESULT result = super ? ::CallWindowProcA(super, hWnd, msg, wParam, lParam)
                                 : ::DefWindowProcA(hWnd, msg, wParam, lParam);
    if (wnd->m_dispatchDepth > 0) {
      wnd->m_postNcDestroyPending = true;  // a handler of this window is still running
    } else {
      wnd->PostNcDestroy();
    }
    return result;
  }
  const CurrentMessage saved = wnd->m_current;
  wnd->m_current = CurrentMessage{msg, wParam, lParam};
  ++wnd->m_dispatchDepth;
  const LRESULT result = wnd->WindowProc(msg, wParam, lParam);
  wnd->m_current = saved;
  if (--wnd->m_dispatchDepth == 0 && wnd->m_postNcDestroyPending) {
    // The window went away during the dispatch: the object's last act, nothing after it.
    wnd->m_postNcDestroyPending = false;
    wnd->PostNcDestroy();
  }
  return result;
}

LRESULT CWnd::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (OnWndMsg(msg, wParam, lParam, &result)) return result;
  return DefWindowProc(msg, wParam, lParam);
}

bool CWnd::OnWndMsg(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  switch (msg) {
    case WM_COMMAND:
      if (!OnCommand(wParam, lParam)) return false;
      *result = 0;
      return true;
    case WM_DRAWITEM: {
      auto* dis = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
      CWnd* control = dis && dis->CtlType != ODT_MENU ? FromHandlePermanent(dis->hwndItem) : nullptr;
      if (!control) return false;
      control->DrawItem(dis);
      *result = TRUE;
      return true;
    }
    case WM_PAINT:
      OnPaint();
      return true;
    case WM_ERASEBKGND:
      *result = OnEraseBkgnd(reinterpret_cast<HDC>(wParam));
      return true;
    case WM_MOUSEMOVE:
      OnMouseMove(static_cast<UINT>(wParam), pointFrom(lParam));
      return true;
    case WM_LBUTTONDOWN:
      OnLButtonDown(static_cast<UINT>(wParam), pointFrom(lParam));
      return true;
    case WM_LBUTTONUP:
      OnLButtonUp(static_cast<UINT>(wParam), pointFrom(lParam));
      return true;
    case WM_MOUSEWHEEL:
      *result = OnMouseWheel(GET_KEYSTATE_WPARAM(wParam), GET_WHEEL_DELTA_WPARAM(wParam), pointFrom(lParam));
      return true;
    case WM_TIMER:
      OnTimer(static_cast<UINT_PTR>(wParam));
      return true;
    case WM_KILLFOCUS:
      OnKillFocus(reinterpret_cast<HWND>(wParam));
      return true;
    case WM_CAPTURECHANGED:
      OnCaptureChanged(reinterpret_cast<HWND>(lParam));
      return true;
    case WM_SYSCOMMAND:
      OnSysCommand(static_cast<UINT>(wParam), lParam);
      return true;
    case WM_DESTROY:
      OnDestroy();
      return true;
    case WM_DEVICECHANGE:
      *result = OnDeviceChange(static_cast<UINT>(wParam), static_cast<DWORD_PTR>(lParam));
      return true;
    case WM_QUERYDRAGICON:
      *result = reinterpret_cast<LRESULT>(OnQueryDragIcon());
      return true;
    case WM_NOTIFY:
      return OnNotify(wParam, lParam, result) != FALSE;
    case WM_HSCROLL:
      OnHScroll(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      return true;
    case WM_VSCROLL:
      OnVScroll(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      return true;
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: {
      HBRUSH brush = OnCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), msg);
      if (!brush) return false;
      *result = reinterpret_cast<LRESULT>(brush);
      return true;
    }
    case WM_QUERYENDSESSION:
      *result = OnQueryEndSession();
      return true;
    case WM_ENDSESSION:
      OnEndSession(static_cast<BOOL>(wParam));
      *result = 0;
      return true;
    default:
      if (msg >= WM_USER) return OnPrivateMessage(msg, wParam, lParam, result);
      return false;
  }
}

// Every base handler hands the message to the window's own processing; keeping the result
// where the message has one.
BOOL CWnd::OnCommand(WPARAM, LPARAM) { return FALSE; }
void CWnd::OnPaint() { Default(); }
BOOL CWnd::OnEraseBkgnd(HDC) { return static_cast<BOOL>(Default()); }
void CWnd::OnMouseMove(UINT, POINT) { Default(); }
void CWnd::OnLButtonDown(UINT, POINT) { Default(); }
void CWnd::OnLButtonUp(UINT, POINT) { Default(); }
BOOL CWnd::OnMouseWheel(UINT, short, POINT) { return static_cast<BOOL>(Default()); }
void CWnd::OnTimer(UINT_PTR) { Default(); }
void CWnd::OnKillFocus(HWND) { Default(); }
void CWnd::OnCaptureChanged(HWND) { Default(); }
void CWnd::OnSysCommand(UINT, LPARAM) { Default(); }
void CWnd::OnDestroy() { Default(); }
BOOL CWnd::OnDeviceChange(UINT, DWORD_PTR) { return static_cast<BOOL>(Default()); }
HCURSOR CWnd::OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(Default()); }
BOOL CWnd::OnNotify(WPARAM, LPARAM, LRESULT*) { return FALSE; }
void CWnd::OnHScroll(UINT, UINT, HWND) { Default(); }
void CWnd::OnVScroll(UINT, UINT, HWND) { Default(); }
HBRUSH CWnd::OnCtlColor(HDC, HWND, UINT) { return nullptr; }
BOOL CWnd::OnQueryEndSession() { return static_cast<BOOL>(Default()); }
void CWnd::OnEndSession(BOOL) { Default(); }
bool CWnd::OnPrivateMessage(UINT, WPARAM, LPARAM, LRESULT*) { return false; }
