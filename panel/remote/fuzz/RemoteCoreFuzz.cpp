// Hostile adapter lists and datagram sizes: the adapter table never takes a malformed or empty
// address, never grows past 16 rows and always terminates its descriptions; the slot ring never
// writes past its buffer and keeps its layout whatever lengths a receive reports.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "AdapterTable.h"
#include "DatagramSlots.h"
#include "Ipv4Text.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

// Fields are copied into exactly-sized heap blocks so that a read past a capacity is caught.
void fuzzAdapterList(FuzzedDataProvider& in) {
  remote::AdapterTable table;
  const int adapters = in.ConsumeIntegralInRange<int>(0, 40);
  for (int i = 0; i < adapters && in.remaining_bytes() > 0; ++i) {
    std::vector<char> address = in.ConsumeBytes<char>(in.ConsumeIntegralInRange<std::size_t>(0, 16));
    std::vector<char> mask = in.ConsumeBytes<char>(in.ConsumeIntegralInRange<std::size_t>(0, 16));
    std::vector<char> description = in.ConsumeBytes<char>(in.ConsumeIntegralInRange<std::size_t>(0, 140));
    remote::RawAdapter raw{
        address.data(),     address.size(),    mask.data(), mask.size(), in.ConsumeIntegral<uint32_t>(),
        description.data(), description.size()};
    const std::size_t before = table.Count();
    const remote::AdapterOutcome outcome = table.Add(raw);
    if (outcome != remote::AdapterOutcome::Added) {
      check(table.Count() == before);
      continue;
    }
    check(table.Count() == before + 1 && table.Count() <= remote::kMaxAdapterRows);
    const remote::AdapterRow& row = table.Row(before);
    check(row.address != 0);
    check(remote::parseDottedQuad(remote::formatDottedQuad(row.address).c_str(), 16) == row.address);
    check(std::strlen(row.description) <= remote::kDescriptionChars);
  }
}

void fuzzSlots(FuzzedDataProvider& in) {
  std::vector<uint8_t> buffer(remote::kSlotBufferSize);
  remote::DatagramSlots slots(buffer.data());
  uint32_t expected = 0;
  while (in.remaining_bytes() > 0) {
    const remote::DatagramSlots::Target t = slots.Prepare();
    check(t.index == expected);
    const std::size_t written = in.ConsumeIntegralInRange<std::size_t>(0, remote::kSlotPayloadCapacity);
    std::memset(t.payload, 0x5A, written);
    std::memset(t.address, 0xA5, remote::kSlotAddressBytes);
    const std::size_t addressLength = in.ConsumeIntegralInRange<std::size_t>(0, 64);
    const std::size_t reported = in.ConsumeIntegralInRange<std::size_t>(0, 70000);
    const remote::DatagramSlots::Delivery d = slots.Commit(addressLength, reported);
    check(d.index == expected && d.slot == t.address);
    check(d.payloadLength <= remote::kSlotPayloadCapacity);
    for (std::size_t i = 16; i < remote::kSlotPayloadOffset; ++i) check(d.slot[i] == 0);
    for (std::size_t i = d.payloadLength; i < remote::kSlotPayloadCapacity; ++i)
      check(d.slot[remote::kSlotPayloadOffset + i] == 0);
    expected = (expected + 1) % remote::kSlotCount;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  if (in.ConsumeBool()) {
    fuzzAdapterList(in);
  } else {
    fuzzSlots(in);
  }
  // The address reader on the raw bytes, as an unterminated field.
  std::vector<char> text(data, data + size);
  const auto parsed = remote::parseDottedQuad(text.data(), text.size());
  if (parsed) check(remote::formatDottedQuad(*parsed).size() <= 15);
  return 0;
}
