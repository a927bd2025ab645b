// The control panel's fixed vocabularies and the small rules built on them: rate and width
// buttons by index, the ASIO buffer table, volume mapping between sliders and levels, and
// how device names and paths are matched against the supported-device table. Portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace panel {

// Rate index 0..8 runs from 384000 Hz down to 32000 Hz: the panel's capability-mask order.
inline constexpr int kRateButtonCount = 9;
inline constexpr uint32_t kPanelRates[kRateButtonCount] = {384000, 352800, 192000, 176400, 96000,
                                                           88200,  48000,  44100,  32000};
extern const char* const kPlayRateButtons[kRateButtonCount];
extern const char* const kRecordRateButtons[kRateButtonCount];

// Width index 0..2: 32, 24, 16 bits.
inline constexpr int kBitButtonCount = 3;
inline constexpr uint16_t kPanelBits[kBitButtonCount] = {32, 24, 16};
extern const char* const kPlayBitButtons[kBitButtonCount];
extern const char* const kRecordBitButtons[kBitButtonCount];

// Defaults when no button of a group is checked: 44100 Hz, 16 bits.
inline constexpr int kDefaultRateIndex = 7;
inline constexpr int kDefaultBitsIndex = 2;

int panelRateIndex(uint32_t rate);   // -1 when not in the table
int panelBitsIndex(uint32_t bits);   // -1 when not in the table

// ASIO page: buffer durations in ms; the first nine have buttons.
inline constexpr int kAsioBufferCount = 10;
inline constexpr uint32_t kAsioBufferMs[kAsioBufferCount] = {3, 5, 7, 10, 15, 20, 30, 50, 100, 600};
inline constexpr int kAsioBufferButtonCount = 9;
extern const char* const kAsioBufferButtons[kAsioBufferButtonCount];
// The button that shows a stored BufferSize (0.1 ms units): the first duration at least as
// long, or -1 when that is the 600 ms entry or nothing is.
int asioBufferButtonIndex(uint32_t bufferSize);

// Width buttons in the page's order of checking: 16, 24, 32 bits.
inline constexpr int kAsioWidthCount = 3;
extern const char* const kAsioWidthButtons[kAsioWidthCount];
inline constexpr uint32_t kAsioWidths[kAsioWidthCount] = {16, 24, 32};
// Driver's supported-widths mask bit of a width button (bit 1 = 16, 2 = 24, 3 = 32).
inline constexpr uint32_t kAsioWidthMaskBits[kAsioWidthCount] = {1u << 1, 1u << 2, 1u << 3};

// Volume: slider values 0..100, 0 at the loudest end; levels in decibels.
float levelFromSlider(int value, float minLevel, float maxLevel);
// x = (max - level) * 100 / (max - min); the value is 100 plus the integer part of (x - 100),
// so a level within the range shows as x rounded up. An empty range shows 0.
int sliderFromLevel(float level, float minLevel, float maxLevel);

// Device matching. All comparisons are on upper-cased text.
std::string upperCase(const std::string& text);
// "USB#VID_%04X&PID_%04X" of a USB device interface name.
std::string usbInterfacePattern(uint16_t vendorId, uint16_t productId);
// "VID_%04X&PID_%04X&MI_%02X" of an endpoint's device-instance string.
std::string endpointPattern(uint16_t vendorId, uint16_t productId, uint16_t interfaceNumber);
bool containsIgnoringCase(const std::string& text, const std::string& pattern);

// A kernel-streaming filter path's vendor and product: only a path with "VID_", "PID_" and
// "MI_" counts; the interface number is not compared.
struct FilterIdentity {
  bool ok = false;
  uint16_t vendorId = 0, productId = 0;
};
FilterIdentity filterIdentity(const char* devicePath);

// The package key's page switches and their defaults.
struct PageSwitches {
  uint32_t playRec = 0;   // "PlayRecPP"
  uint32_t asioDrv = 1;   // "AsioDrvPP"
  uint32_t rmtCtrl = 0;   // "RmtCtrlPP"
};

}  // namespace panel
