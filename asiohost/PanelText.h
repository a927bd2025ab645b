// The ASIO page's view of a running driver, as the control panel words it: the stream line
// and the mode indicator. The demo prints it from the status block.
#pragma once

#include <cstdint>
#include <string>

namespace asiohost {

// "2 Channel, 24 bits, 48000 Hz, Buffer 10.0 ms" (buffer in frames; the quotient in single precision).
std::string panelStreamLine(uint32_t widthInUse, uint32_t rate, uint32_t buffer);
// "PCM", or with the DSD flag "DSD128", "DSD256" or "DSD64", in the panel's order of precedence.
const char* panelMode(uint32_t dsd, uint32_t dsd128, uint32_t dsd256);
const char* panelStateWord(uint32_t state);

}  // namespace asiohost
