#include "PanelText.h"

#include <cstdio>

namespace asiohost {

std::string panelStreamLine(uint32_t widthInUse, uint32_t rate, uint32_t buffer) {
  const float ms = rate ? static_cast<float>(static_cast<double>(buffer) * 1000.0 / rate) : 0.0f;
  char text[260];
  std::snprintf(text, sizeof text, "2 Channel, %u bits, %u Hz, Buffer %.1f ms", widthInUse, rate,
                static_cast<double>(ms));
  return text;
}

const char* panelMode(uint32_t dsd, uint32_t dsd128, uint32_t dsd256) {
  if (dsd != 1) return "PCM";
  if (dsd128 == 1) return "DSD128";
  if (dsd256 == 1) return "DSD256";
  return "DSD64";
}

const char* panelStateWord(uint32_t state) {
  static const char* const kWords[] = {"UNLOAD", "LOADED", "INITIALIZED", "PREPARED", "RUNNING"};
  return state < 5 ? kWords[state] : "UNKNOWN";
}

}  // namespace asiohost
