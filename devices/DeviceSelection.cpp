// Which device table is in use: the system's, the virtual DAC's (environment variable),
// or one a test installed.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>

#include "DeviceSeam.h"
#include "EnvironmentFlag.h"
#include "TessConstants.h"
#include "VirtualDac.h"

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

const DeviceSeam* firstChoice() {
  if (environmentFlag(kVirtualDeviceEnv) && vdac::install(vdac::configFromEnvironment())) return &vdac::seam();
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
