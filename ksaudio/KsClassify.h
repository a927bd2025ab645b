// Sorting a filter's pins by data flow and communication, and the audio filter's choice
// of pin object. Pure decisions; the filter classes apply them to their lists.
#pragma once

#include <cstdint>

namespace tess::ks {

enum class PinListId : uint8_t { InSink, OutSource, OutSink, InSource, NoCommunication };

// The attribute lists a pin joins, in insertion order. A communication above 3 (bridge
// included) is not recognised and joins no list.
struct PinPlacement {
  uint8_t count = 0;
  PinListId lists[2] = {};
  bool recognised = true;
};
PinPlacement classifyPin(uint32_t dataFlow, uint32_t communication);

// Communication values an audio filter keeps a pin for: sink, source or both.
bool isAudioFilterCommunication(uint32_t communication);

// Sink pins with data flow in are render pins, sink pins with data flow out capture
// pins; every other pin is a plain audio pin.
enum class AudioPinKind : uint8_t { Plain, Render, Capture };
AudioPinKind audioPinKind(uint32_t dataFlow, uint32_t communication);

}  // namespace tess::ks
