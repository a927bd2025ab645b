// Which device table is in use: the system's, the virtual DAC's (environment variable),
// or one a test installed.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "DeviceSeam.h"
#include "TessConstants.h"
#include "VirtualDac.h"

namespace tess {

namespace {

std::atomic<const DeviceSeam*> g_current{nullptr};
std::mutex g_installLock;
// Installed tables are kept for the life of the process: a caller may still hold a
// reference to an earlier table while another one is installed.
DeviceSeam g_installed[2];
int g_nextSlot = 0;

bool virtualDeviceRequested() {
  char value[8] = {};
  DWORD n = GetEnvironmentVariableA(kVirtualDeviceEnv, value, sizeof value);
  return n > 0 && n < sizeof value && std::strcmp(value, "1") == 0;
}

const DeviceSeam* firstChoice() {
  if (virtualDeviceRequested() && vdac::install(vdac::configFromEnvironment())) return &vdac::seam();
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
  DeviceSeam& slot = g_installed[g_nextSlot];
  g_nextSlot ^= 1;
  slot = *seam;
  g_current.store(&slot, std::memory_order_release);
}

}  // namespace tess
