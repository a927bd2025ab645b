// Rate records and the host's buffers: which device slots stream at each table rate, and
// the buffers and device streams createBuffers prepares for one direction.
#include <windows.h>

#include <cstring>

#include "CAsioSample.h"
#include "Module.h"
#include "SampleFormat.h"

namespace tess {

void CAsioSample::buildRateRecords(Direction dir) {
  RateRecord* records = m_records[dir];
  std::memset(static_cast<void*>(records), 0, sizeof m_records[dir]);
  for (int i = 0; i < kRateCount; ++i) records[i].rate = kSampleRates[i];
  if (dir == kCapture && !m_device.capturePresent) {
    // Render-only: every rate is valid for capture, with no channels.
    for (int i = 0; i < kRateCount; ++i) records[i].valid = 1;
    return;
  }
  m_backend->buildRateRecords(dir, m_widthInUse, m_device, records);
}

ASIOError CAsioSample::validateBufferInfos(const ASIOBufferInfo* infos, int32_t numChannels,
                                           int32_t bufferSize) const {
  if (numChannels < 0 || (numChannels > 0 && !infos) || bufferSize <= 0) return ASE_InvalidParameter;
  // A DSD buffer must fill whole 32-bit containers.
  if (isDsdRate(m_asioRate) && bufferSize % 32 != 0) return ASE_InvalidParameter;
  uint64_t seen[2] = {0, 0};
  for (int32_t i = 0; i < numChannels; ++i) {
    Direction dir = infos[i].isInput ? kCapture : kRender;
    const RateRecord* record = m_selected[dir];
    int32_t ch = infos[i].channelNum;
    if (!record || ch < 0 || static_cast<uint32_t>(ch) >= record->totalChannels ||
        static_cast<uint32_t>(ch) >= kMaxRecordChannels)
      return ASE_InvalidParameter;
    uint64_t bit = uint64_t{1} << ch;
    if (seen[dir] & bit) return ASE_InvalidParameter;  // the same channel twice
    seen[dir] |= bit;
  }
  return ASE_OK;
}

ASIOError CAsioSample::prepareDirection(Direction dir, const ASIOBufferInfo* infos, int32_t numChannels,
                                        int32_t bufferSize) {
  RateRecord* record = m_active[dir];
  if (!record) return ASE_InvalidParameter;
  const bool render = dir == kRender;
  const uint32_t size = static_cast<uint32_t>(bufferSize);
  const uint32_t frames = fmt::packetFrames(size, m_asioRate);
  const uint32_t width = m_streamWidth;
  // Host samples are as wide as the device's containers (a DSD rate counts its own way).
  const uint64_t halfBytes = fmt::hostHalfBytes(size, width, m_asioRate);
  if (halfBytes == 0 || halfBytes > 0x7FFFFFFF || frames == 0) return ASE_InvalidParameter;

  if (numChannels > 0) {
    for (int32_t i = 0; i < numChannels; ++i) {
      if ((infos[i].isInput != ASIOFalse) != !render) continue;
      ChannelEntry& entry = record->channels[infos[i].channelNum];
      entry.buffers[0] = moduleAlloc(halfBytes);
      entry.buffers[1] = moduleAlloc(halfBytes);
      // The host's record is the caller's; it learns the buffers through it.
      ASIOBufferInfo& info = const_cast<ASIOBufferInfo&>(infos[i]);
      info.buffers[0] = entry.buffers[0];
      info.buffers[1] = entry.buffers[1];
      entry.bufferBytes = static_cast<uint32_t>(halfBytes);
      entry.framesPerBuffer = frames;
      entry.active = 1;
      if (!entry.buffers[0] || !entry.buffers[1]) return ASE_NoMemory;
      DeviceSlot& slot = record->slots[entry.slot];
      slot.inUse = 1;
      if (slot.channelsInUse < entry.indexInSlot + 1) slot.channelsInUse = entry.indexInSlot + 1;
    }
  } else {
    for (uint32_t s = 0; s < record->slotCount; ++s) {
      record->slots[s].inUse = 1;
      record->slots[s].channelsInUse = 1;
    }
  }

  const StreamFormat format{width, m_streamValidBits, record->rate, frames, m_streamDsd};
  for (uint32_t s = 0; s < fmt::kPinSlots; ++s) {
    DeviceSlot& slot = record->slots[s];
    if (!slot.inUse || !slot.channelsInUse || !slot.valid) continue;
    uint32_t channels = slot.channelsInUse;
    const ASIOError opened = m_backend->openSlot(dir, *record, s, channels, format);
    if (opened != ASE_OK) {
      // Channels the host asked for would stay silent, so the buffers are refused.
      if (opened == ASE_HWMalfunction)  // usually another program (or the system) holds the device
        setErrorMessage(render ? "The device's output is in use by another program or refused the format"
                               : "The device's input is in use by another program or refused the format");
      else if (opened == ASE_InvalidParameter)
        setErrorMessage(render ? "The device's output does not take this buffer size"
                               : "The device's input does not take this buffer size");
      return opened;
    }
    slot.channelsInUse = channels;
    slot.opened = 1;
    slot.framesPerPeriod = frames;
    record->openedSlots |= 1u << s;
  }

  // The copy kernels' view of the host buffers, per opened pin and half.
  for (uint32_t s = 0; s < fmt::kPinSlots; ++s) {
    SlotChannels& map = m_slotChannels[dir][s];
    map.count = 0;
    if (!record->slots[s].opened) continue;
    for (uint32_t c = 0; c < record->totalChannels; ++c) {
      const ChannelEntry& entry = record->channels[c];
      if (!entry.active || entry.slot != s) continue;
      for (int half = 0; half < 2; ++half) {
        map.outputs[half][map.count] = fmt::HostOutput{entry.buffers[half], entry.bufferBytes, entry.indexInSlot};
        map.inputs[half][map.count] = fmt::HostInput{entry.buffers[half], entry.bufferBytes, entry.indexInSlot};
      }
      ++map.count;
    }
  }
  return ASE_OK;
}

void CAsioSample::releaseDirection(Direction dir) {
  RateRecord* record = m_active[dir];
  if (!record) return;
  for (uint32_t s = 0; s < fmt::kPinSlots; ++s) {
    DeviceSlot& slot = record->slots[s];
    if (!slot.inUse) continue;
    if (slot.opened) {
      m_backend->closeSlot(dir, s);
      slot.opened = 0;
    }
    slot.channelsInUse = 0;
    slot.framesPerPeriod = 0;
    slot.inUse = 0;
  }
  record->openedSlots = 0;
  for (ChannelEntry& entry : record->channels) {
    moduleFree(entry.buffers[0]);
    moduleFree(entry.buffers[1]);
    entry.buffers[0] = entry.buffers[1] = nullptr;
    entry.bufferBytes = 0;
    entry.framesPerBuffer = 0;
    entry.active = 0;
  }
  for (SlotChannels& map : m_slotChannels[dir]) map.count = 0;
}

}  // namespace tess
