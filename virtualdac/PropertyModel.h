// Answers kernel-streaming property requests of a virtual filter the way the platform
// does: size queries, short buffers, unsupported sets and properties, multiple-item
// replies. Portable: the Win32 layer hands it the caller's raw buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "FilterSpec.h"

namespace tess::vdac {

struct Reply {
  uint32_t error;  // Win32 error code; kErrSuccess, or kErrMoreData for a size query
  uint32_t bytes;  // bytes written, or the size needed for kErrMoreData
};

// Puts a reply into the caller's output buffer: output size 0 asks for the size
// (kErrMoreData with the size needed), a short buffer fails with kErrInsufficientBuffer
// and 0 bytes. A multiple-item reply also answers a 4-byte buffer with its total size
// and an 8-byte buffer with its header.
Reply deliverReply(const std::vector<uint8_t>& reply, bool multipleItem, void* out, size_t outSize);

// KSMULTIPLE_ITEM header followed by count items of itemSize bytes.
std::vector<uint8_t> multipleItemReply(const void* items, uint32_t itemSize, uint32_t count);

// The reply bytes of one pin property (faults applied), or false when the pin does not
// support it. currentInstances is the pin's live instance count.
bool pinPropertyReply(const PinSpec& pin, uint32_t propertyId, uint32_t currentInstances,
                      std::vector<uint8_t>& reply, bool& multipleItem);

// One IOCTL_KS_PROPERTY request sent to the filter handle. currentInstances has one
// entry per pin (missing entries count as 0).
Reply answerFilterProperty(const FilterSpec& filter, const std::vector<uint32_t>& currentInstances,
                           const void* in, size_t inSize, void* out, size_t outSize);

}  // namespace tess::vdac
