// An owned registry key handle: closed on every path.
#pragma once

#include <windows.h>

namespace tess {

class RegKey {
 public:
  RegKey() = default;
  ~RegKey() { close(); }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;

  // Each returns the Win32 error code (ERROR_SUCCESS on success).
  LONG open(HKEY parent, const char* path, REGSAM access) {
    close();
    return RegOpenKeyExA(parent, path, 0, access, &m_h);
  }
  LONG create(HKEY parent, const char* path, REGSAM access) {
    close();
    return RegCreateKeyExA(parent, path, 0, nullptr, 0, access, nullptr, &m_h, nullptr);
  }
  LONG createW(HKEY parent, const wchar_t* path, REGSAM access) {
    close();
    return RegCreateKeyExW(parent, path, 0, nullptr, 0, access, nullptr, &m_h, nullptr);
  }
  void close() {
    if (m_h) RegCloseKey(m_h);
    m_h = nullptr;
  }
  HKEY get() const { return m_h; }
  explicit operator bool() const { return m_h != nullptr; }

  // A REG_DWORD of exactly four bytes; anything else (missing, other type, other
  // size) is a failed read.
  bool readDword(const char* name, DWORD& out) const {
    DWORD type = 0, value = 0, size = sizeof value;
    if (!m_h || RegQueryValueExA(m_h, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
      return false;
    if (type != REG_DWORD || size != sizeof value) return false;
    out = value;
    return true;
  }
  bool writeDword(const char* name, DWORD value) const {
    return m_h && RegSetValueExA(m_h, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
                      ERROR_SUCCESS;
  }

 private:
  HKEY m_h = nullptr;
};

}  // namespace tess
