// What a virtual kernel-streaming filter looks like: its pins, ranges, nodes and the
// faults its replies may carry. Tests build or edit these to shape the device.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ModelWire.h"

namespace tess::vdac {

// Defects a pin's property replies can be given, to prove that callers never read or
// write past a reply.
enum class ReplyFault {
  None,
  RangeSizeBelow88,      // the last data range declares (and has) only 64 bytes
  RangeSizeZero,         // the first data range declares size 0
  RangePastReply,        // the last data range declares more bytes than the reply holds
  ItemCountBeyondReply,  // the data-range reply counts more items than it holds
  NameWithoutTerminator, // the pin name reply has no terminating NUL
};

struct PinSpec {
  uint32_t dataFlow = kDataFlowIn;
  uint32_t communication = kCommunicationSink;
  std::vector<KsIdentifier> interfaces;
  std::vector<KsIdentifier> mediums;
  std::vector<KsDataRangeAudio> ranges;  // written back to back, each 88 bytes unless faulted
  Guid category = kCategoryAudio;
  std::u16string name;
  KsPinCInstances instances{1, 0};        // current count is filled in live
  KsPinCInstances globalInstances{1, 0};
  bool creatable = true;  // KsCreatePin may connect it (streaming pins)
  ReplyFault fault = ReplyFault::None;
  // Replies given verbatim in place of the computed ones, by pin property id.
  std::map<uint32_t, std::vector<uint8_t>> rawReplies;
};

struct FilterSpec {
  std::vector<PinSpec> pins;
  std::vector<Guid> nodes;
  std::vector<Guid> categories;
  KsComponentId componentId{};
  bool topologyShorterThanCount = false;  // the node reply counts more nodes than it holds
  // Connect formats must carry exactly a range's maximum channel count (as USB audio
  // class devices require); when false any count up to the maximum is taken.
  bool exactChannels = true;
};

// A PCM range (WAVEFORMATEX specifier) for one width and a rate interval.
KsDataRangeAudio pcmRange(uint32_t bits, uint32_t minRate, uint32_t maxRate, uint32_t channels,
                          const Guid& specifier = kDataFormatSpecifierWaveFormatEx);
// The standard streaming interface and medium every streaming pin carries.
KsIdentifier standardStreamingInterface();
KsIdentifier standardMedium();

// The shape of the DAC's ranges.
struct RangeShape {
  std::vector<uint32_t> widths{16, 24, 32};  // valid bits, stated by the WAVEFORMATEX ranges
  std::vector<uint32_t> rates;  // empty: one continuous interval [minRate, maxRate]
  uint32_t minRate = 32000;
  uint32_t maxRate = 384000;
  uint32_t channels = 2;
  // Containers, stated by the DirectSound ranges; empty: the widths (packed samples).
  // {24} with containers {32} is a device that streams 24-bit audio only in 4-byte
  // containers and refuses packed 24-bit.
  std::vector<uint32_t> containers;
};

// A USB audio filter as the DAC presents it: render streaming pin (in, sink), its bridge
// pin, capture bridge pin, capture streaming pin (out, sink) and a digital source pin,
// with topology nodes and component id. renderOnly leaves the capture pins out.
FilterSpec buildDacFilter(const RangeShape& shape, bool renderOnly, uint16_t vendorId, uint16_t productId);

}  // namespace tess::vdac
