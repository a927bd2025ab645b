// How the control panel's ASIO page words the driver's status block: the state word, the
// device caption, the stream line and the PCM/DSD indicator. One piece of code for the page
// and for every tool that prints the block the way the page shows it. Portable.
#pragma once

#include <cstdint>
#include <string>

#include "StatusBlock.h"

namespace tess {

// "UNLOAD", "LOADED", "INITIALIZED", "PREPARED", "RUNNING"; any other value reads "UNLOAD".
const char* asioStateWord(uint32_t state);
// "USB Audio Device2" while a driver is initialised or further, else "Not Available".
const char* asioDeviceCaption(uint32_t state);
// "2 Channel, 24 bits, 48000 Hz, Buffer 10.0 ms": buffer in frames, the duration computed in
// floating point and rounded to single precision before printing. A rate of 0 (a block that
// a driver never filled) shows a 0.0 ms buffer rather than an endless one.
std::string asioStreamLine(uint32_t widthInUse, uint32_t rate, uint32_t buffer);

// The mode indicators, one of which shows while the driver runs.
enum class AsioMode { Pcm, Dsd64, Dsd128, Dsd256 };
AsioMode asioMode(uint32_t dsd, uint32_t dsd128, uint32_t dsd256);
// "PCM", "DSD64", "DSD128", "DSD256": the indicators' texts.
const char* asioModeText(AsioMode mode);

// Everything the page shows from one reading of the block.
struct AsioPageView {
  bool valid = false;  // the block carries its magic
  uint32_t state = 0;
  const char* stateWord = "UNLOAD";
  const char* deviceCaption = "Not Available";
  bool running = false;
  std::string streamLine;  // while running
  AsioMode mode = AsioMode::Pcm;
};
AsioPageView readAsioPageView(const StatusBlockView& block);

}  // namespace tess
