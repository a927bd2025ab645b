// Hostile device replies and caller formats: the data-range walk, range copying, format
// matching, identifier search and connect-record sizing must stay inside their buffers.
// Input: 1 byte check mask (its top bit chooses the reply mode), 40 bytes of wave format,
// then the reply: either raw, or (to reach the matching paths often) audio ranges built
// from 20-byte records with chosen sizes, limits and GUIDs, under a header whose size and
// count may lie.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "KsConnect.h"
#include "KsDataRange.h"
#include "KsWire.h"

using namespace tess::ks;

namespace {

const Guid kSubFormats[4] = {kDataFormatSubtypePcm, Guid{}, kDataFormatTypeAudio,
                             Guid{3, 0, 0x10, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}}};
const Guid kSpecifiers[2] = {kDataFormatSpecifierWaveFormatEx, Guid{}};

// Header: 2 bytes of size adjustment and 1 of count adjustment, then one 20-byte record per
// range: own size selector, GUID selectors, channels, width limits, rate limits.
std::vector<uint8_t> structuredReply(const uint8_t* in, size_t size) {
  std::vector<uint8_t> items;
  uint32_t count = 0;
  if (size < 3) return {};
  int sizeAdjust = static_cast<int8_t>(in[0]) * 4;
  int countAdjust = static_cast<int8_t>(in[1]) % 4;
  bool adjustSize = in[2] & 1;
  for (size_t at = 3; at + 20 <= size; at += 20, ++count) {
    const uint8_t* r = in + at;
    KsDataRangeAudio range{};
    static const uint32_t kSizes[8] = {88, 88, 88, 64, 72, 0, 40, 200};
    uint32_t own = kSizes[r[0] & 7];
    range.dataRange.formatSize = own;
    range.dataRange.majorFormat = (r[1] & 1) ? Guid{} : kDataFormatTypeAudio;
    range.dataRange.subFormat = kSubFormats[(r[1] >> 1) & 3];
    range.dataRange.specifier = kSpecifiers[(r[1] >> 3) & 1];
    range.maximumChannels = r[2];
    range.minimumBitsPerSample = r[3];
    range.maximumBitsPerSample = r[4];
    std::memcpy(&range.minimumSampleFrequency, r + 5, 4);
    std::memcpy(&range.maximumSampleFrequency, r + 9, 4);
    size_t bytes = std::min<size_t>(own ? own : 8, sizeof range);
    size_t start = items.size();
    items.resize(start + ((bytes + 7) & ~size_t{7}));
    std::memcpy(items.data() + start, &range, bytes);
  }
  std::vector<uint8_t> reply(sizeof(KsMultipleItem) + items.size());
  KsMultipleItem header{static_cast<uint32_t>(reply.size() + (adjustSize ? sizeAdjust : 0)),
                        static_cast<uint32_t>(static_cast<int>(count) + countAdjust)};
  std::memcpy(reply.data(), &header, sizeof header);
  if (!items.empty()) std::memcpy(reply.data() + sizeof header, items.data(), items.size());
  return reply;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 + sizeof(WaveFormatExtensible)) return 0;
  uint32_t mask = data[0];
  const uint8_t* formatBytes = data + 1;
  // The reply in a buffer of its exact size, so that any overread is caught.
  size_t replySize = size - 1 - sizeof(WaveFormatExtensible);
  const uint8_t* rest = formatBytes + sizeof(WaveFormatExtensible);
  std::vector<uint8_t> reply = (mask & 0x80) ? structuredReply(rest, replySize)
                                             : std::vector<uint8_t>(rest, rest + replySize);
  replySize = reply.size();

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
