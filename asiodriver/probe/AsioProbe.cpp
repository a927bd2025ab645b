// Looks at the installed ASIO drivers the way a host does: HKLM "Software\ASIO", each
// driver's "CLSID" and "Driver", the class key; creates each through COM and then
// prints the status block as the control panel would read it.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>

#include "HostDemo.h"
#include "RegKey.h"
#include "Settings.h"
#include "TessConstants.h"

using namespace tess;

namespace {

const char* stateWord(uint32_t state) {
  static const char* const words[] = {"UNLOAD", "LOADED", "INITIALIZED", "PREPARED", "RUNNING"};
  return state < 5 ? words[state] : "?";
}

bool readString(HKEY key, const char* name, char* out, DWORD size) {
  DWORD type = 0, got = size - 1;
  out[0] = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(out), &got) != ERROR_SUCCESS) return false;
  if (type != REG_SZ) return false;
  out[got < size ? got : size - 1] = 0;
  return true;
}

void tryCreate(const CLSID& clsid) {
  IUnknown* driver = nullptr;
  // Hosts ask for the driver interface under the class identifier itself.
  HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid, reinterpret_cast<void**>(&driver));
  std::printf("    CoCreateInstance: 0x%08lX%s\n", static_cast<unsigned long>(hr),
              hr == E_FAIL ? " (E_FAIL: no supported device found)" : SUCCEEDED(hr) ? " (created)" : "");
  if (driver) driver->Release();
}

// Our driver's registered class identifier.
bool registeredClsid(CLSID& clsid) {
  RegKey asio, key;
  if (asio.open(HKEY_LOCAL_MACHINE, kAsioKeyPath, KEY_READ) != ERROR_SUCCESS ||
      key.open(asio.get(), kDriverName, KEY_READ) != ERROR_SUCCESS)
    return false;
  wchar_t text[64] = {};
  DWORD type = 0, size = sizeof text - sizeof(wchar_t);
  return RegQueryValueExW(key.get(), L"CLSID", nullptr, &type, reinterpret_cast<BYTE*>(text), &size) == ERROR_SUCCESS &&
         type == REG_SZ && SUCCEEDED(CLSIDFromString(text, &clsid));
}

void listDrivers(bool create) {
  RegKey asio;
  if (asio.open(HKEY_LOCAL_MACHINE, kAsioKeyPath, KEY_READ) != ERROR_SUCCESS) {
    std::printf("HKLM\\%s: not present, no ASIO drivers installed\n", kAsioKeyPath);
    return;
  }
  std::printf("ASIO drivers under HKLM\\%s:\n", kAsioKeyPath);
  char name[256];
  int count = 0;
  for (DWORD i = 0;; ++i) {
    DWORD len = sizeof name;
    if (RegEnumKeyExA(asio.get(), i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    ++count;
    std::printf("  \"%s\"\n", name);
    RegKey driverKey;
    if (driverKey.open(asio.get(), name, KEY_READ) != ERROR_SUCCESS) continue;
    wchar_t clsidText[64] = {};
    DWORD type = 0, size = sizeof clsidText - sizeof(wchar_t);
    CLSID clsid{};
    bool haveClsid = RegQueryValueExW(driverKey.get(), L"CLSID", nullptr, &type, reinterpret_cast<BYTE*>(clsidText),
                                      &size) == ERROR_SUCCESS &&
                     type == REG_SZ && SUCCEEDED(CLSIDFromString(clsidText, &clsid));
    std::printf("    CLSID  = %ls\n", haveClsid ? clsidText : L"(missing or invalid)");
    char text[MAX_PATH + 1];
    std::printf("    Driver = %s\n", readString(driverKey.get(), "Driver", text, sizeof text) ? text : "(missing)");
    if (!haveClsid) continue;
    wchar_t classPath[80];
    swprintf(classPath, 80, L"CLSID\\%ls", clsidText);
    HKEY classKey = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, classPath, 0, KEY_READ, &classKey) != ERROR_SUCCESS) {
      std::printf("    HKCR\\%ls: missing\n", classPath);
      continue;
    }
    std::printf("    HKCR\\%ls\n", classPath);
    std::printf("      FriendlyName = %s\n", readString(classKey, "FriendlyName", text, sizeof text) ? text : "(missing)");
    RegKey inproc;
    if (inproc.open(classKey, "InprocServer32", KEY_READ) == ERROR_SUCCESS) {
      std::printf("      InprocServer32 (default) = %s\n", readString(inproc.get(), nullptr, text, sizeof text) ? text : "(missing)");
      std::printf("      InprocServer32 ThreadingModel = %s\n",
                  readString(inproc.get(), "ThreadingModel", text, sizeof text) ? text : "(missing)");
    }
    RegCloseKey(classKey);
    if (create) tryCreate(clsid);
  }
  if (count == 0) std::printf("  (none)\n");
}

