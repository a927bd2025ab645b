// CNotifyIcon: one icon in the notification area, its tip and its callback message.
#pragma once

#include <windows.h>
#include <shellapi.h>

class CNotifyIcon {
 public:
  CNotifyIcon() = default;
  ~CNotifyIcon();  // removes the icon if added
  CNotifyIcon(const CNotifyIcon&) = delete;
  CNotifyIcon& operator=(const CNotifyIcon&) = delete;

  // Record size the shell understands: the full record from shell version 5.0 on, else the
  // version-2 size.
  static DWORD RecordSize();

  // Adds the icon; the record keeps owner, id, callback message and tip (cut to 127 chars).
  bool Add(HWND owner, UINT id, UINT callbackMessage, HICON icon, const char* tip);
  bool Modify(HICON icon, const char* tip);  // a null icon keeps the current one
  bool Delete();
  bool IsAdded() const { return m_added; }
  const NOTIFYICONDATAA& Record() const { return m_data; }

 private:
  NOTIFYICONDATAA m_data{};
  bool m_added = false;
};
