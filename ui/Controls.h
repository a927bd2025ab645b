// Wrappers of the standard controls: button, trackbar, tooltip, combo box, IP address.
// Each is a CWnd: create it, or bind it to a dialog's control with SubclassDlgItem.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "Wnd.h"

class CButton : public CWnd {
  DECLARE_DYNAMIC(CButton)

 public:
  bool Create(const char* caption, DWORD style, const RECT& rect, CWnd* parent, UINT id);
  void SetButtonStyle(UINT style, bool redraw = true) { SendMessage(BM_SETSTYLE, style, redraw); }
  UINT GetState() { return static_cast<UINT>(SendMessage(BM_GETSTATE)); }
  int GetCheck() { return static_cast<int>(SendMessage(BM_GETCHECK)); }
  void SetCheck(int check) { SendMessage(BM_SETCHECK, static_cast<WPARAM>(check)); }
};

class CSliderCtrl : public CWnd {
  DECLARE_DYNAMIC(CSliderCtrl)

 public:
  bool Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  int GetPos() { return static_cast<int>(SendMessage(TBM_GETPOS)); }
  void SetPos(int pos) { SendMessage(TBM_SETPOS, TRUE, pos); }  // with redraw
  void SetRange(int low, int high, bool redraw = false);
  int GetRangeMin() { return static_cast<int>(SendMessage(TBM_GETRANGEMIN)); }
  int GetRangeMax() { return static_cast<int>(SendMessage(TBM_GETRANGEMAX)); }
  void GetThumbRect(RECT* rect) { SendMessage(TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(rect)); }
  void GetChannelRect(RECT* rect) { SendMessage(TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(rect)); }
};

class CToolTipCtrl : public CWnd {
  DECLARE_DYNAMIC(CToolTipCtrl)

 public:
  // A tooltip window owned by parent (always shown when active, even for inactive windows).
  bool Create(CWnd* parent, DWORD style = 0);
  // rect null: the tool's client area. flags: TTF_ flags (TTF_SUBCLASS relays by itself).
  bool AddTool(CWnd* tool, const char* text, const RECT* rect, UINT_PTR id, UINT flags = 0);
  void UpdateTipText(const char* text, CWnd* tool, UINT_PTR id);
  int GetToolCount() { return static_cast<int>(SendMessage(TTM_GETTOOLCOUNT)); }
  void Activate(bool active) { SendMessage(TTM_ACTIVATE, active); }
  void RelayEvent(MSG* msg) { SendMessage(TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(msg)); }
};

class CComboBox : public CWnd {
  DECLARE_DYNAMIC(CComboBox)

 public:
  bool Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  int AddString(const char* text) { return static_cast<int>(SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text))); }
  int InsertString(int index, const char* text) {
    return static_cast<int>(SendMessage(CB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text)));
  }
  int DeleteString(int index) { return static_cast<int>(SendMessage(CB_DELETESTRING, static_cast<WPARAM>(index))); }
  void ResetContent() { SendMessage(CB_RESETCONTENT); }
  int GetCount() { return static_cast<int>(SendMessage(CB_GETCOUNT)); }
  int GetCurSel() { return static_cast<int>(SendMessage(CB_GETCURSEL)); }
  int SetCurSel(int index) { return static_cast<int>(SendMessage(CB_SETCURSEL, static_cast<WPARAM>(index))); }
  int FindStringExact(int startAfter, const char* text) {
    return static_cast<int>(SendMessage(CB_FINDSTRINGEXACT, static_cast<WPARAM>(startAfter), reinterpret_cast<LPARAM>(text)));
  }
  std::string GetLBText(int index);  // empty for a bad index
  bool SetItemData(int index, DWORD_PTR data) {
    return SendMessage(CB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(data)) != CB_ERR;
  }
  DWORD_PTR GetItemData(int index) { return static_cast<DWORD_PTR>(SendMessage(CB_GETITEMDATA, static_cast<WPARAM>(index))); }
};

class CIPAddressCtrl : public CWnd {
  DECLARE_DYNAMIC(CIPAddressCtrl)

 public:
  bool Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  // Address in host order, first field in the high byte.
  void SetAddress(DWORD address) { SendMessage(IPM_SETADDRESS, 0, static_cast<LPARAM>(address)); }
  // Number of non-blank fields; address gets the value (blank fields read 0).
  int GetAddress(DWORD& address) { return static_cast<int>(SendMessage(IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address))); }
  void ClearAddress() { SendMessage(IPM_CLEARADDRESS); }
  bool IsBlank() { return SendMessage(IPM_ISBLANK) != 0; }
  void SetFieldFocus(int field) { SendMessage(IPM_SETFOCUS, static_cast<WPARAM>(field)); }
};
