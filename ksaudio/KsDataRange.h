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

// One range against one format (already read).
bool rangeAcceptsFormat(const KsDataRangeAudio& range, const WaveFormatEx& format, const Guid& subFormat,
                        uint32_t checkMask);

// The first range (in order) that passes every selected test makes the answer true.
// Ranges is any sequence of const KsDataRangeAudio* (a pin's data-range list).
template <typename Ranges>
bool anyRangeAccepts(const Ranges& ranges, const void* wfx, uint32_t checkMask) {
  WaveFormatEx format;
  Guid subFormat;
  if (!readWaveFormat(wfx, &format, &subFormat)) return false;
  for (const KsDataRangeAudio* range : ranges) {
    if (range && rangeAcceptsFormat(*range, format, subFormat, checkMask)) return true;
  }
  return false;
}

}  // namespace tess::ks
