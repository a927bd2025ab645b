// The supported-device table and the parsing of USB identities out of device paths
// and hardware ids ("...VID_1209&PID_0007&MI_01...").
#pragma once

#include <cstddef>
#include <cstdint>

namespace tess {

struct SupportedDevice {
  uint16_t vendorId;
  uint16_t productId;
  uint16_t interfaceNumber;
};

// Ended by the first entry whose vendor id is 0; at most kMaxSupportedDevices entries.
inline constexpr size_t kMaxSupportedDevices = 1024;
extern const SupportedDevice kSupportedDevices[];

struct UsbIdentity {
  bool hasVendor = false, hasProduct = false, hasInterface = false;
  uint16_t vendorId = 0, productId = 0, interfaceNumber = 0;
};

// Reads "VID_", "PID_" and "MI_" (any case) followed by hex digits (four for the ids,
// two for the interface) from a NUL-terminated string of at most maxLen characters.
// A marker with too few hex digits after it counts as absent.
UsbIdentity parseUsbIdentity(const char* text, size_t maxLen = 259);

// Driver matching: vendor and product only.
const SupportedDevice* findSupportedDevice(uint16_t vendorId, uint16_t productId);
// Control panel and installer matching: all three values.
const SupportedDevice* findSupportedInterface(uint16_t vendorId, uint16_t productId,
                                              uint16_t interfaceNumber);

}  // namespace tess
