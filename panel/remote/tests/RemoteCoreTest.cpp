// The remote page's portable rules: address text, the adapter table, the slot ring.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "AdapterTable.h"
#include "DatagramSlots.h"
#include "Ipv4Text.h"

namespace remote {
namespace {

// A synthetic adapter list in the system's fixed-width fields.
struct FakeAdapter {
  char address[16] = {};
  char mask[16] = {};
  uint32_t type = 6;
  char description[132] = {};

  FakeAdapter(const char* a, const char* m, const char* d) {
    std::strncpy(address, a, sizeof address);
    std::strncpy(mask, m, sizeof mask);
    std::strncpy(description, d, sizeof description);
  }
  RawAdapter raw() const {
    return RawAdapter{address, sizeof address, mask, sizeof mask, type, description, sizeof description};
  }
};

TEST(Ipv4Text, DottedQuadsStrictly) {
  struct Case {
    const char* text;
    bool valid;
    uint8_t a = 0, b = 0, c = 0, d = 0;
  };
  const Case cases[] = {
      {"192.168.1.20", true, 192, 168, 1, 20},
      {"0.0.0.0", true, 0, 0, 0, 0},
      {"255.255.255.255", true, 255, 255, 255, 255},
      {"127.0.0.1", true, 127, 0, 0, 1},
      {"", false},
      {"256.1.1.1", false},
      {"1.2.3", false},
      {"1.2.3.4.5", false},
      {"1.2.3.4 ", false},
      {" 1.2.3.4", false},
      {"1..3.4", false},
      {"010.0.0.1", false},  // octal to some readers
      {"0x7f.0.0.1", false},
      {"1.2.3.1234", false},
      {"1.2.3.-4", false},
      {"a.b.c.d", false},
      {"127.1", false},
  };
  for (const Case& c : cases) {
    const auto parsed = parseDottedQuad(c.text, std::strlen(c.text) + 1);
    ASSERT_EQ(parsed.has_value(), c.valid) << c.text;
    if (c.valid) EXPECT_EQ(*parsed, fromOctets(c.a, c.b, c.c, c.d)) << c.text;
  }
  // A field that fills its capacity without a NUL ends at the capacity, not beyond.
  const char unterminated[7] = {'1', '.', '2', '.', '3', '.', '4'};
  EXPECT_EQ(parseDottedQuad(unterminated, sizeof unterminated), fromOctets(1, 2, 3, 4));
  EXPECT_FALSE(parseDottedQuad(unterminated, 6).has_value());
  EXPECT_FALSE(parseDottedQuad(nullptr, 16).has_value());
}

TEST(Ipv4Text, ByteOrdersFormatAndBroadcast) {
  const NetAddress a = fromOctets(192, 168, 1, 20);
  uint8_t octets[4];
  toOctets(a, octets);
  EXPECT_EQ(octets[0], 192);
  EXPECT_EQ(octets[3], 20);
  EXPECT_EQ(toHostOrder(a), 0xC0A80114u);
  EXPECT_EQ(fromHostOrder(0xC0A80114u), a);
  EXPECT_EQ(formatDottedQuad(a), "192.168.1.20");

  EXPECT_EQ(directedBroadcast(a, fromOctets(255, 255, 255, 0)), fromOctets(192, 168, 1, 255));
  EXPECT_EQ(directedBroadcast(loopbackAddress(), fromOctets(255, 0, 0, 0)), fromOctets(127, 255, 255, 255));
  EXPECT_EQ(directedBroadcast(fromOctets(10, 1, 2, 3), fromOctets(255, 255, 252, 0)), fromOctets(10, 1, 3, 255));
  EXPECT_EQ(directedBroadcast(a, 0), fromOctets(255, 255, 255, 255)) << "no mask: everyone";
}

TEST(Ipv4Text, PortText) {
  EXPECT_EQ(parsePort("5566"), 5566);
  EXPECT_EQ(parsePort(" 65535 "), 65535);
  EXPECT_EQ(parsePort("1"), 1);
  for (const char* bad : {"", " ", "0", "65536", "99999999999999999999", "-1", "55 66", "0x15", "12a"})
    EXPECT_FALSE(parsePort(bad).has_value()) << bad;
}

TEST(AdapterTable, TwentyAdaptersKeepTheFirstSixteenUsableInOrder) {
  std::vector<FakeAdapter> list;
  for (int i = 0; i < 20; ++i) {
    const std::string address = "10.0." + std::to_string(i) + ".1";
    const std::string description = "Adapter " + std::to_string(i);
    list.emplace_back(i == 3 ? "0.0.0.0" : address.c_str(), "255.255.255.0", description.c_str());
    list.back().type = 6 + static_cast<uint32_t>(i);
  }
  AdapterTable table;
  std::vector<AdapterOutcome> outcomes;
  for (const FakeAdapter& a : list) outcomes.push_back(table.Add(a.raw()));

  ASSERT_EQ(table.Count(), kMaxAdapterRows);
  EXPECT_EQ(outcomes[3], AdapterOutcome::NoAddress);
  EXPECT_EQ(outcomes[16], AdapterOutcome::Added) << "the skipped adapter takes no row";
  EXPECT_EQ(outcomes[17], AdapterOutcome::TableFull);
  EXPECT_EQ(outcomes[19], AdapterOutcome::TableFull);
  EXPECT_STREQ(table.Row(2).description, "Adapter 2");
  EXPECT_STREQ(table.Row(3).description, "Adapter 4");
  EXPECT_EQ(table.Row(3).address, fromOctets(10, 0, 4, 1));
  EXPECT_EQ(table.Row(3).mask, fromOctets(255, 255, 255, 0));
  EXPECT_EQ(table.Row(3).type, 10u);
  EXPECT_STREQ(table.Row(15).description, "Adapter 16");

  table.Clear();
  EXPECT_EQ(table.Count(), 0u);
}

TEST(AdapterTable, MalformedAddressesAndLongDescriptions) {
  AdapterTable table;
  EXPECT_EQ(table.Add(FakeAdapter("192.168.1.300", "255.255.255.0", "bad address").raw()), AdapterOutcome::Malformed);
  EXPECT_EQ(table.Add(FakeAdapter("192.168.1.2", "255.255.0", "bad mask").raw()), AdapterOutcome::Malformed);
  EXPECT_EQ(table.Add(FakeAdapter("", "", "empty").raw()), AdapterOutcome::Malformed);
  EXPECT_EQ(table.Add(FakeAdapter("0.0.0.0", "garbage", "not connected").raw()), AdapterOutcome::NoAddress);
  EXPECT_EQ(table.Count(), 0u);

  // Fields that fill their capacity without a terminator.
  FakeAdapter full("1.2.3.4", "255.0.0.0", "");
  std::memset(full.description, 'D', sizeof full.description);
  std::memset(full.address, '7', sizeof full.address);
  EXPECT_EQ(table.Add(full.raw()), AdapterOutcome::Malformed);
  std::strcpy(full.address, "1.2.3.4");
  EXPECT_EQ(table.Add(full.raw()), AdapterOutcome::Added);
  EXPECT_EQ(std::strlen(table.Row(0).description), kDescriptionChars);

  const FakeAdapter plain("1.2.3.5", "255.0.0.0", "");
  RawAdapter noDescription = plain.raw();
  noDescription.description = nullptr;
  EXPECT_EQ(table.Add(noDescription), AdapterOutcome::Added);
  EXPECT_STREQ(table.Row(1).description, "");
}

TEST(NetworkSetting, SelectedRowOnlyWithinTheTable) {
  NetworkSetting setting;
  EXPECT_EQ(setting.port, 5566);
  EXPECT_EQ(setting.Selected(), nullptr);
  setting.adapters.Add(FakeAdapter("192.168.1.20", "255.255.255.0", "eth").raw());
  ASSERT_NE(setting.Selected(), nullptr);
  EXPECT_EQ(setting.Selected()->address, fromOctets(192, 168, 1, 20));
  setting.selectedRow = 1;
  EXPECT_EQ(setting.Selected(), nullptr);
}

TEST(DatagramSlots, CutPadAndWrap) {
  std::vector<uint8_t> buffer(kSlotBufferSize + 64, 0xEE);  // guard bytes after the ring
  DatagramSlots slots(buffer.data());
  std::vector<uint32_t> indices;
  for (int n = 0; n < 9; ++n) {
    DatagramSlots::Target t = slots.Prepare();
    for (std::size_t i = 0; i < kSlotSize; ++i) ASSERT_EQ(t.address[i], 0) << "prepared slot is clear";
    // The receive writes more than it reports (as a truncating receive does).
    std::memset(t.address, 0xA0 + n, kSlotAddressBytes);
    std::memset(t.payload, 0x30 + n, kSlotPayloadCapacity);
    const std::size_t reported = n == 1 ? 1500 : static_cast<std::size_t>(n * 100);
    const DatagramSlots::Delivery d = slots.Commit(n == 2 ? 8 : 16, reported);
    indices.push_back(d.index);
    EXPECT_EQ(d.slot, t.address);
    EXPECT_EQ(d.payloadLength, std::min<std::size_t>(reported, kSlotPayloadCapacity));
    for (std::size_t i = 0; i < kSlotPayloadOffset; ++i)
      ASSERT_EQ(d.slot[i], i < (n == 2 ? 8u : 16u) ? 0xA0 + n : 0) << n << " byte " << i;
    for (std::size_t i = 0; i < kSlotPayloadCapacity; ++i)
      ASSERT_EQ(d.slot[kSlotPayloadOffset + i], i < d.payloadLength ? 0x30 + n : 0) << n << " payload " << i;
  }
  EXPECT_EQ(indices, (std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 6, 7, 0}));
  EXPECT_EQ(slots.NextIndex(), 1u);
  for (std::size_t i = kSlotBufferSize; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xEE) << "past the ring";
}

}  // namespace
}  // namespace remote
