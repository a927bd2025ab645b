// The panel's notification-area icon: icon 128 with the window title as its tip, the tray
// menu, and its return after the shell restarts. A failed add (the shell not up yet at
// logon) is retried by the owner's poll.
#pragma once

#include <windows.h>

#include <string>

#include "NotifyIcon.h"

class CPanelTray {
 public:
  static constexpr UINT kIconId = 50;

  CPanelTray() = default;
  ~CPanelTray() = default;
  CPanelTray(const CPanelTray&) = delete;
  CPanelTray& operator=(const CPanelTray&) = delete;

  // Adds the icon (a failure is remembered for Retry); the shell keeps its own copy of the icon.
  bool Add(HWND owner, HINSTANCE module, const char* tip);
  bool Retry();  // adds again when the icon is missing: after a failed add or a shell restart
  // After a shell restart the icon is gone (a delete that finds none does no harm).
  void ShellRestarted() {
    m_icon.Delete();
    Retry();
  }
  bool SetTip(const char* tip);
  void Delete();
  bool IsAdded() const { return m_icon.IsAdded(); }
  bool IsWanted() const { return m_wanted; }
  const std::string& Tip() const { return m_tip; }

  // The menu for a window that is visible or not: "Hide" or "Show", then "Exit".
  static HMENU BuildMenu(bool windowVisible);
  // Shows the menu at the cursor; its command goes to the owner as WM_COMMAND.
  void TrackMenu(bool windowVisible);

 private:
  HICON LoadPanelIcon() const;

  CNotifyIcon m_icon;
  HWND m_owner = nullptr;
  HINSTANCE m_module = nullptr;
  std::string m_tip;
  bool m_wanted = false;
};
