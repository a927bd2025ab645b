// CWnd: a C++ object bound to a window by subclassing. Messages reach virtual handlers
// (OnPaint, OnMouseMove, ...); a handler that wants the window's own processing calls
// Default(). Owner-drawing requests are reflected from the parent to the control's DrawItem.
#pragma once

#include <windows.h>

#include <string>

#include "Object.h"

class CWnd : public CObject {
  DECLARE_DYNAMIC(CWnd)

 public:
  CWnd() = default;
  ~CWnd() override;  // destroys a window still attached
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND m_hWnd = nullptr;
  HWND GetSafeHwnd() const { return m_hWnd; }
  operator HWND() const { return m_hWnd; }

  // The object bound to a window, or null.
  static CWnd* FromHandlePermanent(HWND hWnd);

  // Binds this object to an existing window: PreSubclassWindow, then its messages come here.
  bool SubclassWindow(HWND hWnd);
  bool SubclassDlgItem(UINT id, CWnd* parent);
  HWND UnsubclassWindow();

  // Creates a window of an existing class (a system control) and subclasses it.
  bool CreateEx(DWORD exStyle, const char* className, const char* windowName, DWORD style, const RECT& rect,
                CWnd* parent, UINT id);
  virtual bool DestroyWindow();

  // Offers a message to the windows from msg's target up to stop (child to parent) before it
  // is dispatched; true when one of them took it.
  static bool WalkPreTranslateTree(HWND stop, MSG* msg);

  // Thin helpers over the window functions.
  bool ShowWindow(int cmd) { return ::ShowWindow(m_hWnd, cmd) != FALSE; }
  bool IsWindowVisible() const { return ::IsWindowVisible(m_hWnd) != FALSE; }
  bool EnableWindow(bool enable) { return ::EnableWindow(m_hWnd, enable) != FALSE; }
  bool IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd) != FALSE; }
  void Invalidate(bool erase = true) { ::InvalidateRect(m_hWnd, nullptr, erase); }
  void UpdateWindow() { ::UpdateWindow(m_hWnd); }
  bool RedrawWindow(UINT flags) { return ::RedrawWindow(m_hWnd, nullptr, nullptr, flags) != FALSE; }
  void GetClientRect(RECT* rect) const { ::GetClientRect(m_hWnd, rect); }
  void GetWindowRect(RECT* rect) const { ::GetWindowRect(m_hWnd, rect); }
  bool SetWindowPos(HWND after, int x, int y, int cx, int cy, UINT flags) {
    return ::SetWindowPos(m_hWnd, after, x, y, cx, cy, flags) != FALSE;
  }
  void SetWindowText(const char* text) { ::SetWindowTextA(m_hWnd, text); }
  std::string GetWindowText() const;
  DWORD GetStyle() const { return static_cast<DWORD>(::GetWindowLongPtrA(m_hWnd, GWL_STYLE)); }
  bool ModifyStyle(DWORD remove, DWORD add, UINT swpFlags = 0);
  HWND GetParent() const { return ::GetParent(m_hWnd); }
  HWND GetOwnerOrParent() const;
  LRESULT SendMessage(UINT msg, WPARAM w = 0, LPARAM l = 0) { return ::SendMessageA(m_hWnd, msg, w, l); }
  bool PostMessage(UINT msg, WPARAM w = 0, LPARAM l = 0) { return ::PostMessageA(m_hWnd, msg, w, l) != FALSE; }
  UINT_PTR SetTimer(UINT_PTR id, UINT elapse) { return ::SetTimer(m_hWnd, id, elapse, nullptr); }
  bool KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id) != FALSE; }

  // True while a message of this object's window is being handled (handlers may nest).
  bool IsHandlingMessage() const { return m_dispatchDepth > 0; }

  virtual BOOL PreTranslateMessage(MSG* msg);
  virtual void PreSubclassWindow();
  // Dispatches to the handlers below; what no handler takes goes to DefWindowProc.
  virtual LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
  // Owner drawing of this control, reflected from its parent's WM_DRAWITEM.
  virtual void DrawItem(DRAWITEMSTRUCT* dis);
  // The last message this object sees; the object may delete itself here.
  virtual void PostNcDestroy();

 protected:
  // The message being handled, to the window's previous procedure.
  LRESULT Default();
  virtual LRESULT DefWindowProc(UINT msg, WPARAM wParam, LPARAM lParam);

  // Handlers. The base versions run the window's own processing (Default()).
  virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);  // FALSE: not handled
  virtual void OnPaint();
  virtual BOOL OnEraseBkgnd(HDC dc);
  virtual void OnMouseMove(UINT flags, POINT point);
  virtual void OnLButtonDown(UINT flags, POINT point);
  virtual void OnLButtonUp(UINT flags, POINT point);
  virtual BOOL OnMouseWheel(UINT flags, short delta, POINT screenPoint);
  virtual void OnTimer(UINT_PTR id);
  virtual void OnKillFocus(HWND newFocus);
  virtual void OnCaptureChanged(HWND newCapture);
  virtual void OnSysCommand(UINT id, LPARAM lParam);
  virtual void OnDestroy();
  // WM_DEVICECHANGE: the result is the message's (TRUE grants a query).
  virtual BOOL OnDeviceChange(UINT event, DWORD_PTR data);
  virtual HCURSOR OnQueryDragIcon();
  // WM_NOTIFY: TRUE with *result set when handled; the base reflects nothing and says FALSE.
  virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result);
  virtual void OnHScroll(UINT code, UINT position, HWND scrollBar);
  virtual void OnVScroll(UINT code, UINT position, HWND scrollBar);
  // WM_CTLCOLOR*: a brush to paint the control's background, or null for the default.
  virtual HBRUSH OnCtlColor(HDC dc, HWND control, UINT message);
  // Session end: a logoff or shutdown asks, then tells (ending TRUE: the process will end).
  virtual BOOL OnQueryEndSession();
  virtual void OnEndSession(BOOL ending);
  // Private and registered messages (WM_USER and above): true when taken, with *result.
  virtual bool OnPrivateMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result);


 private:
  static LRESULT CALLBACK StaticWindowProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
  // Handles msg with a virtual handler; false lets it go to DefWindowProc.
  bool OnWndMsg(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result);
  void Detach();

  struct CurrentMessage {
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
  };
  CurrentMessage m_current{};
  WNDPROC m_pfnSuper = nullptr;
  // A handler that destroys its own window gets WM_NCDESTROY inside its dispatch; the object
  // may delete itself in PostNcDestroy only once every dispatch frame has returned.
  int m_dispatchDepth = 0;
  bool m_postNcDestroyPending = false;
};
