#include "DriverLoader.h"

#include <objbase.h>

#include <cstdio>

namespace asiohost {

std::string hresultText(HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
  char* text = nullptr;
  const DWORD n =
      FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string out = code;
  if (n && text) {
    std::string t(text, n);
    while (!t.empty() && (t.back() == '\n' || t.back() == '\r' || t.back() == ' ' || t.back() == '.')) t.pop_back();
    out += " (" + t + ")";
  }
  if (text) LocalFree(text);
  return out;
}

DriverRef createDriver(const InstalledDriver& driver, std::string& error) {
  if (!driver.clsidValid) {
    error = "driver '" + driver.name + "' cannot be loaded: " + driver.problem;
    return DriverRef();
  }
  void* object = nullptr;
  const HRESULT hr = CoCreateInstance(driver.clsid, nullptr, CLSCTX_INPROC_SERVER, driver.clsid, &object);
  if (FAILED(hr) || !object) {
    error = "driver '" + driver.name + "' (class " + driver.clsidText + ") cannot be created: " + hresultText(hr);
#if defined(_WIN64)
    if (hr == REGDB_E_CLASSNOTREG && driver.in32 && !driver.in64)
      error += "; it is registered for 32-bit hosts only: use the x86 build of this program";
#else
    if (hr == REGDB_E_CLASSNOTREG && driver.in64 && !driver.in32)
      error += "; it is registered for 64-bit hosts only: use the x64 build of this program";
#endif
    return DriverRef();
  }
  return DriverRef(static_cast<IASIO*>(object));
}

}  // namespace asiohost
