// A module that reaches devices through the seam, as a driver DLL does: it selects the
// virtual DAC through the environment, and may leave a stream queued on it while its host
// unloads it.
#include <windows.h>

#include "SeamIo.h"

// 1 when the DAC's filter is found and opens through the seam, else 0.
extern "C" __declspec(dllexport) int dacReachable() {
  const std::string path = seamio::dacFilterPath();
  if (path.empty()) return 0;
  HANDLE filter = seamio::openFilter(path);
  if (filter == INVALID_HANDLE_VALUE) return 0;
  tess::devices().closeHandle(filter);
  return 1;
}

extern "C" __declspec(dllexport) int startStreamThroughEnvironment() {
  SetEnvironmentVariableA("TESSALINE_VIRTUAL_DEVICE", "1");
  HANDLE filter = seamio::openFilter(seamio::dacFilterPath());
  if (filter == INVALID_HANDLE_VALUE) return 1;
  HANDLE pin = nullptr;
  if (seamio::createPin(filter, 0, 2, 16, 48000, pin) != ERROR_SUCCESS) return 2;
  if (!seamio::stepTo(pin, KSSTATE_STOP, KSSTATE_RUN)) return 3;
  // Left queued: the device completes it after the module is gone (its event and buffers
  // are leaked on purpose; the device thread only touches them through the seam's record).
  static seamio::Packet* packet = new seamio::Packet(480 * 4, true);
  return packet->submit(pin, true) ? 0 : 4;
}
