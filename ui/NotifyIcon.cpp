#include "NotifyIcon.h"

#include <shlwapi.h>

#include <cstring>

namespace {
void copyTip(NOTIFYICONDATAA& data, const char* tip) {
  std::memset(data.szTip, 0, sizeof data.szTip);
  if (tip) std::strncpy(data.szTip, tip, sizeof data.szTip - 1);
}
}  // namespace

CNotifyIcon::~CNotifyIcon() { Delete(); }

DWORD CNotifyIcon::RecordSize() {
  DWORD size = NOTIFYICONDATAA_V2_SIZE;
  HMODULE shell = ::LoadLibraryA("shell32.dll");
  if (!shell) return size;
  auto getVersion = reinterpret_cast<DLLGETVERSIONPROC>(
      reinterpret_cast<void*>(::GetProcAddress(shell, "DllGetVersion")));
  if (getVersion) {
    DLLVERSIONINFO info{};
    info.cbSize = sizeof info;
    if (SUCCEEDED(getVersion(&info)) && info.dwMajorVersion >= 5) size = sizeof(NOTIFYICONDATAA);
  }
  ::FreeLibrary(shell);
  return size;
}

bool CNotifyIcon::Add(HWND owner, UINT id, UINT callbackMessage, HICON icon, const char* tip) {
  if (m_added) Delete();
  std::memset(&m_data, 0, sizeof m_data);
  m_data.cbSize = RecordSize();
  m_data.hWnd = owner;
  m_data.uID = id;
  m_data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  m_data.uCallbackMessage = callbackMessage;
  m_data.hIcon = icon;
  copyTip(m_data, tip);
  m_added = ::Shell_NotifyIconA(NIM_ADD, &m_data) != FALSE;
  return m_added;
}

bool CNotifyIcon::Modify(HICON icon, const char* tip) {
  if (!m_added) return false;
  m_data.uFlags = NIF_TIP | (icon ? NIF_ICON : 0);
  if (icon) m_data.hIcon = icon;
  copyTip(m_data, tip);
  return ::Shell_NotifyIconA(NIM_MODIFY, &m_data) != FALSE;
}

bool CNotifyIcon::Delete() {
  if (!m_added) return false;
  m_added = false;
  m_data.uFlags = 0;
  return ::Shell_NotifyIconA(NIM_DELETE, &m_data) != FALSE;
}
