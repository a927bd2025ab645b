// Checks the data format of a pin-connect request against the pin's ranges, as the
// device does when a pin is created. Portable.
#pragma once

#include <cstddef>
#include <cstdint>

#include "FilterSpec.h"

namespace tess::vdac {

struct StreamFormat {
  uint32_t channels = 0;
  uint32_t bitsPerSample = 0;  // container width
  uint32_t validBits = 0;
  uint32_t sampleRate = 0;
  uint32_t blockAlign = 0;     // bytes per frame
};

// format points at a KSDATAFORMAT followed by its wave format; available is how many
// bytes may be read there (the format's own size is checked against it). Returns
// kErrSuccess and the stream format, kErrInvalidParameter for a malformed record, or
// kErrNoMatch when no range of the pin takes it.
uint32_t checkConnectFormat(const PinSpec& pin, bool exactChannels, const uint8_t* format, size_t available,
                            StreamFormat& out);

// The state rule of the device's pins: one step at a time (STOP, ACQUIRE, PAUSE, RUN and
// back); setting the current state again is a no-op.
inline bool isSingleStateStep(uint32_t from, uint32_t to) {
  return to <= kStateRun && from <= kStateRun && (to == from || to == from + 1 || to + 1 == from);
}

}  // namespace tess::vdac
