// A host process for the virtual DAC's DLL test: loads a module by full path, asks it
// whether the DAC is reachable through its seam, and reports what was loaded.
//   vdac_dll_host MODULE_PATH
// Exit status: 16 when the module cannot be used, else the sum of 1 (the DAC is
// reachable), 2 (TessalineVirtualDac.dll is loaded) and 4 (from the module's folder).
#include <windows.h>

#include <string>

namespace {

std::wstring folderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L"\\/") + 1); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 16;
  const std::wstring modulePath = argv[1];
  HMODULE module = LoadLibraryExW(modulePath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!module) return 16;
  using Probe = int (*)();
  auto reachable = reinterpret_cast<Probe>(reinterpret_cast<void*>(GetProcAddress(module, "dacReachable")));
  if (!reachable) return 16;
  int result = reachable() == 1 ? 1 : 0;
  if (HMODULE dll = GetModuleHandleW(L"TessalineVirtualDac.dll")) {
    result |= 2;
    wchar_t path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(dll, path, MAX_PATH);
    if (n > 0 && n < MAX_PATH && lstrcmpiW(folderOf(path).c_str(), folderOf(modulePath).c_str()) == 0) result |= 4;
  }
  return result;
}
