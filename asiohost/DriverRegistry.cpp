#include "DriverRegistry.h"

#include <objbase.h>

#include "TessConstants.h"

namespace asiohost {
namespace {

struct KeyCloser {
  HKEY key = nullptr;
  ~KeyCloser() {
    if (key) RegCloseKey(key);
  }
};

// A string value; false with `problem` set when it exists but is not a string.
bool readString(HKEY key, const wchar_t* value, std::string& out, std::string& problem) {
  DWORD type = 0, bytes = 0;
  LONG rc = RegQueryValueExW(key, value, nullptr, &type, nullptr, &bytes);
  if (rc == ERROR_FILE_NOT_FOUND) return false;
  if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || bytes > 65536) {
    problem = "value \"" + wideToUtf8(value) + "\" is not a string";
    return false;
  }
  std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
  DWORD got = bytes;
  rc = RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(&text[0]), &got);
  if (rc != ERROR_SUCCESS) {
    problem = "value \"" + wideToUtf8(value) + "\" cannot be read";
    return false;
  }
  text.resize(got / sizeof(wchar_t));  // stored strings may or may not end in a zero
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  out = wideToUtf8(text.c_str(), static_cast<int>(text.size()));
  return true;
}

void readView(REGSAM view, std::vector<InstalledDriver>& drivers, std::string& error) {
  KeyCloser asio;
  const std::wstring path = utf8ToWide(tess::kAsioKeyPath);
  LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, &asio.key);
  if (rc == ERROR_FILE_NOT_FOUND) return;
  if (rc != ERROR_SUCCESS) {
    error = "cannot open HKLM\\Software\\ASIO (error " + std::to_string(rc) + ")";
    return;
  }
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD nameLength = 256;
    rc = RegEnumKeyExW(asio.key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) continue;  // a name too long for any host: skip it
    KeyCloser sub;
    if (RegOpenKeyExW(asio.key, name, 0, KEY_READ | view, &sub.key) != ERROR_SUCCESS) continue;
    InstalledDriver d;
    d.name = wideToUtf8(name, static_cast<int>(nameLength));
    if (!readString(sub.key, L"CLSID", d.clsidText, d.problem) && d.problem.empty()) d.problem = "no \"CLSID\" value";
    std::string ignored;
    readString(sub.key, L"Driver", d.path, ignored);
    readString(sub.key, L"Description", d.description, ignored);
    if (d.problem.empty()) {
      const std::wstring text = utf8ToWide(d.clsidText);
      d.clsidValid = SUCCEEDED(CLSIDFromString(text.c_str(), &d.clsid));
      if (!d.clsidValid) d.problem = "\"CLSID\" value '" + d.clsidText + "' is not a class identifier";
    }
    InstalledDriver* same = const_cast<InstalledDriver*>(findDriver(drivers, d.name));
    if (!same) {
      drivers.push_back(d);
      same = &drivers.back();
    } else if (view == KEY_WOW64_32KEY && same->in64 && same->clsidText != d.clsidText) {
      // Both views hold the name with different classes: keep the entry this host can load.
#if defined(_WIN64)
      same->in32 = true;
      continue;
#else
      *same = d;
      same->in64 = true;
#endif
    }
    (view == KEY_WOW64_64KEY ? same->in64 : same->in32) = true;
  }
}

}  // namespace

std::string wideToUtf8(const wchar_t* s, int length) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, s, length, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, s, length, &out[0], n, nullptr, nullptr);
  if (length < 0 && !out.empty()) out.pop_back();  // the terminating zero
  return out;
}

std::wstring utf8ToWide(const std::string& s) {
  if (s.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &out[0], n);
  return out;
}

std::vector<InstalledDriver> listInstalledDrivers(std::string& error) {
  std::vector<InstalledDriver> drivers;
  error.clear();
  readView(KEY_WOW64_64KEY, drivers, error);
  readView(KEY_WOW64_32KEY, drivers, error);
  if (!error.empty() && drivers.empty()) return {};
  error.clear();
  return drivers;
}

const InstalledDriver* findDriver(const std::vector<InstalledDriver>& drivers, const std::string& name) {
  for (const InstalledDriver& d : drivers)
    if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, d.name.c_str(), -1, name.c_str(), -1) == CSTR_EQUAL)
      return &d;
  return nullptr;
}

}  // namespace asiohost
