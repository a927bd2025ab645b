// Which device table is in use: the system's, the virtual DAC's (environment variable),
// or one a test installed.
#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>

#include "DeviceSeam.h"
#include "EnvironmentFlag.h"
#include "TessConstants.h"
#include "VirtualDacModule.h"

namespace tess {

namespace {

std::atomic<const DeviceSeam*> g_current{nullptr};
std::mutex g_installLock;
// Installed tables are kept, unchanged, for the life of the process: another thread may
// still be reading an earlier table while a new one is installed, so a table is never
// written once installed. Installing a table equal to a kept one reuses it, so the list
// grows only with distinct tables (a handful in any test program). A deque never moves
// what it holds; it is never destroyed either, as a seam call may come during exit.
std::deque<DeviceSeam>& installedTables() {
  static std::deque<DeviceSeam>* tables = new std::deque<DeviceSeam>;
  return *tables;
}

// The folder of the module this code is linked into (the driver DLL, the panel, ...),
// with its trailing backslash; empty when it cannot be told.
std::wstring ownModuleFolder() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&devices), &self)) {
    return std::wstring();
  }
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(self, &path[0], static_cast<DWORD>(path.size()));
    if (n == 0) return std::wstring();
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    if (path.size() >= 32768) return std::wstring();  // longer than any path can be
    path.resize(path.size() * 2);                      // truncated: try a larger buffer
  }
  const size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return std::wstring();
  path.resize(slash + 1);
  return path;
}

// The virtual DAC from the DLL beside this module, by full path only: a DLL of that name
// elsewhere on the search path is never taken. Null when it is absent or fails: the
// system's devices are used then, as when the variable is not set.
const DeviceSeam* virtualDacBesideThisModule() {
  const std::wstring folder = ownModuleFolder();
  if (folder.empty()) return nullptr;
  const std::wstring path = folder + kVirtualDacDllName;
  HMODULE dll = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!dll) return nullptr;
  auto entry = reinterpret_cast<VirtualDacEntry>(reinterpret_cast<void*>(GetProcAddress(dll, kVirtualDacEntryName)));
  const DeviceSeam* seam = entry ? entry(sizeof(DeviceSeam)) : nullptr;
  // On success the DLL stays loaded for the process's life: the table and the device live in it.
  if (!seam) FreeLibrary(dll);
  return seam;
}

const DeviceSeam* firstChoice() {
  if (environmentFlag(kVirtualDeviceEnv)) {
    if (const DeviceSeam* seam = virtualDacBesideThisModule()) return seam;
  }
  return &systemDevices();
}

}  // namespace

const DeviceSeam& devices() {
  const DeviceSeam* current = g_current.load(std::memory_order_acquire);
  if (current) return *current;
  std::lock_guard<std::mutex> lock(g_installLock);
  current = g_current.load(std::memory_order_acquire);
  if (!current) {
    current = firstChoice();
    g_current.store(current, std::memory_order_release);
  }
  return *current;
}

void installDevices(const DeviceSeam* seam) {
  std::lock_guard<std::mutex> lock(g_installLock);
  if (!seam) {
    g_current.store(&systemDevices(), std::memory_order_release);
    return;
  }
  // A table holds only function pointers: no padding, so bytes compare as members do.
  static_assert(sizeof(DeviceSeam) % sizeof(void*) == 0, "a table of pointers");
  std::deque<DeviceSeam>& tables = installedTables();
  for (const DeviceSeam& kept : tables) {
    if (std::memcmp(&kept, seam, sizeof kept) == 0) {
      g_current.store(&kept, std::memory_order_release);
      return;
    }
  }
  tables.push_back(*seam);
  g_current.store(&tables.back(), std::memory_order_release);
}

}  // namespace tess
