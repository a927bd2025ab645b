// The Core Audio face's wave-format reading and exclusive-format rule, natively.
#include <gtest/gtest.h>

#include "CaFormats.h"

using namespace tess::vdac;
using namespace tess::vdac::ca;

TEST(CaFormats, ReadsExtensibleAndRefusesShortOrForeignRecords) {
  std::vector<uint8_t> f = extensibleFormat(2, 96000, 32, 24, false);
  WaveFields w;
  ASSERT_TRUE(parseWaveFormat(f.data(), f.size(), w));
  EXPECT_TRUE(w.extensible);
  EXPECT_EQ(w.tag, kTagPcm);
  EXPECT_EQ(w.containerBits, 32);
  EXPECT_EQ(w.validBits, 24);
  EXPECT_EQ(w.blockAlign, 8);
  EXPECT_EQ(w.bytesPerSecond, 768000u);
  EXPECT_EQ(w.channelMask, 3u);

  EXPECT_FALSE(parseWaveFormat(f.data(), 39, w));  // extension cut off
  EXPECT_FALSE(parseWaveFormat(f.data(), 15, w));
  EXPECT_FALSE(parseWaveFormat(nullptr, 40, w));
  std::vector<uint8_t> shortExtension = f;
  shortExtension[16] = 21;
  EXPECT_FALSE(parseWaveFormat(shortExtension.data(), shortExtension.size(), w));
  std::vector<uint8_t> foreign = f;  // a sub-format that is not a wave tag
  foreign[39] ^= 1;
  EXPECT_FALSE(parseWaveFormat(foreign.data(), foreign.size(), w));
  std::vector<uint8_t> plain(f.begin(), f.begin() + 16);
  plain[0] = 1;
  ASSERT_TRUE(parseWaveFormat(plain.data(), plain.size(), w));
  EXPECT_FALSE(w.extensible);
  EXPECT_EQ(w.validBits, 32);
}

TEST(CaFormats, ExclusiveRuleFollowsRangesAndWidthShapes) {
  EndpointFormats formats;
  formats.ranges.rates = {44100, 48000};
  formats.refusedRates = {44100};
  auto accepts = [&](uint32_t rate, uint32_t container, uint32_t valid) {
    WaveFields w;
    std::vector<uint8_t> f = extensibleFormat(2, rate, container, valid, false);
    return parseWaveFormat(f.data(), f.size(), w) && acceptsExclusive(formats, w);
  };
  EXPECT_TRUE(accepts(48000, 24, 24));
  EXPECT_FALSE(accepts(44100, 24, 24));  // refused rate
  EXPECT_FALSE(accepts(96000, 24, 24));  // not a listed rate
  formats.packed24 = false;
  EXPECT_FALSE(accepts(48000, 24, 24));
  EXPECT_TRUE(accepts(48000, 32, 24));
  formats.accepts24In32 = false;
  EXPECT_FALSE(accepts(48000, 32, 24));
  EXPECT_TRUE(accepts(48000, 32, 32));
  EXPECT_FALSE(accepts(48000, 32, 20));
  WaveFields floating;
  std::vector<uint8_t> f = extensibleFormat(2, 48000, 32, 32, true);
  ASSERT_TRUE(parseWaveFormat(f.data(), f.size(), floating));
  EXPECT_FALSE(acceptsExclusive(formats, floating));
}
