#include "FilterSpec.h"

namespace tess::vdac {

KsDataRangeAudio pcmRange(uint32_t bits, uint32_t minRate, uint32_t maxRate, uint32_t channels,
                          const Guid& specifier) {
  KsDataRangeAudio r{};
  r.dataRange.formatSize = sizeof(KsDataRangeAudio);
  r.dataRange.majorFormat = kDataFormatTypeAudio;
  r.dataRange.subFormat = kDataFormatSubtypePcm;
  r.dataRange.specifier = specifier;
  r.maximumChannels = channels;
  r.minimumBitsPerSample = bits;
  r.maximumBitsPerSample = bits;
  r.minimumSampleFrequency = minRate;
  r.maximumSampleFrequency = maxRate;
  return r;
}

KsIdentifier standardStreamingInterface() { return {kInterfaceSetStandard, kInterfaceStandardStreaming, 0}; }
KsIdentifier standardMedium() { return {kMediumSetStandard, kMediumTypeAnyInstance, 0}; }

namespace {

// Ranges of one streaming pin: each width over the rates with the WAVEFORMATEX
// specifier, then each container with the DirectSound specifier, as audio drivers list
// them.
std::vector<KsDataRangeAudio> streamingRanges(const RangeShape& shape) {
  std::vector<KsDataRangeAudio> ranges;
  for (const Guid* specifier : {&kDataFormatSpecifierWaveFormatEx, &kDataFormatSpecifierDSound}) {
    const bool containers = specifier == &kDataFormatSpecifierDSound && !shape.containers.empty();
    for (uint32_t bits : containers ? shape.containers : shape.widths) {
      if (shape.rates.empty()) {
        ranges.push_back(pcmRange(bits, shape.minRate, shape.maxRate, shape.channels, *specifier));
      } else {
        for (uint32_t rate : shape.rates) ranges.push_back(pcmRange(bits, rate, rate, shape.channels, *specifier));
      }
    }
  }
  return ranges;
}

// A bridge pin's only range: analog audio, which no wave format matches.
KsDataRangeAudio analogRange() {
  KsDataRangeAudio r{};
  r.dataRange.formatSize = sizeof(KsDataRangeAudio);
  r.dataRange.majorFormat = kDataFormatTypeAudio;
  r.dataRange.subFormat = kDataFormatSubtypeAnalog;
  r.dataRange.specifier = kDataFormatSpecifierNone;
  return r;
}

PinSpec streamingPin(uint32_t dataFlow, const RangeShape& shape, const char16_t* name) {
  PinSpec p;
  p.dataFlow = dataFlow;
  p.communication = kCommunicationSink;
  p.interfaces = {standardStreamingInterface()};
  p.mediums = {standardMedium()};
  p.ranges = streamingRanges(shape);
  p.category = kCategoryAudio;
  p.name = name;
  return p;
}

PinSpec bridgePin(uint32_t dataFlow, const Guid& category, const char16_t* name) {
  PinSpec p;
  p.dataFlow = dataFlow;
  p.communication = kCommunicationBridge;
  p.interfaces = {standardStreamingInterface()};
  p.mediums = {standardMedium()};
  p.ranges = {analogRange()};
  p.category = category;
  p.name = name;
  p.instances = {0, 0};
  p.globalInstances = {0, 0};
  p.creatable = false;
  return p;
}

}  // namespace

FilterSpec buildDacFilter(const RangeShape& shape, bool renderOnly, uint16_t vendorId, uint16_t productId) {
  FilterSpec f;
  f.pins.push_back(streamingPin(kDataFlowIn, shape, u"Playback"));
  f.pins.push_back(bridgePin(kDataFlowOut, kNodeTypeSpeaker, u"Speakers"));
  if (!renderOnly) {
    f.pins.push_back(bridgePin(kDataFlowIn, kNodeTypeLineConnector, u"Line In"));
    f.pins.push_back(streamingPin(kDataFlowOut, shape, u"Record"));
  }
  // The S/PDIF output: a source pin (it connects to a sink elsewhere), never a sink.
  PinSpec spdif;
  spdif.dataFlow = kDataFlowOut;
  spdif.communication = kCommunicationSource;
  spdif.interfaces = {standardStreamingInterface()};
  spdif.mediums = {standardMedium()};
  spdif.ranges = {pcmRange(16, 48000, 48000, 2)};
  spdif.category = kNodeTypeSpdifInterface;
  spdif.name = u"S/PDIF Out";
  spdif.creatable = false;
  f.pins.push_back(spdif);

  f.nodes = {kNodeTypeVolume, kNodeTypeMute, kNodeTypeDac};
  if (!renderOnly) f.nodes.insert(f.nodes.end(), {kNodeTypeAdc, kNodeTypeVolume, kNodeTypeMute});
  f.categories = {kCategoryAudio, kCategoryRender};
  if (!renderOnly) f.categories.push_back(kCategoryCapture);

  // Manufacturer and product GUIDs derived from the USB ids.
  f.componentId.manufacturer = {0xFC575048u + vendorId, 0x2E08, 0x463B, {0xA1, 0x79, 0x74, 0x5D, 0x6F, 0x4E, 0x0C, 0x7F}};
  f.componentId.product = {0xFC575048u + productId, 0x2E08, 0x463B, {0xA1, 0x79, 0x74, 0x5D, 0x6F, 0x4E, 0x0C, 0x7F}};
  f.componentId.version = 1;
  f.componentId.revision = 0;
  return f;
}

}  // namespace tess::vdac
