#include "PanelTables.h"

#include <cctype>
#include <cmath>
#include <cstdio>

#include "DeviceTable.h"

namespace panel {

const char* const kPlayRateButtons[kRateButtonCount] = {"BTN_P_384K", "BTN_P_352K", "BTN_P_192K",
                                                        "BTN_P_176K", "BTN_P_96K",  "BTN_P_88K",
                                                        "BTN_P_48K",  "BTN_P_44K",  "BTN_P_32K"};
const char* const kRecordRateButtons[kRateButtonCount] = {"BTN_R_384K", "BTN_R_352K", "BTN_R_192K",
                                                          "BTN_R_176K", "BTN_R_96K",  "BTN_R_88K",
                                                          "BTN_R_48K",  "BTN_R_44K",  "BTN_R_32K"};
const char* const kPlayBitButtons[kBitButtonCount] = {"BTN_P_32B", "BTN_P_24B", "BTN_P_16B"};
const char* const kRecordBitButtons[kBitButtonCount] = {"BTN_R_32B", "BTN_R_24B", "BTN_R_16B"};
const char* const kAsioBufferButtons[kAsioBufferButtonCount] = {
    "BTN_ASIO_BFSZ_3MS",  "BTN_ASIO_BFSZ_5MS",  "BTN_ASIO_BFSZ_7MS",  "BTN_ASIO_BFSZ_10MS", "BTN_ASIO_BFSZ_15MS",
    "BTN_ASIO_BFSZ_20MS", "BTN_ASIO_BFSZ_30MS", "BTN_ASIO_BFSZ_50MS", "BTN_ASIO_BFSZ_100MS"};
const char* const kAsioWidthButtons[kAsioWidthCount] = {"BTN_ASIO_16B", "BTN_ASIO_24B", "BTN_ASIO_32B"};

int panelRateIndex(uint32_t rate) {
  for (int i = 0; i < kRateButtonCount; ++i)
    if (kPanelRates[i] == rate) return i;
  return -1;
}

int panelBitsIndex(uint32_t bits) {
  for (int i = 0; i < kBitButtonCount; ++i)
    if (kPanelBits[i] == bits) return i;
  return -1;
}

int asioBufferButtonIndex(uint32_t bufferSize) {
  for (int i = 0; i < kAsioBufferCount; ++i)
    if (bufferSize <= kAsioBufferMs[i] * 10) return i < kAsioBufferButtonCount ? i : -1;
  return -1;
}

float levelFromSlider(int value, float minLevel, float maxLevel) {
  return maxLevel - (maxLevel - minLevel) * static_cast<float>(value) / 100.0f;
}

int sliderFromLevel(float level, float minLevel, float maxLevel) {
  const float span = maxLevel - minLevel;
  if (!(span > 0.0f)) return 0;
  const float x = (maxLevel - level) * 100.0f / span;
  const float rest = x - 100.0f;
  if (!std::isfinite(rest) || rest > 1e6f || rest < -1e6f) return rest > 0 ? 100 : 0;
  return 100 + static_cast<int>(rest);  // truncated toward zero
}

std::string upperCase(const std::string& text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::string usbInterfacePattern(uint16_t vendorId, uint16_t productId) {
  char text[32];
  std::snprintf(text, sizeof text, "USB#VID_%04X&PID_%04X", vendorId, productId);
  return text;
}

std::string endpointPattern(uint16_t vendorId, uint16_t productId, uint16_t interfaceNumber) {
  char text[32];
  std::snprintf(text, sizeof text, "VID_%04X&PID_%04X&MI_%02X", vendorId, productId, interfaceNumber);
  return text;
}

bool containsIgnoringCase(const std::string& text, const std::string& pattern) {
  return upperCase(text).find(upperCase(pattern)) != std::string::npos;
}

FilterIdentity filterIdentity(const char* devicePath) {
  FilterIdentity id;
  if (!devicePath) return id;
  const tess::UsbIdentity usb = tess::parseUsbIdentity(devicePath);
  if (!usb.hasVendor || !usb.hasProduct || !usb.hasInterface) return id;
  id.ok = true;
  id.vendorId = usb.vendorId;
  id.productId = usb.productId;
  return id;
}

}  // namespace panel
