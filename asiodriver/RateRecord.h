// Per-rate bookkeeping of one direction: which pins stream at the rate, their packets,
// and the channel entries the host's buffers hang on.
#pragma once

#include <windows.h>
#include <ks.h>

#include <cstdint>

#include "PacketMath.h"

class CKsAudPin;

namespace tess {

inline constexpr uint32_t kMaxRecordChannels = 64;

// One stream request: the header the pin reads or writes, with its own completion event.
struct AsioPacket {
  KSSTREAM_HEADER header;  // Data points at the packet's buffer (module heap)
  OVERLAPPED overlapped;   // hEvent: auto-reset, created with the packet
};

struct PinSlot {
  uint32_t valid;
  uint32_t inUse;   // a channel of the pin was requested by createBuffers
  uint32_t opened;  // the pin handle exists
  CKsAudPin* pin;   // owned by the filter
  uint32_t maxChannels;
  uint32_t channelsInUse;
  uint32_t framesPerPacket;
  AsioPacket packets[fmt::kPacketsPerPin];
};

struct ChannelEntry {
  uint32_t allocated;
  uint32_t active;
  uint32_t indexInPin;
  uint32_t slot;
  uint32_t framesPerBuffer;
  void* buffers[2];    // host halves (module heap)
  uint32_t bufferBytes;
};

struct RateRecord {
  uint32_t valid;
  uint32_t rate;
  uint32_t totalChannels;
  uint32_t pinCount;
  PinSlot slots[fmt::kPinSlots];
  uint32_t openedPins;  // bit i: slot i opened
  ChannelEntry channels[kMaxRecordChannels];
};

}  // namespace tess
