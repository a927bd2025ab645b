#include "DeviceTable.h"

#include "AsciiCase.h"

namespace tess {

// pid.codes test identifiers: a vendor id that belongs to no audio maker.
const SupportedDevice kSupportedDevices[] = {
    {0x1209, 0x0007, 1},
    {0x1209, 0x0008, 1},
    {0, 0, 0},
};

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = asciiLower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Finds marker in text[0..len) ignoring case; returns its end or -1.
long findMarker(const char* text, size_t len, const char* marker) {
  size_t m = 0;
  while (marker[m]) ++m;
  for (size_t i = 0; i + m <= len; ++i) {
    size_t k = 0;
    while (k < m && asciiLower(text[i + k]) == asciiLower(marker[k])) ++k;
    if (k == m) return static_cast<long>(i + m);
  }
  return -1;
}

bool readHex(const char* text, size_t len, long at, int digits, uint16_t* out) {
  if (at < 0 || static_cast<size_t>(at) + digits > len) return false;
  unsigned v = 0;
  for (int i = 0; i < digits; ++i) {
    int h = hexValue(text[at + i]);
    if (h < 0) return false;
    v = v * 16 + static_cast<unsigned>(h);
  }
  *out = static_cast<uint16_t>(v);
  return true;
}

}  // namespace

UsbIdentity parseUsbIdentity(const char* text, size_t maxLen) {
  UsbIdentity id;
  if (!text) return id;
  size_t len = 0;
  while (len < maxLen && text[len]) ++len;
  id.hasVendor = readHex(text, len, findMarker(text, len, "VID_"), 4, &id.vendorId);
  id.hasProduct = readHex(text, len, findMarker(text, len, "PID_"), 4, &id.productId);
  id.hasInterface = readHex(text, len, findMarker(text, len, "MI_"), 2, &id.interfaceNumber);
  return id;
}

const SupportedDevice* findSupportedDevice(uint16_t vendorId, uint16_t productId) {
  for (size_t i = 0; i < kMaxSupportedDevices && kSupportedDevices[i].vendorId != 0; ++i)
    if (kSupportedDevices[i].vendorId == vendorId && kSupportedDevices[i].productId == productId)
      return &kSupportedDevices[i];
  return nullptr;
}

const SupportedDevice* findSupportedInterface(uint16_t vendorId, uint16_t productId,
                                              uint16_t interfaceNumber) {
  for (size_t i = 0; i < kMaxSupportedDevices && kSupportedDevices[i].vendorId != 0; ++i)
    if (kSupportedDevices[i].vendorId == vendorId && kSupportedDevices[i].productId == productId &&
        kSupportedDevices[i].interfaceNumber == interfaceNumber)
      return &kSupportedDevices[i];
  return nullptr;
}

}  // namespace tess
