// Data ranges of a pin: walking the KSPROPERTY_PIN_DATARANGES reply, choosing and
// copying its audio ranges, and testing wave formats against them. Device replies are
// untrusted: nothing here reads outside the reply it is given.
#pragma once

#include <cstddef>
#include <cstdint>

#include "KsWire.h"

namespace tess::ks {

// Walks the ranges of a data-ranges reply in order. Each range starts with its own size
// in bytes; the next one starts at that size rounded up to 8 bytes (the platform keeps
// ranges quad-aligned; audio ranges are 88 bytes, so nothing moves for them). The walk
// stops after the declared count, at the end of the reply, or at the first malformed
// range: one smaller than a KSDATARANGE (a zero size included) or reaching past the end.
class DataRangeWalker {
 public:
  explicit DataRangeWalker(const MultipleItemView& view) : m_view(view) {}
  // The next range and its own size (at least 64, wholly inside the reply).
  bool next(const uint8_t** range, uint32_t* size);
  // True when the walk stopped on a malformed range or on a count beyond the reply.
  bool malformed() const { return m_malformed; }

 private:
  MultipleItemView m_view;
  size_t m_offset = 0;
  uint32_t m_index = 0;
  bool m_malformed = false;
};

// Reads the KSDATARANGE part of a walked range.
KsDataRange readDataRange(const uint8_t* range);

// Copies a walked range as a KSDATARANGE_AUDIO. A range shorter than 88 bytes gives its
// own bytes; the audio limits it lacks read as 0, so such a range accepts no channel
// count, width or rate.
KsDataRangeAudio copyAudioRange(const uint8_t* range, uint32_t size);

// The sub-format test of a pin's ranges: a wave-format-tag GUID (PCM included) or the
// null GUID (wildcard).
bool isWaveSubFormat(const Guid& subFormat);

struct AudioRangeScan {
  bool subFormatPassed = false;  // some range passed the sub-format test
  bool malformed = false;        // the walk stopped on a malformed range
};

// The ranges a pin keeps: once one range has passed the sub-format test every later
// range counts as passing; a passing range whose major format is audio is handed to
// keep (as an 88-byte copy) in reply order.
template <typename Keep>
AudioRangeScan scanAudioRanges(const MultipleItemView& view, Keep&& keep) {
  AudioRangeScan scan;
  DataRangeWalker walker(view);
  const uint8_t* range;
  uint32_t size;
  while (walker.next(&range, &size)) {
    KsDataRange head = readDataRange(range);
    if (!scan.subFormatPassed) scan.subFormatPassed = isWaveSubFormat(head.subFormat);
    if (scan.subFormatPassed && head.majorFormat == kDataFormatTypeAudio) keep(copyAudioRange(range, size));
  }
  scan.malformed = walker.malformed();
  return scan;
}

// Check-mask bits of format matching; other bits are ignored.
inline constexpr uint32_t kCheckChannels = 2;
inline constexpr uint32_t kCheckBitsPerSample = 4;
inline constexpr uint32_t kCheckSampleRate = 8;
inline constexpr uint32_t kCheckAll = 0xF;

// Reads a caller's wave format: its WAVEFORMATEX part and the sub-format it declares,
// {tag-0000-0010-8000-00AA00389B71} or, for WAVE_FORMAT_EXTENSIBLE, its SubFormat.
// False when an extensible tag comes with a cbSize below 22 (no SubFormat to read).
bool readWaveFormat(const void* wfx, WaveFormatEx* format, Guid* subFormat);

// A PCM stream as a pin would carry it: container bits per sample (the wave format's
// bits per sample) and the valid bits inside each container (equal for packed samples).
struct PcmQuery {
  uint32_t channels = 0;
  uint32_t containerBits = 0;
  uint32_t validBits = 0;
  uint32_t sampleRate = 0;
  Guid subFormat = kDataFormatSubtypePcm;
  bool exactChannels = false;  // the channel count must equal a range's maximum (a device's own rule)
};

// Reads a caller's wave format as a query: valid bits from an extensible format's
// Samples member (0 there means the container is full), else the bits per sample.
bool readPcmQuery(const void* wfx, PcmQuery* query);

struct PcmMatch {
  bool matched = false;
  uint32_t maxChannels = 0;  // the most channels among the ranges that take the samples
};

// The one rule by which a pin's ranges take a stream, for format probing and pin opening
// alike. Ranges with the WAVEFORMATEX specifier (or none) state the valid bits of the
// samples they take; ranges with the DirectSound specifier state containers. A stream
// is taken when a WAVEFORMATEX range takes its valid bits and its container is stated:
// by a DirectSound range when the pin has any that fits, else by the same WAVEFORMATEX
// range (packed samples). So a device whose ranges say "24 valid bits" and "32-bit
// containers" takes 24 in 32 and refuses packed 24. The check mask selects which limits
// count (channels 2, width 4, rate 8); major format, sub-format and specifier always do.
template <typename Ranges>
PcmMatch matchPcmRanges(const Ranges& ranges, const PcmQuery& query, uint32_t checkMask);

// The single-range tests of the rule above (exposed for the template).
enum class RangeStates { Samples, Containers, Nothing };
RangeStates rangeStates(const KsDataRangeAudio& range);
bool rangeFitsStream(const KsDataRangeAudio& range, const PcmQuery& query, uint32_t checkMask);
bool bitsWithin(const KsDataRangeAudio& range, uint32_t bits, uint32_t checkMask);

template <typename Ranges>
PcmMatch matchPcmRanges(const Ranges& ranges, const PcmQuery& query, uint32_t checkMask) {
  bool anyContainerRange = false, containerStated = false;
  for (const KsDataRangeAudio* range : ranges) {
    if (!range || rangeStates(*range) != RangeStates::Containers || !rangeFitsStream(*range, query, checkMask))
      continue;
    anyContainerRange = true;
    if (bitsWithin(*range, query.containerBits, checkMask)) containerStated = true;
  }
  PcmMatch match;
  if (anyContainerRange && !containerStated) return match;
  for (const KsDataRangeAudio* range : ranges) {
    if (!range || rangeStates(*range) != RangeStates::Samples || !rangeFitsStream(*range, query, checkMask)) continue;
    if (!bitsWithin(*range, query.validBits, checkMask)) continue;
    if (!anyContainerRange && !bitsWithin(*range, query.containerBits, checkMask)) continue;
    match.matched = true;
    if (range->maximumChannels > match.maxChannels) match.maxChannels = range->maximumChannels;
  }
  return match;
}

// Whether some range takes a caller's wave format (the rule above).
// Ranges is any sequence of const KsDataRangeAudio* (a pin's data-range list).
template <typename Ranges>
bool anyRangeAccepts(const Ranges& ranges, const void* wfx, uint32_t checkMask) {
  PcmQuery query;
  if (!readPcmQuery(wfx, &query)) return false;
  return matchPcmRanges(ranges, query, checkMask).matched;
}

}  // namespace tess::ks
