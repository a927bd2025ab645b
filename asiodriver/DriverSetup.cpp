// Rate records and pins: which pins stream at each table rate, and the buffers, formats
// and packets createBuffers prepares for one direction.
#include <windows.h>
#include <mmreg.h>
#include <ks.h>

#include <cstring>

#include "CAsioSample.h"
#include "KsAudio.h"
#include "Module.h"
#include "SampleFormat.h"

namespace tess {
namespace {

uint32_t channelMaskFor(uint32_t channels) {
  switch (channels) {
    case 4: return 0x33;
    case 6: return 0x3F;
    case 8: return 0x63F;
    default: return 0x3;
  }
}

// A pin's PCM ranges at one width and rate: whether any matches, and the most channels.
bool pinTakes(const CKsAudPin* pin, uint32_t width, uint32_t rate, uint32_t& maxChannels) {
  bool match = false;
  maxChannels = 0;
  for (const ks::KsDataRangeAudio* range : pin->m_listDataRange) {
    if (range->dataRange.subFormat != ks::kDataFormatSubtypePcm) continue;
    if (width < range->minimumBitsPerSample || width > range->maximumBitsPerSample) continue;
    if (rate < range->minimumSampleFrequency || rate > range->maximumSampleFrequency) continue;
    match = true;
    if (range->maximumChannels > maxChannels) maxChannels = range->maximumChannels;
  }
  // More channels than a record can carry are never opened.
  if (maxChannels > fmt::kMaxPinChannels) maxChannels = fmt::kMaxPinChannels;
  return match;
}

}  // namespace

void CAsioSample::buildRateRecords(Direction dir) {
  RateRecord* records = m_records[dir];
  std::memset(static_cast<void*>(records), 0, sizeof m_records[dir]);
  if (dir == kCapture && !m_pCaptureFilter) {
    // Render-only: every rate is valid for capture, with no channels.
    for (int i = 0; i < kRateCount; ++i) {
      records[i].valid = 1;
      records[i].rate = kSampleRates[i];
    }
    return;
  }
  const CKsList<CKsPin>& pins =
      dir == kRender ? m_pRenderFilter->m_listInSinkPins : m_pCaptureFilter->m_listOutSinkPins;
  for (int i = 0; i < kRateCount; ++i) {
    RateRecord& record = records[i];
    record.rate = kSampleRates[i];
    for (CKsPin* p : pins) {
      if (record.pinCount >= fmt::kPinSlots) break;
      // Every pin of an audio filter is an audio pin.
      CKsAudPin* pin = static_cast<CKsAudPin*>(p);
      uint32_t maxChannels = 0;
      if (!pinTakes(pin, m_widthInUse, record.rate, maxChannels)) continue;
      uint32_t slotIndex = record.pinCount++;
      PinSlot& slot = record.slots[slotIndex];
      slot.valid = 1;
      slot.pin = pin;
      slot.maxChannels = maxChannels;
      for (uint32_t c = 0; c < maxChannels && record.totalChannels < kMaxRecordChannels; ++c) {
        ChannelEntry& entry = record.channels[record.totalChannels++];
        entry.allocated = 1;
        entry.indexInPin = c;
        entry.slot = slotIndex;
      }
      record.valid = 1;
    }
  }
}

bool CAsioSample::openPinFormat(uint32_t channels, uint32_t width, uint32_t rate, CKsAudPin* pin) {
  WAVEFORMATEXTENSIBLE wfe{};
  wfe.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  wfe.Format.nChannels = static_cast<WORD>(channels);
  wfe.Format.nSamplesPerSec = rate;
  wfe.Format.nBlockAlign = static_cast<WORD>(channels * width / 8);
  wfe.Format.nAvgBytesPerSec = rate * wfe.Format.nBlockAlign;
  wfe.Format.wBitsPerSample = static_cast<WORD>(width);
  wfe.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
  wfe.Samples.wValidBitsPerSample = static_cast<WORD>(width);
  wfe.dwChannelMask = channelMaskFor(channels);
  static_assert(sizeof wfe.SubFormat == sizeof ks::kDataFormatSubtypePcm, "GUID layout");
  std::memcpy(&wfe.SubFormat, &ks::kDataFormatSubtypePcm, sizeof wfe.SubFormat);
  if (FAILED(pin->SetFormat(&wfe.Format)) || FAILED(pin->Instantiate(FALSE))) return false;
  if (FAILED(pin->Reset())) {
    pin->ClosePin();  // a pin we cannot flush is not used, and its handle not kept
    return false;
  }
  return true;
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
  const uint64_t halfBytes = fmt::hostHalfBytes(size, m_widthInUse, m_asioRate);
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
      PinSlot& slot = record->slots[entry.slot];
      slot.inUse = 1;
      if (slot.channelsInUse < entry.indexInPin + 1) slot.channelsInUse = entry.indexInPin + 1;
    }
  } else {
    for (uint32_t s = 0; s < record->pinCount; ++s) {
      record->slots[s].inUse = 1;
      record->slots[s].channelsInUse = 1;
    }
  }

  ASIOError result = ASE_OK;
  for (uint32_t s = 0; s < fmt::kPinSlots; ++s) {
    PinSlot& slot = record->slots[s];
    if (!slot.inUse || !slot.channelsInUse || !slot.pin) continue;
    bool opened = false;
    for (uint32_t ch = slot.channelsInUse; ch <= slot.maxChannels && !opened; ++ch) {
      opened = openPinFormat(ch, width, record->rate, slot.pin);
      if (opened) slot.channelsInUse = ch;
    }
    if (!opened) {
      // Usually the pin is busy: the system's audio engine or another host holds it.
      // Channels the host asked for would stay silent, so the buffers are refused.
      setErrorMessage(render ? "The device's output is in use by another program or refused the format"
                             : "The device's input is in use by another program or refused the format");
      return ASE_HWMalfunction;
    }
    slot.opened = 1;
    record->openedPins |= 1u << s;
    slot.framesPerPacket = frames;
    const uint64_t extent = fmt::packetBytes(width, slot.channelsInUse, frames);
    for (AsioPacket& packet : slot.packets) {
      KSSTREAM_HEADER& h = packet.header;
      std::memset(&packet, 0, sizeof packet);
      h.Size = sizeof(KSSTREAM_HEADER);
      h.PresentationTime.Numerator = 1;
      h.PresentationTime.Denominator = 1;
      h.Data = extent <= 0x7FFFFFFF ? moduleAlloc(extent) : nullptr;
      packet.overlapped.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
      if (!h.Data || !packet.overlapped.hEvent) {
        result = ASE_NoMemory;
        continue;
      }
      h.FrameExtent = static_cast<ULONG>(extent);
      h.DataUsed = render ? h.FrameExtent : 0;
    }
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
        map.outputs[half][map.count] = fmt::HostOutput{entry.buffers[half], entry.bufferBytes, entry.indexInPin};
        map.inputs[half][map.count] = fmt::HostInput{entry.buffers[half], entry.bufferBytes, entry.indexInPin};
      }
      ++map.count;
    }
  }
  return result;
}

void CAsioSample::releaseDirection(Direction dir) {
  RateRecord* record = m_active[dir];
  if (!record) return;
  for (PinSlot& slot : record->slots) {
    if (!slot.inUse) continue;
    if (slot.opened) {
      slot.pin->ClosePin();  // stops the pin first, so no request still holds a packet
      slot.opened = 0;
    }
    for (AsioPacket& packet : slot.packets) {
      moduleFree(packet.header.Data);
      if (packet.overlapped.hEvent) CloseHandle(packet.overlapped.hEvent);
      std::memset(&packet, 0, sizeof packet);
    }
    slot.channelsInUse = 0;
    slot.framesPerPacket = 0;
    slot.inUse = 0;
  }
  record->openedPins = 0;
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
