// Sample type choice, containers, carriers and silence.
#include <gtest/gtest.h>

#include <vector>

#include "SampleFormat.h"

namespace tess::fmt {
namespace {

TEST(SampleFormat, AsioTypeMatchesTheDeviceLayout) {
  struct Case {
    uint32_t width, rate;
    ASIOSampleType type;
  };
  for (Case c : {Case{16, 44100, ASIOSTInt16LSB}, Case{24, 96000, ASIOSTInt24LSB},
                 Case{32, 384000, ASIOSTInt32LSB}, Case{20, 48000, ASIOSTInt16LSB},
                 Case{0, 48000, ASIOSTInt16LSB}, Case{16, kDsd64, ASIOSTDSDInt8MSB1},
                 Case{32, kDsd128, ASIOSTDSDInt8MSB1}, Case{24, kDsd256, ASIOSTDSDInt8MSB1}}) {
    EXPECT_EQ(asioSampleType(c.width, c.rate), c.type) << c.width << " bits at " << c.rate;
  }
}

TEST(SampleFormat, DsdRidesOn32BitCarriers) {
  struct Case {
    uint32_t asioRate, pin;
  };
  for (Case c : {Case{kDsd64, 88200}, Case{kDsd128, 176400}, Case{kDsd256, 352800}}) {
    EXPECT_EQ(pinRate(c.asioRate), c.pin);
    EXPECT_EQ(deviceWidth(24, c.asioRate), 32u);
  }
  EXPECT_EQ(pinRate(44100), 44100u);
  EXPECT_EQ(deviceWidth(24, 44100), 24u);
  EXPECT_EQ(containerBytes(16), 2u);
  EXPECT_EQ(containerBytes(24), 3u);
  EXPECT_EQ(containerBytes(32), 4u);
  EXPECT_EQ(containerBytes(8), 0u);
}

TEST(SampleFormat, TwentyFourIn32WidensOnly24BitPcm) {
  struct Case {
    uint32_t width, rate, container, valid;
  };
  for (Case c : {Case{24, 96000, 32, 24}, Case{16, 44100, 16, 16}, Case{32, 48000, 32, 32},
                 Case{24, kDsd64, 32, 32}}) {
    EXPECT_EQ(deviceWidth(c.width, c.rate, true), c.container) << c.width << " bits at " << c.rate;
    EXPECT_EQ(deviceValidBits(c.width, c.rate, true), c.valid) << c.width << " bits at " << c.rate;
  }
  EXPECT_EQ(deviceValidBits(24, 96000), 24u);
  EXPECT_EQ(asioSampleType(deviceWidth(24, 96000, true), 96000), ASIOSTInt32LSB);
}

TEST(SampleFormat, SilenceIsZeroForPcmAnd69ForDsd) {
  std::vector<uint8_t> p(37, 0xEE);
  fillSilence(p.data(), p.size(), false);
  EXPECT_EQ(p, std::vector<uint8_t>(37, 0x00));
  fillSilence(p.data(), p.size(), true);
  EXPECT_EQ(p, std::vector<uint8_t>(37, 0x69));
  fillSilence(nullptr, 10, true);  // harmless
}

// During the first three switches an unwritten (all-zero) DSD packet goes out as silence;
// a packet with any data in it is left alone, however it begins.
TEST(SampleFormat, UnwrittenDsdPacketsBecomeSilenceEarlyOnly) {
  for (size_t size : {size_t{1}, size_t{8}, size_t{63}, size_t{64}, size_t{512}, size_t{515}}) {
    std::vector<uint8_t> zero(size, 0);
    EXPECT_TRUE(fillDsdSilenceIfUnwritten(zero.data(), zero.size(), 0)) << size;
    EXPECT_EQ(zero, std::vector<uint8_t>(size, 0x69));

    std::vector<uint8_t> late(size, 0);
    EXPECT_FALSE(fillDsdSilenceIfUnwritten(late.data(), late.size(), 3)) << size;
    EXPECT_EQ(late, std::vector<uint8_t>(size, 0));

    std::vector<uint8_t> data(size, 0);
    data.back() = 0x96;  // audio that starts with zero bytes
    EXPECT_FALSE(fillDsdSilenceIfUnwritten(data.data(), data.size(), 2)) << size;
    EXPECT_EQ(data.back(), 0x96);
    EXPECT_EQ(data.front(), size == 1 ? 0x96 : 0x00);
  }
  EXPECT_FALSE(fillDsdSilenceIfUnwritten(nullptr, 8, 0));
}

}  // namespace
}  // namespace tess::fmt
