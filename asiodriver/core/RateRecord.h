// Per-rate bookkeeping of one direction: which device slots (kernel-streaming pins or
// Core Audio endpoints) stream at the rate, and the channel entries the host's buffers
// hang on. What a slot needs at the device is the backend's.
#pragma once

#include <cstdint>

#include "PacketMath.h"

namespace tess {

inline constexpr uint32_t kMaxRecordChannels = 64;

struct DeviceSlot {
  uint32_t valid;
  uint32_t inUse;   // a channel of the slot was requested by createBuffers
  uint32_t opened;  // the device stream exists
  uint32_t maxChannels;
  uint32_t channelsInUse;
  uint32_t framesPerPeriod;
};

struct ChannelEntry {
  uint32_t allocated;
  uint32_t active;
  uint32_t indexInSlot;
  uint32_t slot;
  uint32_t framesPerBuffer;
  void* buffers[2];    // host halves (module heap)
  uint32_t bufferBytes;
};

struct RateRecord {
  uint32_t valid;
  uint32_t rate;
  uint32_t totalChannels;
  uint32_t slotCount;
  DeviceSlot slots[fmt::kPinSlots];
  uint32_t openedSlots;  // bit i: slot i opened
  ChannelEntry channels[kMaxRecordChannels];
};

// Adds a slot of `channels` channels to `record` and maps the next channel entries onto it.
inline void addSlot(RateRecord& record, uint32_t channels) {
  if (record.slotCount >= fmt::kPinSlots) return;
  const uint32_t index = record.slotCount++;
  DeviceSlot& slot = record.slots[index];
  slot.valid = 1;
  slot.maxChannels = channels;
  for (uint32_t c = 0; c < channels && record.totalChannels < kMaxRecordChannels; ++c) {
    ChannelEntry& entry = record.channels[record.totalChannels++];
    entry.allocated = 1;
    entry.indexInSlot = c;
    entry.slot = index;
  }
  record.valid = 1;
}

}  // namespace tess
