#include "PropertyModel.h"

#include <algorithm>

namespace tess::vdac {

namespace {

template <typename T>
std::vector<uint8_t> bytesOf(const T& value) {
  std::vector<uint8_t> v(sizeof(T));
  std::memcpy(v.data(), &value, sizeof(T));
  return v;
}

void putU32(std::vector<uint8_t>& v, size_t offset, uint32_t value) { std::memcpy(v.data() + offset, &value, 4); }

// Data ranges back to back, with the pin's reply fault applied.
std::vector<uint8_t> dataRangesReply(const PinSpec& pin) {
  std::vector<KsDataRangeAudio> ranges = pin.ranges;
  size_t lastBytes = sizeof(KsDataRangeAudio);
  if (!ranges.empty()) {
    switch (pin.fault) {
      case ReplyFault::RangeSizeBelow88:
        ranges.back().dataRange.formatSize = sizeof(KsDataFormat);
        lastBytes = sizeof(KsDataFormat);
        break;
      case ReplyFault::RangeSizeZero:
        ranges.front().dataRange.formatSize = 0;
        break;
      case ReplyFault::RangePastReply:
        ranges.back().dataRange.formatSize = sizeof(KsDataRangeAudio) + 64;
        break;
      default:
        break;
    }
  }
  size_t total = sizeof(KsMultipleItem);
  if (!ranges.empty()) total += (ranges.size() - 1) * sizeof(KsDataRangeAudio) + lastBytes;
  std::vector<uint8_t> reply(total);
  uint32_t count = static_cast<uint32_t>(ranges.size());
  if (pin.fault == ReplyFault::ItemCountBeyondReply) count += 3;
  putU32(reply, 0, static_cast<uint32_t>(total));
  putU32(reply, 4, count);
  size_t offset = sizeof(KsMultipleItem);
  for (size_t i = 0; i < ranges.size(); ++i) {
    size_t n = i + 1 == ranges.size() ? lastBytes : sizeof(KsDataRangeAudio);
    std::memcpy(reply.data() + offset, &ranges[i], n);
    offset += n;
  }
  return reply;
}

// UTF-16 name with its terminator; the faulted form fills 259 bytes (the most a caller
// reads) without a single zero byte.
std::vector<uint8_t> nameReply(const PinSpec& pin) {
  if (pin.fault == ReplyFault::NameWithoutTerminator) return std::vector<uint8_t>(259, 0x41);
  std::vector<uint8_t> reply((pin.name.size() + 1) * 2, 0);
  std::memcpy(reply.data(), pin.name.data(), pin.name.size() * 2);
  return reply;
}

Reply fail(uint32_t error) { return {error, 0}; }

}  // namespace

std::vector<uint8_t> multipleItemReply(const void* items, uint32_t itemSize, uint32_t count) {
  size_t total = sizeof(KsMultipleItem) + size_t{itemSize} * count;
  std::vector<uint8_t> reply(total);
  putU32(reply, 0, static_cast<uint32_t>(total));
  putU32(reply, 4, count);
  if (total > sizeof(KsMultipleItem)) std::memcpy(reply.data() + sizeof(KsMultipleItem), items, total - sizeof(KsMultipleItem));
  return reply;
}

Reply deliverReply(const std::vector<uint8_t>& reply, bool multipleItem, void* out, size_t outSize) {
  const uint32_t size = static_cast<uint32_t>(reply.size());
  // A size query: "more data" and the size; an empty property has nothing to ask for.
  if (outSize == 0) return size ? Reply{kErrMoreData, size} : Reply{kErrSuccess, 0};
  if (out == nullptr) return fail(kErrInvalidParameter);
  if (multipleItem && (outSize == sizeof(uint32_t) || outSize == sizeof(KsMultipleItem)) && outSize < size) {
    std::memcpy(out, reply.data(), outSize);
    return {kErrSuccess, static_cast<uint32_t>(outSize)};
  }
  if (outSize < size) return fail(kErrInsufficientBuffer);
  if (size) std::memcpy(out, reply.data(), size);
  return {kErrSuccess, size};
}

bool pinPropertyReply(const PinSpec& pin, uint32_t propertyId, uint32_t currentInstances,
                      std::vector<uint8_t>& reply, bool& multipleItem) {
  multipleItem = false;
  auto raw = pin.rawReplies.find(propertyId);
  if (raw != pin.rawReplies.end()) {
    reply = raw->second;
    return true;
  }
  switch (propertyId) {
    case kPropertyPinCInstances:
      reply = bytesOf(KsPinCInstances{pin.instances.possibleCount, currentInstances});
      return true;
    case kPropertyPinGlobalCInstances:
      reply = bytesOf(KsPinCInstances{pin.globalInstances.possibleCount, currentInstances});
      return true;
    case kPropertyPinNecessaryInstances:
      reply = bytesOf(uint32_t{0});
      return true;
    case kPropertyPinDataFlow:
      reply = bytesOf(pin.dataFlow);
      return true;
    case kPropertyPinCommunication:
      reply = bytesOf(pin.communication);
      return true;
    case kPropertyPinCategory:
      reply = bytesOf(pin.category);
      return true;
    case kPropertyPinName:
      reply = nameReply(pin);
      return true;
    case kPropertyPinDataRanges:
      reply = dataRangesReply(pin);
      multipleItem = true;
      return true;
    case kPropertyPinInterfaces:
      reply = multipleItemReply(pin.interfaces.data(), sizeof(KsIdentifier), static_cast<uint32_t>(pin.interfaces.size()));
      multipleItem = true;
      return true;
    case kPropertyPinMediums:
      reply = multipleItemReply(pin.mediums.data(), sizeof(KsIdentifier), static_cast<uint32_t>(pin.mediums.size()));
      multipleItem = true;
      return true;
    default:
      return false;
  }
}

Reply answerFilterProperty(const FilterSpec& filter, const std::vector<uint32_t>& currentInstances,
                           const void* in, size_t inSize, void* out, size_t outSize) {
  if (in == nullptr || inSize < sizeof(KsProperty)) return fail(kErrInvalidParameter);
  KsProperty request;
  std::memcpy(&request, in, sizeof request);
  if (request.set != kPropSetPin && request.set != kPropSetTopology && request.set != kPropSetGeneral) {
    return fail(kErrSetNotFound);
  }
  // Every filter property is read-only.
  if (request.flags != kPropertyTypeGet) return fail(kErrNotFound);

  std::vector<uint8_t> reply;
  bool multipleItem = false;
  if (request.set == kPropSetPin) {
    if (request.id == kPropertyPinCTypes) {
      reply = bytesOf(static_cast<uint32_t>(filter.pins.size()));
    } else {
      if (inSize < sizeof(KsPinProperty)) return fail(kErrInvalidParameter);
      KsPinProperty pinRequest;
      std::memcpy(&pinRequest, in, sizeof pinRequest);
      if (pinRequest.pinId >= filter.pins.size()) return fail(kErrInvalidParameter);
      uint32_t current = pinRequest.pinId < currentInstances.size() ? currentInstances[pinRequest.pinId] : 0;
      if (!pinPropertyReply(filter.pins[pinRequest.pinId], request.id, current, reply, multipleItem)) {
        return fail(kErrNotFound);
      }
    }
  } else if (request.set == kPropSetTopology) {
    if (request.id == kPropertyTopologyNodes) {
      reply = multipleItemReply(filter.nodes.data(), sizeof(Guid), static_cast<uint32_t>(filter.nodes.size()));
      if (filter.topologyShorterThanCount) putU32(reply, 4, static_cast<uint32_t>(filter.nodes.size() + 2));
      multipleItem = true;
    } else if (request.id == kPropertyTopologyCategories) {
      reply = multipleItemReply(filter.categories.data(), sizeof(Guid), static_cast<uint32_t>(filter.categories.size()));
      multipleItem = true;
    } else {
      return fail(kErrNotFound);
    }
  } else {
    if (request.id != kPropertyGeneralComponentId) return fail(kErrNotFound);
    reply = bytesOf(filter.componentId);
  }
  return deliverReply(reply, multipleItem, out, outSize);
}

}  // namespace tess::vdac
