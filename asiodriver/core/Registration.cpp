#include "Registration.h"

#include <objbase.h>

#include <cwchar>

#include "RegKey.h"
#include "TessConstants.h"

namespace tess {
namespace {

constexpr wchar_t kClassKeyPrefix[] = L"CLSID\\";
constexpr char kThreadingModel[] = "Apartment";

// "CLSID\{...}" (and optionally a subkey after it).
bool classKeyPath(const GUID& clsid, const wchar_t* subkey, wchar_t* out, size_t outChars) {
  wchar_t guid[40];
  if (StringFromGUID2(clsid, guid, 40) == 0) return false;
  int n = subkey ? swprintf(out, outChars, L"%ls%ls\\%ls", kClassKeyPrefix, guid, subkey)
                 : swprintf(out, outChars, L"%ls%ls", kClassKeyPrefix, guid);
  return n > 0 && static_cast<size_t>(n) < outChars;
}

bool setString(const RegKey& key, const char* name, const char* value) {
  return RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                        static_cast<DWORD>(lstrlenA(value) + 1)) == ERROR_SUCCESS;
}

}  // namespace

HRESULT registerServer(HINSTANCE module) {
  char path[MAX_PATH];
  DWORD len = GetModuleFileNameA(module, path, MAX_PATH);
  if (len == 0 || len >= MAX_PATH) return E_FAIL;  // a truncated path would register a wrong file

  GUID clsid;
  if (FAILED(CoCreateGuid(&clsid))) return E_FAIL;
  wchar_t guid[40];
  int guidChars = StringFromGUID2(clsid, guid, 40);  // includes the terminating zero
  if (guidChars == 0) return E_FAIL;

  // HKLM "Software\ASIO\Tessaline USB 2": how hosts find the driver.
  {
    RegKey asio, driver;
    if (asio.create(HKEY_LOCAL_MACHINE, kAsioKeyPath, KEY_ALL_ACCESS) != ERROR_SUCCESS) return E_FAIL;
    if (driver.create(asio.get(), kDriverName, KEY_ALL_ACCESS) != ERROR_SUCCESS) return E_FAIL;
    bool ok = RegSetValueExW(driver.get(), L"CLSID", 0, REG_SZ, reinterpret_cast<const BYTE*>(guid),
                             static_cast<DWORD>(guidChars * sizeof(wchar_t))) == ERROR_SUCCESS;
    ok = ok && setString(driver, "Driver", path);
    // The name hosts list the driver by; several read it and treat it as required.
    ok = ok && setString(driver, "Description", kDriverName);
    if (!ok) return E_FAIL;
  }

  // HKCR "CLSID\{G}": the in-process server.
  wchar_t classPath[80];
  if (!classKeyPath(clsid, nullptr, classPath, 80)) return E_FAIL;
  RegKey classKey;
  if (classKey.createW(HKEY_CLASSES_ROOT, classPath, KEY_ALL_ACCESS) != ERROR_SUCCESS) return E_FAIL;
  RegKey inproc;
  bool inprocCreated = inproc.create(classKey.get(), "InprocServer32", KEY_ALL_ACCESS) == ERROR_SUCCESS;
  bool ok = inprocCreated && setString(inproc, nullptr, path) && setString(inproc, "ThreadingModel", kThreadingModel);
  inproc.close();
  ok = setString(classKey, "FriendlyName", kDriverName) && ok;
  return ok ? S_OK : E_FAIL;
}

HRESULT unregisterServer() {
  RegKey asio;
  if (asio.open(HKEY_LOCAL_MACHINE, kAsioKeyPath, KEY_ALL_ACCESS) == ERROR_SUCCESS) {
    RegKey driver;
    if (driver.open(asio.get(), kDriverName, KEY_ALL_ACCESS) == ERROR_SUCCESS) {
      // 520 bytes: room for the string form; a zero is appended so a value without one
      // (or of another type) can never be read past.
      wchar_t text[261] = {};
      DWORD type = 0, size = 520;
      GUID clsid;
      wchar_t path[80];
      if (RegQueryValueExW(driver.get(), L"CLSID", nullptr, &type, reinterpret_cast<BYTE*>(text), &size) ==
              ERROR_SUCCESS &&
          type == REG_SZ && SUCCEEDED(CLSIDFromString(text, &clsid))) {
        if (classKeyPath(clsid, L"InprocServer32", path, 80)) RegDeleteKeyW(HKEY_CLASSES_ROOT, path);
        if (classKeyPath(clsid, nullptr, path, 80)) RegDeleteKeyW(HKEY_CLASSES_ROOT, path);
      }
      driver.close();
      RegDeleteKeyA(asio.get(), kDriverName);
    }
  }
  RegKey settings;
  if (settings.open(HKEY_CURRENT_USER, kAsioKeyPath, KEY_ALL_ACCESS) == ERROR_SUCCESS)
    RegDeleteKeyA(settings.get(), kDriverName);
  return S_OK;
}

}  // namespace tess
