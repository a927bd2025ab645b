#include <gtest/gtest.h>

#include "Asio.h"
#include "DeviceTable.h"
#include "SampleRates.h"
#include "SystemClass.h"

namespace tess {
namespace {

TEST(SystemClass, Table) {
  struct Case {
    uint32_t major, minor;
    bool server;
    ProcessorArch arch;
    int expected;
    bool x86;
  } cases[] = {
      {5, 1, false, ProcessorArch::X86, 0, true},
      {5, 2, false, ProcessorArch::X64, 0, true},  // XP x64; x86 flag always set on 5.x
      {5, 2, false, ProcessorArch::X86, 1, true},
      {5, 2, true, ProcessorArch::X64, 1, true},
      {6, 0, false, ProcessorArch::X64, 2, false},
      {6, 0, true, ProcessorArch::X86, 3, true},
      {6, 1, false, ProcessorArch::X86, 4, true},
      {6, 1, true, ProcessorArch::Itanium, 5, false},
      {6, 2, false, ProcessorArch::X64, 6, false},
      {6, 2, true, ProcessorArch::X64, 8, false},
      {6, 3, false, ProcessorArch::X64, 7, false},
      {6, 3, true, ProcessorArch::X64, 9, false},
      {10, 0, false, ProcessorArch::X64, 10, false},
      {10, 0, true, ProcessorArch::X64, 11, false},
      {5, 0, false, ProcessorArch::X86, 12, true},
      {6, 4, false, ProcessorArch::X64, 12, false},
  };
  for (const Case& c : cases) {
    SystemVersionInfo v;
    v.queryOk = true;
    v.platformNt = true;
    v.major = c.major;
    v.minor = c.minor;
    v.server = c.server;
    v.arch = c.arch;
    v.build = 1234;
    SystemClass r = classifySystem(v);
    SCOPED_TRACE(testing::Message() << c.major << "." << c.minor << (c.server ? " server" : ""));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.systemClass, c.expected);
    EXPECT_EQ(r.x86, c.x86);
    EXPECT_EQ(r.build, 1234u);
  }
}

TEST(SystemClass, FailuresAndGroups) {
  SystemVersionInfo v;
  v.queryOk = true;
  v.platformNt = true;
  v.major = 4;
  EXPECT_FALSE(classifySystem(v).ok);
  v.major = 10;
  v.platformNt = false;
  EXPECT_FALSE(classifySystem(v).ok);
  v.platformNt = true;
  v.queryOk = false;
  EXPECT_FALSE(classifySystem(v).ok);

  v.queryOk = true;
  v.build = 15063;
  EXPECT_TRUE(isWin10Creators(classifySystem(v)));
  v.build = 14393;
  EXPECT_FALSE(isWin10Creators(classifySystem(v)));
  EXPECT_TRUE(isEndpointCapable(2));
  EXPECT_TRUE(isEndpointCapable(11));
  EXPECT_FALSE(isEndpointCapable(12));
  EXPECT_FALSE(isEndpointCapable(1));
}

TEST(DeviceTable, ParsesIdentityFromPaths) {
  const SupportedDevice& d = kSupportedDevices[0];
  UsbIdentity id = parseUsbIdentity("\\\\?\\usb#vid_1209&pid_0007&mi_01#7&1a&0&0001#{6994ad04}");
  EXPECT_TRUE(id.hasVendor && id.hasProduct && id.hasInterface);
  EXPECT_EQ(id.vendorId, d.vendorId);
  EXPECT_EQ(id.productId, d.productId);
  EXPECT_EQ(id.interfaceNumber, 1);
  EXPECT_NE(findSupportedDevice(id.vendorId, id.productId), nullptr);
  EXPECT_NE(findSupportedInterface(id.vendorId, id.productId, 1), nullptr);
  EXPECT_EQ(findSupportedInterface(id.vendorId, id.productId, 0), nullptr);

  EXPECT_FALSE(parseUsbIdentity("USB#VID_12").hasVendor);        // too few digits
  EXPECT_FALSE(parseUsbIdentity("USB#VID_12G9&PID_0007").hasVendor);
  EXPECT_FALSE(parseUsbIdentity("USB#VID_1209&PID_0007").hasInterface);
  EXPECT_FALSE(parseUsbIdentity(nullptr).hasVendor);
  char unterminated[8] = {'V', 'I', 'D', '_', '1', '2', '0', '9'};
  EXPECT_TRUE(parseUsbIdentity(unterminated, sizeof unterminated).hasVendor);
  EXPECT_FALSE(parseUsbIdentity(unterminated, 7).hasVendor);
  EXPECT_EQ(findSupportedDevice(0x1209, 0x0009), nullptr);
}

TEST(SampleRates, TablesAndMasks) {
  EXPECT_EQ(rateIndex(44100), 1);
  EXPECT_EQ(rateIndex(384000), 8);
  EXPECT_EQ(rateIndex(22050), -1);
  EXPECT_EQ(dsdCarrierRate(kDsd64), 88200u);
  EXPECT_EQ(dsdCarrierRate(kDsd128), 176400u);
  EXPECT_EQ(dsdCarrierRate(kDsd256), 352800u);
  EXPECT_EQ(dsdCarrierRate(44100), 0u);
  EXPECT_EQ(panelRateMaskFromDriver(1u << 0), 1u << 8);  // 32000
  EXPECT_EQ(panelRateMaskFromDriver(1u << 8), 1u << 0);  // 384000
  EXPECT_EQ(panelWidthMaskFromDriver(widthBit(16) | widthBit(32)), 5u);
}

TEST(AsioAbi, SamplesRoundTrip) {
  EXPECT_EQ(asioToU64(asioFromU64(0x123456789abcdefULL)), 0x123456789abcdefULL);
  EXPECT_EQ(sizeof(ASIOTime), 148u);
}

}  // namespace
}  // namespace tess
