// The driver object's pure rules: buffer sizes, width and rate choice, names, `future`.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "DriverRules.h"

using namespace tess;
using namespace tess::drv;

TEST(DriverRules, BufferSizesFollowTheRate) {
  struct Case {
    uint32_t rate;
    BufferSizes expected;
  } cases[] = {
      {44100, {88, 26460, 441, 44}},
      {48000, {96, 28800, 480, 48}},
      {384000, {768, 230400, 3840, 384}},
      {32000, {64, 19200, 320, 32}},
  };
  for (const Case& c : cases) {
    BufferSizes s = bufferSizes(c.rate, c.rate, kDefaultDuration);
    EXPECT_EQ(s.minSize, c.expected.minSize) << c.rate;
    EXPECT_EQ(s.maxSize, c.expected.maxSize) << c.rate;
    EXPECT_EQ(s.preferred, c.expected.preferred) << c.rate;
    EXPECT_EQ(s.granularity, c.expected.granularity) << c.rate;
  }
  EXPECT_EQ(bufferSizes(44100, 44100, 50000).preferred, 220);  // 5 ms
  EXPECT_EQ(bufferSizes(48000, 48000, 10000).preferred, 96);    // 1 ms: no shorter than min
  EXPECT_EQ(bufferSizes(48000, 48000, 10000000).preferred, 28800);  // 1 s: no longer than max
}

TEST(DriverRules, DsdRatesHaveFixedBufferSizes) {
  struct Case {
    uint32_t dsd, carrier;
    BufferSizes expected;
  } cases[] = {
      {kDsd64, 88200, {28224, 282240, 28224, 28224}},
      {kDsd128, 176400, {56448, 564480, 56448, 56448}},
      {kDsd256, 352800, {112896, 1128960, 112896, 112896}},
  };
  for (const Case& c : cases) {
    BufferSizes s = bufferSizes(c.carrier, c.dsd, kDefaultDuration);
    EXPECT_EQ(std::memcmp(&s, &c.expected, sizeof s), 0) << c.dsd;
  }
}

TEST(DriverRules, FramesOfDurationDoNotOverflow) {
  EXPECT_EQ(framesOfDuration(384000, UINT64_MAX / 384000), INT32_MAX);
  EXPECT_EQ(framesOfDuration(0, kDefaultDuration), 0);
}

TEST(DriverRules, WidthChoice) {
  EXPECT_EQ(chooseWidth(24, 0xE), 24u);
  EXPECT_EQ(chooseWidth(24, 0xA), 32u);  // 24 not supported: the widest
  EXPECT_EQ(chooseWidth(0, 0x6), 24u);
  EXPECT_EQ(chooseWidth(20, 0xE), 32u);
  EXPECT_EQ(chooseWidth(32, 0x2), 16u);
  EXPECT_EQ(widestWidth(0x1), 8u);
  EXPECT_EQ(widestWidth(0x0), 0u);
  EXPECT_EQ(widestWidth(0xF0), 0u);
}

TEST(DriverRules, RateChoiceNeedsBothDirections) {
  RateValidity v{};
  EXPECT_EQ(choosePcmRate(44100, v), 0u);
  EXPECT_EQ(supportedRatesMask(v), 0u);
  for (int i = 1; i < kRateCount; ++i) v.render[i] = true;  // render from 44100
  for (int i = 0; i < 6; ++i) v.capture[i] = true;         // capture up to 176400
  EXPECT_EQ(choosePcmRate(96000, v), 96000u);
  EXPECT_EQ(choosePcmRate(384000, v), 44100u);  // capture lacks it: first common rate
  EXPECT_EQ(choosePcmRate(32000, v), 44100u);
  EXPECT_EQ(choosePcmRate(12345, v), 44100u);
  EXPECT_EQ(supportedRatesMask(v), 0x3Eu);
}

TEST(DriverRules, RatesFromTheHost) {
  EXPECT_EQ(rateFromAsio(44100.0), 44100u);
  EXPECT_EQ(rateFromAsio(11289600.0), 11289600u);
  EXPECT_EQ(rateFromAsio(44100.5), 0u);
  EXPECT_EQ(rateFromAsio(-48000.0), 0u);
  EXPECT_EQ(rateFromAsio(0.0), 0u);
  EXPECT_EQ(rateFromAsio(1e300), 0u);
  EXPECT_EQ(rateFromAsio(std::nan("")), 0u);
}

