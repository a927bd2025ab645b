#include "KsWire.h"

#include <algorithm>

namespace tess::ks {

KsProperty makeProperty(const Guid& set, uint32_t id, uint32_t flags) {
  KsProperty p{};
  p.set = set;
  p.id = id;
  p.flags = flags;
  return p;
}

KsPinProperty makePinProperty(uint32_t pinId, uint32_t id) {
  KsPinProperty p{};
  p.property = makeProperty(kPropSetPin, id, kPropertyTypeGet);
  p.pinId = pinId;
  return p;
}

MultipleItemView viewMultipleItem(const void* reply, size_t replySize) {
  MultipleItemView view;
  if (!reply || replySize < sizeof(KsMultipleItem)) return view;
  KsMultipleItem header;
  std::memcpy(&header, reply, sizeof header);
  size_t total = std::min<size_t>(replySize, header.size);
  if (total < sizeof header) return view;
  view.items = static_cast<const uint8_t*>(reply) + sizeof header;
  view.itemBytes = total - sizeof header;
  view.declaredCount = header.count;
  return view;
}

uint32_t itemsInReply(const MultipleItemView& view, size_t itemSize) {
  if (itemSize == 0) return 0;
  return static_cast<uint32_t>(std::min<size_t>(view.declaredCount, view.itemBytes / itemSize));
}

bool containsIdentifier(const void* items, uint32_t count, const Guid& set, uint32_t id) {
  const uint8_t* at = static_cast<const uint8_t*>(items);
  for (uint32_t i = 0; at && i < count; ++i, at += sizeof(KsIdentifier)) {
    KsIdentifier identifier;
    std::memcpy(&identifier, at, sizeof identifier);
    if (identifier.set == set && identifier.id == id) return true;
  }
  return false;
}

}  // namespace tess::ks
