// The receiver's slot ring: eight 1024-byte slots in one 8192-byte buffer, used round-robin.
// A slot holds the sender's socket address (16 bytes), 16 zero bytes, then the payload cut at
// 992 bytes and zero-padded. Portable: the receive thread asks for the next slot's places,
// lets the socket write there, and commits what the socket reported.
#pragma once

#include <cstddef>
#include <cstdint>

namespace remote {

inline constexpr std::size_t kSlotCount = 8;
inline constexpr std::size_t kSlotSize = 1024;
inline constexpr std::size_t kSlotBufferSize = kSlotCount * kSlotSize;
inline constexpr std::size_t kSlotAddressBytes = 16;
inline constexpr std::size_t kSlotPayloadOffset = 32;
inline constexpr std::size_t kSlotPayloadCapacity = kSlotSize - kSlotPayloadOffset;  // 992

class DatagramSlots {
 public:
  // buffer: kSlotBufferSize bytes, owned by the caller for the life of this object.
  explicit DatagramSlots(uint8_t* buffer) : m_buffer(buffer) {}

  // Where the next receive writes; the slot is all zero.
  struct Target {
    uint32_t index;
    uint8_t* address;  // kSlotAddressBytes
    uint8_t* payload;  // kSlotPayloadCapacity
  };
  Target Prepare();

  // A datagram in its slot, ready for delivery.
  struct Delivery {
    uint32_t index;
    uint8_t* slot;
    std::size_t payloadLength;  // after the cut
  };
  // Records what the receive reported for the prepared slot (lengths beyond the slot are cut;
  // bytes the receive may have left beyond them are cleared) and moves on to the next slot.
  Delivery Commit(std::size_t addressLength, std::size_t payloadLength);

  uint32_t NextIndex() const { return m_next; }
  uint8_t* Slot(uint32_t index) const { return m_buffer + (index % kSlotCount) * kSlotSize; }

 private:
  uint8_t* m_buffer;
  uint32_t m_next = 0;
};

}  // namespace remote
