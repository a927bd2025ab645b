#include "PanelTray.h"

#include "PanelMessages.h"
#include "PanelResourceIds.h"

HICON CPanelTray::LoadPanelIcon() const {
  return static_cast<HICON>(::LoadImageA(m_module, MAKEINTRESOURCEA(IDI_PANEL), IMAGE_ICON,
                                         ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0));
}

bool CPanelTray::Add(HWND owner, HINSTANCE module, const char* tip) {
  m_owner = owner;
  m_module = module;
  m_tip = tip ? tip : "";
  m_wanted = true;
  return Retry();
}

bool CPanelTray::Retry() {
  if (!m_wanted || m_icon.IsAdded() || !m_owner) return m_icon.IsAdded();
  HICON icon = LoadPanelIcon();
  const bool added = m_icon.Add(m_owner, kIconId, WM_CPL_TRAY, icon, m_tip.c_str());
  if (icon) ::DestroyIcon(icon);  // the shell made its own copy
  return added;
}

bool CPanelTray::SetTip(const char* tip) {
  m_tip = tip ? tip : "";
  if (!m_icon.IsAdded()) return Retry();
  HICON icon = LoadPanelIcon();
  const bool modified = m_icon.Modify(icon, m_tip.c_str());
  if (icon) ::DestroyIcon(icon);
  return modified;
}

void CPanelTray::Delete() {
  m_wanted = false;
  m_icon.Delete();
}

HMENU CPanelTray::BuildMenu(bool windowVisible) {
  HMENU menu = ::CreatePopupMenu();
  if (!menu) return nullptr;
  if (windowVisible) {
    ::AppendMenuA(menu, MF_STRING, ID_TRAY_HIDE, "Hide");
  } else {
    ::AppendMenuA(menu, MF_STRING, ID_TRAY_SHOW, "Show");
  }
  ::AppendMenuA(menu, MF_STRING, ID_TRAY_EXIT, "Exit");
  return menu;
}

void CPanelTray::TrackMenu(bool windowVisible) {
  POINT cursor{};
  ::GetCursorPos(&cursor);
  HMENU menu = BuildMenu(windowVisible);
  if (!menu) return;
  // The menu closes when the user clicks elsewhere only if the owner is in the foreground,
  // and the next menu opens at once only after the owner has seen another message.
  ::SetForegroundWindow(m_owner);
  ::TrackPopupMenu(menu, TPM_BOTTOMALIGN | TPM_LEFTALIGN | TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, m_owner, nullptr);
  ::PostMessageA(m_owner, WM_NULL, 0, 0);
  ::DestroyMenu(menu);
}
