#include "AsioPageText.h"

#include <cstdio>

namespace tess {

const char* asioStateWord(uint32_t state) {
  switch (state) {
    case kStateLoaded: return "LOADED";
    case kStateInitialized: return "INITIALIZED";
    case kStatePrepared: return "PREPARED";
    case kStateRunning: return "RUNNING";
    default: return "UNLOAD";
  }
}

const char* asioDeviceCaption(uint32_t state) {
  return state == kStateInitialized || state == kStatePrepared || state == kStateRunning ? "USB Audio Device2"
                                                                                          : "Not Available";
}

std::string asioStreamLine(uint32_t widthInUse, uint32_t rate, uint32_t buffer) {
  const float ms = rate ? static_cast<float>(static_cast<double>(buffer) * 1000.0 / rate) : 0.0f;
  char text[260];
  std::snprintf(text, sizeof text, "2 Channel, %d bits, %d Hz, Buffer %.1f ms", static_cast<int>(widthInUse),
                static_cast<int>(rate), static_cast<double>(ms));
  return text;
}

AsioMode asioMode(uint32_t dsd, uint32_t dsd128, uint32_t dsd256) {
  if (dsd != 1) return AsioMode::Pcm;
  if (dsd128 == 1) return AsioMode::Dsd128;
  if (dsd256 == 1) return AsioMode::Dsd256;
  return AsioMode::Dsd64;
}

const char* asioModeText(AsioMode mode) {
  switch (mode) {
    case AsioMode::Dsd64: return "DSD64";
    case AsioMode::Dsd128: return "DSD128";
    case AsioMode::Dsd256: return "DSD256";
    default: return "PCM";
  }
}

AsioPageView readAsioPageView(const StatusBlockView& block) {
  AsioPageView view;
  if (!block.valid()) return view;
  view.valid = true;
  view.state = block.state();
  view.stateWord = asioStateWord(view.state);
  view.deviceCaption = asioDeviceCaption(view.state);
  view.running = view.state == kStateRunning;
  if (view.running) {
    view.streamLine = asioStreamLine(block.field(offsetof(StatusBlockLayout, widthInUse)),
                                     block.field(offsetof(StatusBlockLayout, rate)),
                                     block.field(offsetof(StatusBlockLayout, buffer)));
    view.mode = asioMode(block.field(offsetof(StatusBlockLayout, dsd)), block.field(offsetof(StatusBlockLayout, dsd128)),
                         block.field(offsetof(StatusBlockLayout, dsd256)));
  }
  return view;
}

}  // namespace tess