TEST(DriverRules, ChannelNames) {
  char name[32];
  channelName(name, "Tessaline USB 2", false, 0);
  EXPECT_STREQ(name, "Tessaline USB 2_O_L");
  channelName(name, "Tessaline USB 2", false, 1);
  EXPECT_STREQ(name, "Tessaline USB 2_O_R");
  channelName(name, "Tessaline USB 2", true, 5);
  EXPECT_STREQ(name, "Tessaline USB 2_I_R");
  std::string longName(100, 'x');
  channelName(name, longName.c_str(), true, 0);
  EXPECT_EQ(std::strlen(name), 31u);
}

TEST(DriverRules, FutureSelectors) {
  FutureState state;
  const FeatureFlags& f = kOfferedFeatures;
  EXPECT_EQ(futureSelector(kAsioEnableTimeCodeRead, nullptr, f, state), ASE_NotPresent);
  EXPECT_EQ(futureSelector(kAsioDisableTimeCodeRead, nullptr, f, state), ASE_NotPresent);
  for (int32_t s = kAsioSetInputMonitor; s <= kAsioGetOutputMeter; ++s)
    EXPECT_EQ(futureSelector(s, nullptr, f, state), ASE_NotPresent) << s;
  EXPECT_EQ(futureSelector(kAsioCanInputMonitor, nullptr, f, state), ASE_NotPresent);
  EXPECT_EQ(futureSelector(kAsioCanTimeInfo, nullptr, f, state), ASE_SUCCESS);
  for (int32_t s = kAsioCanTimeCode; s <= kAsioCanOutputMeter; ++s)
    EXPECT_EQ(futureSelector(s, nullptr, f, state), ASE_NotPresent) << s;
  EXPECT_EQ(futureSelector(kAsioCanDoIoFormat, nullptr, f, state), ASE_SUCCESS);
  EXPECT_EQ(futureSelector(12345, nullptr, f, state), ASE_InvalidParameter);

  FeatureFlags withTimeCode = f;
  withTimeCode.canTimeCode = true;
  EXPECT_EQ(futureSelector(kAsioEnableTimeCodeRead, nullptr, withTimeCode, state), ASE_SUCCESS);
  EXPECT_TRUE(state.timeCodeRead);
  EXPECT_EQ(futureSelector(kAsioCanTimeCode, nullptr, withTimeCode, state), ASE_SUCCESS);
}

TEST(DriverRules, IoFormatSelectors) {
  FutureState state;
  ASIOIoFormat io{};
  io.FormatType = kASIODSDFormat;
  EXPECT_EQ(futureSelector(kAsioSetIoFormat, &io, kOfferedFeatures, state), ASE_SUCCESS);
  io.FormatType = 77;
  EXPECT_EQ(futureSelector(kAsioGetIoFormat, &io, kOfferedFeatures, state), ASE_SUCCESS);
  EXPECT_EQ(io.FormatType, kASIODSDFormat);
  io.FormatType = 2;
  EXPECT_EQ(futureSelector(kAsioSetIoFormat, &io, kOfferedFeatures, state), ASE_NotPresent);
  EXPECT_EQ(io.FormatType, -1);
  EXPECT_EQ(state.ioFormat, kASIODSDFormat);
  EXPECT_EQ(futureSelector(kAsioSetIoFormat, nullptr, kOfferedFeatures, state), ASE_InvalidParameter);
  EXPECT_EQ(futureSelector(kAsioGetIoFormat, nullptr, kOfferedFeatures, state), ASE_InvalidParameter);
}

TEST(DriverRules, DevicePaths) {
  struct Case {
    const char* path;
    bool match;
    uint16_t pid;
  } cases[] = {
      {"\\\\?\\usb#vid_1209&pid_0007&mi_01#7&1&0#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\global", true, 7},
      {"\\\\?\\USB#VID_1209&PID_0008&MI_01#x", true, 8},
      {"\\\\?\\USB#VID_1209&PID_0007#x", false, 0},     // no interface marker
      {"\\\\?\\USB#VID_1209&PID_0009&MI_01#x", false, 0},  // another product
      {"\\\\?\\USB#VID_046D&PID_0007&MI_01#x", false, 0},  // another vendor
      {"\\\\?\\USB#VID_12&PID_0007&MI_01", false, 0},      // too few digits
      {"", false, 0},
      {nullptr, false, 0},
  };
  for (const Case& c : cases) {
    uint16_t vid = 0, pid = 0;
    EXPECT_EQ(matchDevicePath(c.path, vid, pid), c.match) << (c.path ? c.path : "null");
    if (c.match) {
      EXPECT_EQ(vid, 0x1209);
      EXPECT_EQ(pid, c.pid);
    }
  }
  std::string longPath(300, 'A');
  longPath += "VID_1209&PID_0007&MI_01";  // beyond the 259 characters looked at
  uint16_t vid = 0, pid = 0;
  EXPECT_FALSE(matchDevicePath(longPath.c_str(), vid, pid));
}
