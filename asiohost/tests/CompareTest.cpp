#include <gtest/gtest.h>

#include "Compare.h"
#include "Signals.h"

namespace asiohost {
namespace {

std::vector<int32_t> sineFrames(size_t frames) {  // two channels, interleaved
  SignalSpec s;
  std::string error;
  auto sig = makeSignal(s, error);
  std::vector<int32_t> l(frames), r(frames), out;
  sig->renderPcm(0, l.data(), static_cast<int>(frames));
  sig->renderPcm(1, r.data(), static_cast<int>(frames));
  for (size_t i = 0; i < frames; ++i) out.insert(out.end(), {l[i], r[i] / 2});  // channels differ
  return out;
}

WavAudio playedWith(const std::vector<int32_t>& sent, size_t leadingSilence, int channels = 2) {
  WavAudio w;
  w.rate = 48000;
  w.channels = channels;
  w.samples.assign(leadingSilence * channels, 0);
  for (size_t f = 0; f < sent.size() / 2; ++f) {
    w.samples.push_back(sent[2 * f]);
    w.samples.push_back(sent[2 * f + 1]);
    for (int c = 2; c < channels; ++c) w.samples.push_back(77);
  }
  return w;
}

TEST(Compare, FindsTheStreamAfterPrimingAndReportsTheFirstDifference) {
  const std::vector<int32_t> sent = sineFrames(4800);
  WavAudio played = playedWith(sent, 960);
  Comparison c = comparePlayed(sent, 2, {0, 1}, played, 48000);
  EXPECT_TRUE(c.aligned);
  EXPECT_TRUE(c.bitExact) << c.summary();
  EXPECT_EQ(c.offsetFrames, 960u);
  EXPECT_EQ(c.comparedFrames, 4800u);

  played.samples[(960 + 3000) * 2 + 1] ^= 0x100;
  c = comparePlayed(sent, 2, {0, 1}, played, 48000);
  EXPECT_FALSE(c.bitExact);
  EXPECT_EQ(c.firstDifferentFrame, 3000u);
  EXPECT_EQ(c.differentChannel, 1);
  EXPECT_NE(c.summary().find("differs at frame 3000 channel 1"), std::string::npos);

  EXPECT_EQ(c.glitches, 1u);
  EXPECT_EQ(c.glitchFrames, 1u);

  // A period of silence the device played in the middle, and frames it never played:
  // two glitches, and the frames they involve.
  std::vector<int32_t> ramp(2 * 4800);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<int32_t>(i + 1) << 8;
  WavAudio gapped = playedWith(ramp, 960);
  gapped.samples.insert(gapped.samples.begin() + (960 + 2000) * 2, 480 * 2, 0);
  gapped.samples.erase(gapped.samples.begin() + (960 + 480 + 4000) * 2, gapped.samples.begin() + (960 + 480 + 4100) * 2);
  c = comparePlayed(ramp, 2, {0, 1}, gapped, 48000);
  EXPECT_TRUE(c.aligned);
  EXPECT_FALSE(c.bitExact);
  EXPECT_EQ(c.glitches, 2u) << c.summary();
  EXPECT_EQ(c.glitchFrames, 580u) << c.summary();

  // Swapped channels are not the stream; a channel map picks the right columns of a wider file.
  EXPECT_FALSE(comparePlayed(sent, 2, {1, 0}, playedWith(sent, 10), 48000).aligned);
  WavAudio four = playedWith(sent, 10, 4);
  EXPECT_TRUE(comparePlayed(sent, 2, {0, 1}, four, 48000).bitExact);
  EXPECT_FALSE(comparePlayed(sent, 2, {0, 5}, four, 48000).aligned);
}

TEST(Compare, LoopbackMarkersGiveTheRoundTrip) {
  const uint32_t rate = 1000;
  std::vector<int32_t> captured(3500, 0);
  for (size_t m : {100u, 1100u, 2100u}) captured[m + 37] = 0x40000000;  // markers of markerTiming(1000)
  captured[1100 + 37] = 0;
  captured[1100 + 39] = -0x40000000;  // polarity does not matter
  const LoopbackLatency l = measureLoopback(captured.data(), captured.size(), rate, 3000);
  EXPECT_EQ(l.markersSent, 3u);
  EXPECT_EQ(l.markersFound, 3u);
  EXPECT_EQ(l.minFrames, 37);
  EXPECT_EQ(l.maxFrames, 39);
  EXPECT_DOUBLE_EQ(l.medianFrames, 37);
  EXPECT_EQ(measureLoopback(std::vector<int32_t>(3500, 0).data(), 3500, rate, 3000).markersFound, 0u);
}

}  // namespace
}  // namespace asiohost
