#include "HidReport.h"

#include <cstring>

#include "SampleRates.h"

namespace tess::fmt {

namespace {

struct CommandBytes {
  uint8_t id[3];
  uint8_t on, off;
};

constexpr CommandBytes kCommands[] = {
    {{0xF5, 0x21, 0x32}, 0x2E, 0x08},  // DSD64 mode
    {{0xF6, 0x21, 0x33}, 0x2E, 0x08},  // DSD128 mode
    {{0xF7, 0x21, 0x34}, 0x2E, 0x08},  // DSD256 mode
    {{0xF8, 0x21, 0x35}, 0x01, 0x00},  // DoP
};

}  // namespace

bool buildHidReport(HidCommand command, bool on, uint8_t* report, size_t length) {
  auto index = static_cast<size_t>(command);
  if (!report || length < kHidCommandBytes || index >= sizeof kCommands / sizeof kCommands[0])
    return false;
  const CommandBytes& c = kCommands[index];
  std::memset(report, 0, length);
  report[0] = 0;  // report id
  report[1] = c.id[0];
  report[2] = c.id[1];
  report[3] = c.id[2];
  report[4] = on ? c.on : c.off;
  return true;
}

bool dsdModeCommand(uint32_t asioRate, HidCommand& command) {
  switch (asioRate) {
    case kDsd64: command = HidCommand::kDsd64Mode; return true;
    case kDsd128: command = HidCommand::kDsd128Mode; return true;
    case kDsd256: command = HidCommand::kDsd256Mode; return true;
    default: return false;
  }
}

}  // namespace tess::fmt
