// Device-interface paths: "\\?\usb#vid_1209&pid_0007&mi_01#6&2c4a6e5b&0&0001#{class}\ref".
// The part before "#{" names the device instance; every interface the device registers
// (its render filter, a separate capture filter) shares it.
#pragma once

#include <cstddef>

namespace tess::ks {

// Length of the device-instance part; 0 when the path has no "#{".
size_t deviceInstanceLength(const char* path);

// Both paths name interfaces of one device instance (ASCII case ignored).
bool sameDeviceInstance(const char* a, const char* b);

}  // namespace tess::ks
