// Hostile property requests and connect formats against the device model: every reply
// stays inside the caller's buffer and every format read inside the record.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "ConnectFormat.h"
#include "FilterSpec.h"
#include "PropertyModel.h"

using namespace tess::vdac;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const uint8_t mode = data[0];
  const size_t outSize = size_t{data[1]} << (data[2] & 3);  // up to 2 KiB
  data += 3;
  size -= 3;
  static const FilterSpec base = buildDacFilter(RangeShape{}, false, 0x1209, 0x0007);
  FilterSpec filter = base;
  const ReplyFault faults[] = {ReplyFault::None, ReplyFault::RangeSizeBelow88, ReplyFault::RangeSizeZero,
                               ReplyFault::RangePastReply, ReplyFault::ItemCountBeyondReply,
                               ReplyFault::NameWithoutTerminator};
  for (PinSpec& pin : filter.pins) pin.fault = faults[(mode >> 1) % 6];
  filter.topologyShorterThanCount = mode & 0x80;

  if (mode & 1) {
    // The request exactly as large as the input, the output exactly as large as asked.
    std::unique_ptr<uint8_t[]> in(new uint8_t[size]);
    std::memcpy(in.get(), data, size);
    std::unique_ptr<uint8_t[]> out(outSize ? new uint8_t[outSize] : nullptr);
    Reply r = answerFilterProperty(filter, {1, 0, 0, 1}, in.get(), size, out.get(), outSize);
    if (r.error == kErrSuccess && r.bytes > outSize) __builtin_trap();
  } else {
    std::unique_ptr<uint8_t[]> format(new uint8_t[size]);
    std::memcpy(format.get(), data, size);
    StreamFormat f;
    for (const PinSpec& pin : filter.pins) checkConnectFormat(pin, mode & 0x40, format.get(), size, f);
  }
  return 0;
}
