#include "DatagramSlots.h"

#include <cstring>

namespace remote {

DatagramSlots::Target DatagramSlots::Prepare() {
  uint8_t* slot = Slot(m_next);
  std::memset(slot, 0, kSlotSize);
  return Target{m_next, slot, slot + kSlotPayloadOffset};
}

DatagramSlots::Delivery DatagramSlots::Commit(std::size_t addressLength, std::size_t payloadLength) {
  uint8_t* slot = Slot(m_next);
  if (addressLength > kSlotAddressBytes) addressLength = kSlotAddressBytes;
  if (payloadLength > kSlotPayloadCapacity) payloadLength = kSlotPayloadCapacity;
  std::memset(slot + addressLength, 0, kSlotPayloadOffset - addressLength);
  std::memset(slot + kSlotPayloadOffset + payloadLength, 0, kSlotPayloadCapacity - payloadLength);
  const Delivery delivery{m_next, slot, payloadLength};
  m_next = (m_next + 1) % kSlotCount;
  return delivery;
}

}  // namespace remote
