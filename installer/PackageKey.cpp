#include "PackageKey.h"

#include "RegistryText.h"
#include "TessConstants.h"

namespace tess::installer {

namespace {

constexpr char kWow32KeyPath[] = "SOFTWARE\\Wow6432Node\\Tessaline\\Tessaline USB 2";
constexpr DWORD kPackageTextMax = 260;
constexpr DWORD kCompletionStatus = 80;

const char* pathOf(KeyView view) { return view == KeyView::Package ? kPackageKeyPath : kWow32KeyPath; }

class CKey {
 public:
  CKey(HKEY root, const char* path, REGSAM access) {
    if (RegOpenKeyExA(root, path, 0, access, &m_key) != ERROR_SUCCESS) m_key = nullptr;
  }
  ~CKey() {
    if (m_key) RegCloseKey(m_key);
  }
  CKey(const CKey&) = delete;
  CKey& operator=(const CKey&) = delete;
  HKEY get() const { return m_key; }

 private:
  HKEY m_key = nullptr;
};

}  // namespace

std::optional<RegValue> readRegValue(HKEY key, const char* name, DWORD maxBytes) {
  DWORD type = REG_NONE, size = 0;
  LONG rc = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
  if (rc != ERROR_SUCCESS || size > maxBytes) return std::nullopt;
  // The value may grow between the two calls: a few tries with the new size.
  for (int attempt = 0; attempt < 4; ++attempt) {
    RegValue value;
    value.bytes.resize(size);
    DWORD got = size;
    rc = RegQueryValueExA(key, name, nullptr, &value.type,
                          size ? reinterpret_cast<BYTE*>(&value.bytes[0]) : nullptr, &got);
    if (rc == ERROR_SUCCESS && got <= size) {
      value.bytes.resize(got);
      return value;
    }
    if (rc != ERROR_MORE_DATA || got > maxBytes) return std::nullopt;
    size = got;
  }
  return std::nullopt;
}

std::optional<std::string> readPackageText(KeyView view, const char* name) {
  CKey key(HKEY_LOCAL_MACHINE, pathOf(view), KEY_ALL_ACCESS);
  if (!key.get()) return std::nullopt;
  std::optional<RegValue> value = readRegValue(key.get(), name, kPackageTextMax);
  if (!value) return std::nullopt;
  return registryText(value->type, reinterpret_cast<const uint8_t*>(value->bytes.data()), value->bytes.size(),
                      kPackageTextMax);
}

std::optional<DWORD> readPackageDword(KeyView view, const char* name) {
  CKey key(HKEY_LOCAL_MACHINE, pathOf(view), KEY_ALL_ACCESS);
  if (!key.get()) return std::nullopt;
  DWORD type = REG_NONE, data = 0, size = sizeof data;
  if (RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof data)
    return std::nullopt;
  return data;
}

void writeCompletionStatus() {
  const DWORD status = kCompletionStatus;
  for (KeyView view : {KeyView::Package, KeyView::Wow32}) {
    CKey key(HKEY_LOCAL_MACHINE, pathOf(view), KEY_ALL_ACCESS);
    if (key.get() && RegSetValueExA(key.get(), "CoInstallStatus", 0, REG_DWORD,
                                    reinterpret_cast<const BYTE*>(&status), sizeof status) == ERROR_SUCCESS)
      return;
  }
}

}  // namespace tess::installer
