// A module that selects the virtual DAC through the environment, as a driver DLL does, and
// leaves a stream queued on it: the host may unload the module while the device runs on.
#include <windows.h>

#include "SeamIo.h"

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
