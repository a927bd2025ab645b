#include "KsConnect.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace tess::ks {

void initConnectRecord(uint8_t* record, uint32_t pinId) {
  KsPinConnect connect{};
  connect.iface.set = kInterfaceSetStandard;
  connect.iface.id = kInterfaceStandardStreaming;
  connect.medium.set = kMediumSetStandard;
  connect.medium.id = kMediumTypeAnyInstance;
  connect.pinId = pinId;
  connect.pinToHandle = nullptr;
  connect.priority.priorityClass = kPriorityNormal;
  connect.priority.prioritySubClass = 1;
  std::memcpy(record, &connect, sizeof connect);

  KsDataFormat format{};
  format.formatSize = sizeof(KsDataFormat) + sizeof(WaveFormatEx);
  format.majorFormat = kDataFormatTypeAudio;
  format.subFormat = kDataFormatSubtypePcm;
  format.specifier = kDataFormatSpecifierWaveFormatEx;
  std::memcpy(record + kConnectDataFormatOffset, &format, sizeof format);
}

void setConnectLooped(uint8_t* record, bool looped) {
  uint32_t id = looped ? kInterfaceStandardLoopedStreaming : kInterfaceStandardStreaming;
  std::memcpy(record + offsetof(KsPinConnect, iface) + offsetof(KsIdentifier, id), &id, sizeof id);
}

uint32_t waveFormatBytes(const WaveFormatEx& format) {
  if (format.formatTag == kWaveFormatPcm) return sizeof(WaveFormatEx);
  return sizeof(WaveFormatEx) + format.cbSize;
}

uint32_t formatSampleSize(const WaveFormatEx& format) {
  return ((uint32_t{format.channels} * format.bitsPerSample) / 8) & 0xFFFF;
}

bool setConnectFormat(uint8_t** record, uint32_t* recordSize, const void* wfx) {
  WaveFormatEx format;
  std::memcpy(&format, wfx, sizeof format);
  uint32_t n = waveFormatBytes(format);
  uint32_t needed = static_cast<uint32_t>(kConnectWaveFormatOffset) + n;
  if (needed != *recordSize) {
    uint8_t* reshaped = static_cast<uint8_t*>(std::calloc(needed, 1));
    if (!reshaped) return false;
    if (*record) std::memcpy(reshaped, *record, std::min(needed, *recordSize));
    std::free(*record);
    *record = reshaped;
    *recordSize = needed;
  }
  uint8_t* dataFormat = *record + kConnectDataFormatOffset;
  uint32_t formatSize = sizeof(KsDataFormat) + n;
  std::memcpy(dataFormat + offsetof(KsDataFormat, formatSize), &formatSize, sizeof formatSize);
  uint32_t sampleSize = formatSampleSize(format);
  std::memcpy(dataFormat + offsetof(KsDataFormat, sampleSize), &sampleSize, sizeof sampleSize);
  std::memcpy(*record + kConnectWaveFormatOffset, wfx, n);
  return true;
}

KsPinConnect readConnect(const uint8_t* record) {
  KsPinConnect connect;
  std::memcpy(&connect, record, sizeof connect);
  return connect;
}

KsDataFormat readConnectDataFormat(const uint8_t* record) {
  KsDataFormat format;
  std::memcpy(&format, record + kConnectDataFormatOffset, sizeof format);
  return format;
}

}  // namespace tess::ks
