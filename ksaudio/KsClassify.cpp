#include "KsClassify.h"

#include "KsWire.h"

namespace tess::ks {

PinPlacement classifyPin(uint32_t dataFlow, uint32_t communication) {
  PinPlacement p;
  bool in = dataFlow == kDataFlowIn;
  auto add = [&p](PinListId id) { p.lists[p.count++] = id; };
  switch (communication) {
    case kCommunicationNone:
      add(PinListId::NoCommunication);
      break;
    case kCommunicationSink:
      add(in ? PinListId::InSink : PinListId::OutSink);
      break;
    case kCommunicationSource:
      add(in ? PinListId::InSource : PinListId::OutSource);
      break;
    case kCommunicationBoth:
      add(in ? PinListId::InSink : PinListId::OutSink);
      add(in ? PinListId::InSource : PinListId::OutSource);
      break;
    default:
      p.recognised = false;
      break;
  }
  return p;
}

bool isAudioFilterCommunication(uint32_t communication) {
  return communication == kCommunicationSink || communication == kCommunicationSource ||
         communication == kCommunicationBoth;
}

AudioPinKind audioPinKind(uint32_t dataFlow, uint32_t communication) {
  if (communication != kCommunicationSink) return AudioPinKind::Plain;
  if (dataFlow == kDataFlowIn) return AudioPinKind::Render;
  if (dataFlow == kDataFlowOut) return AudioPinKind::Capture;
  return AudioPinKind::Plain;
}

}  // namespace tess::ks