void dumpStatusBlock() {
  CStatusBlockMapping mapping;
  if (!mapping.attach(BlockSide::ControlPanel)) {
    std::printf("status block \"%s\": cannot be opened\n", kStatusBlockName);
    return;
  }
  StatusBlockView v = mapping.view();
  std::printf("status block \"%s\"%s:\n", kStatusBlockName,
              mapping.created() ? " (no driver held it: created now, as the control panel would)" : "");
  if (!v.valid()) {
    std::printf("  magic 0x%08X is wrong: not touched\n", *static_cast<const uint32_t*>(mapping.memory()));
    return;
  }
  Identity owner = v.owner();
  GUID g;
  static_assert(sizeof g == sizeof owner.bytes, "identity");
  memcpy(&g, owner.bytes, sizeof g);
  wchar_t ownerText[40];
  StringFromGUID2(g, ownerText, 40);
  char device[256];
  v.deviceName(device, sizeof device);
  std::printf("  magic           0x%08X\n", v.field(0));
  std::printf("  state           %u (%s)\n", v.state(), stateWord(v.state()));
  std::printf("  settings loaded %u\n", v.field(8));
  std::printf("  owner           %ls%s\n", ownerText, v.free() ? " (free)" : "");
  std::printf("  changed         %u\n", v.field(28));
  std::printf("  show panel      %u\n", v.field(32));
  std::printf("  BufferSize      %u (x 0.1 ms)\n", v.field(36));
  std::printf("  BitsPerSample   %u\n", v.field(40));
  std::printf("  buffer          %u\n", v.field(44));
  std::printf("  rate            %u\n", v.field(48));
  std::printf("  width in use    %u\n", v.field(52));
  std::printf("  supported rates 0x%X\n", v.field(56));
  std::printf("  supported width 0x%X\n", v.field(60));
  std::printf("  device name     \"%s\"\n", device);
  std::printf("  DSD %u  DSD128 %u  DSD256 %u  native DSD %u  reset request %u\n", v.field(320), v.field(324),
              v.field(328), v.field(332), v.field(336));
}

}  // namespace

// asioprobe              list the ASIO drivers
// asioprobe --create     list, create each, print the status block
// asioprobe --stream N   stream N seconds through our driver as a host, then print the block
int main(int argc, char** argv) {
  bool create = argc > 1 && lstrcmpA(argv[1], "--create") == 0;
  bool stream = argc > 2 && lstrcmpA(argv[1], "--stream") == 0;
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) {
    std::printf("CoInitializeEx failed: 0x%08lX\n", static_cast<unsigned long>(hr));
    return 1;
  }
  int rc = 0;
  if (stream) {
    CLSID clsid;
    int seconds = atoi(argv[2]);
    if (!registeredClsid(clsid)) {
      std::printf("\"%s\" is not registered\n", kDriverName);
      rc = 1;
    } else {
      std::printf("streaming %d s through \"%s\":\n", seconds, kDriverName);
      rc = runHostDemo(clsid, seconds < 1 ? 1 : seconds > 20 ? 20 : seconds);
      dumpStatusBlock();
    }
  } else {
    listDrivers(create);
    if (create) dumpStatusBlock();
  }
  CoUninitialize();
  return rc;
}
