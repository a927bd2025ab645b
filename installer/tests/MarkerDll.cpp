// A DLL for the registration tests: registering it records its own path under
// HKLM "SOFTWARE\TessCoinstTest\Registered", unregistering removes that value, so
// that the test sees which copies RegSvr32.exe was given.
#include <windows.h>

namespace {

HMODULE g_module = nullptr;
constexpr char kMarkerKey[] = "SOFTWARE\\TessCoinstTest\\Registered";

bool ownPath(char* path, DWORD size) {
  DWORD n = GetModuleFileNameA(g_module, path, size);
  return n > 0 && n < size;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_module = instance;
  return TRUE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllRegisterServer() {
  char path[MAX_PATH];
  HKEY key = nullptr;
  if (!ownPath(path, sizeof path) ||
      RegCreateKeyExA(HKEY_LOCAL_MACHINE, kMarkerKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
          ERROR_SUCCESS)
    return E_FAIL;
  const DWORD one = 1;
  LONG rc = RegSetValueExA(key, path, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS ? S_OK : E_FAIL;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllUnregisterServer() {
  char path[MAX_PATH];
  HKEY key = nullptr;
  if (!ownPath(path, sizeof path) || RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMarkerKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
    return S_OK;
  RegDeleteValueA(key, path);
  RegCloseKey(key);
  return S_OK;
}
