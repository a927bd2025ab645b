// Hostile device replies and caller formats: the data-range walk, range copying, format
// matching, identifier search and connect-record sizing must stay inside their buffers.
// Input: 1 byte check mask, 40 bytes of wave format, then the reply.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "KsConnect.h"
#include "KsDataRange.h"
#include "KsWire.h"

using namespace tess::ks;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 + sizeof(WaveFormatExtensible)) return 0;
  uint32_t mask = data[0];
  const uint8_t* formatBytes = data + 1;
  // The reply in a buffer of its exact size, so that any overread is caught.
  size_t replySize = size - 1 - sizeof(WaveFormatExtensible);
  std::vector<uint8_t> reply(formatBytes + sizeof(WaveFormatExtensible), data + size);

  MultipleItemView view = viewMultipleItem(reply.data(), reply.size());
  std::vector<KsDataRangeAudio> kept;
  scanAudioRanges(view, [&](const KsDataRangeAudio& r) { kept.push_back(r); });
  std::vector<const KsDataRangeAudio*> ranges;
  for (const KsDataRangeAudio& r : kept) ranges.push_back(&r);

  // The format as a caller holds it: exactly the bytes its tag and cbSize declare
  // (capped at what the input gives), so a short extensible format is exact too.
  WaveFormatEx head;
  std::memcpy(&head, formatBytes, sizeof head);
  uint32_t declared = waveFormatBytes(head);
  if (declared > sizeof(WaveFormatExtensible)) {
    head.cbSize = sizeof(WaveFormatExtensible) - sizeof(WaveFormatEx);
    declared = sizeof(WaveFormatExtensible);
  }
  std::vector<uint8_t> format(formatBytes, formatBytes + declared);
  std::memcpy(format.data(), &head, sizeof head);
  volatile bool accepted = anyRangeAccepts(ranges, format.data(), mask);
  (void)accepted;

  uint32_t identifiers = itemsInReply(view, sizeof(KsIdentifier));
  volatile bool found = containsIdentifier(view.items, identifiers, kInterfaceSetStandard, 0);
  (void)found;

  uint8_t* record = static_cast<uint8_t*>(std::calloc(kConnectInitialSize, 1));
  uint32_t recordSize = kConnectInitialSize;
  if (record) {
    initConnectRecord(record, replySize & 0xFF);
    if (setConnectFormat(&record, &recordSize, format.data())) {
      KsDataFormat f = readConnectDataFormat(record);
      if (recordSize != kConnectWaveFormatOffset + declared || f.formatSize != sizeof(KsDataFormat) + declared)
        std::abort();
    }
    std::free(record);
  }
  return 0;
}
