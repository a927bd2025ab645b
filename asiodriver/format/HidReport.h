// The device's vendor commands over HID: output report 0, whose bytes 1 to 4 name the
// command and its on/off state; every other byte is zero.
//
//   command      bytes 1..3        byte 4 on / off   sent
//   DSD64 mode   F5 21 32          2E / 08           on at createBuffers at 2822400
//   DSD128 mode  F6 21 33          2E / 08           on at createBuffers at 5644800
//   DSD256 mode  F7 21 34          2E / 08           on at createBuffers at 11289600
//   DoP          F8 21 35          01 / 00           on at first DoP; off at stop if reported
//   disposeBuffers sends the three mode "off" commands, DSD64 first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tess::fmt {

enum class HidCommand : uint8_t { kDsd64Mode, kDsd128Mode, kDsd256Mode, kDop };

// Size of the report buffer the driver prepares; the device's output report length decides
// how many of its bytes are written (a longer report length needs a longer buffer).
inline constexpr size_t kHidReportBytes = 64;
// Bytes a report must hold for the command to fit: the report id and bytes 1 to 4.
inline constexpr size_t kHidCommandBytes = 5;

inline constexpr HidCommand kDsdModesOffOrder[3] = {HidCommand::kDsd64Mode, HidCommand::kDsd128Mode,
                                                    HidCommand::kDsd256Mode};

// Zero-fills report[0, length) and writes report id 0 and the command's bytes 1 to 4.
// Returns false, writing nothing, when length < kHidCommandBytes, report is null or the
// command is unknown: a truncated command must not reach the device.
bool buildHidReport(HidCommand command, bool on, uint8_t* report, size_t length);

// The DSD mode command of a native DSD ASIO rate; false for any other rate.
bool dsdModeCommand(uint32_t asioRate, HidCommand& command);

}  // namespace tess::fmt
