#include <gtest/gtest.h>

#include <cmath>

#include "Signals.h"

namespace asiohost {
namespace {

std::unique_ptr<Signal> make(SignalSpec s) {
  std::string error;
  auto sig = makeSignal(s, error);
  EXPECT_TRUE(sig) << error;
  return sig;
}

TEST(Signals, RenderingIsTheSameInAnyChunking) {
  for (SignalKind kind : {SignalKind::Sine, SignalKind::Dop, SignalKind::Marker}) {
    SignalSpec s;
    s.kind = kind;
    s.rate = kind == SignalKind::Dop ? 176400 : 48000;
    auto a = make(s), b = make(s);
    std::vector<int32_t> whole(9000), pieces(9000);
    a->renderPcm(1, whole.data(), 9000);
    for (int at = 0; at < 9000; at += 600) b->renderPcm(1, pieces.data() + at, 600);
    EXPECT_EQ(whole, pieces) << signalName(kind);
  }
}

TEST(Signals, SineHasItsLevelAndFrequency) {
  SignalSpec s;
  s.rate = 48000;
  s.frequency = 1000;
  s.levelDb = -6.0206;  // half scale
  auto sig = make(s);
  std::vector<int32_t> v(48);
  sig->renderPcm(0, v.data(), 48);
  EXPECT_EQ(v[0], 0);
  EXPECT_NEAR(v[12] / 2147483648.0, 0.5, 1e-4);  // quarter period
  EXPECT_NEAR(v[36] / 2147483648.0, -0.5, 1e-4);
}

TEST(Signals, DopCarriesAlternatingMarkersAcrossCalls) {
  SignalSpec s;
  s.kind = SignalKind::Dop;
  for (uint32_t rate : {176400u, 352800u}) {
    s.rate = rate;
    auto sig = make(s);
    std::vector<int32_t> v(7);
    int expected = 0;
    for (int call = 0; call < 3; ++call) {
      sig->renderPcm(0, v.data(), 7);  // odd count: the marker must continue across calls
      for (int32_t x : v) {
        EXPECT_EQ(static_cast<uint32_t>(x) >> 24, kDopMarkers[expected]) << rate;
        EXPECT_EQ(x & 0xFF, 0);
        expected ^= 1;
      }
    }
  }
}

TEST(Signals, NativeDsdIsABalancedBitStream) {
  SignalSpec s;
  s.kind = SignalKind::Dsd;
  s.rate = 2822400;
  auto sig = make(s);
  ASSERT_TRUE(sig->isDsd());
  std::vector<uint8_t> bytes(352800);  // one second
  sig->renderDsd(0, bytes.data(), bytes.size());
  long ones = 0;
  for (uint8_t b : bytes) ones += __builtin_popcount(b);
  EXPECT_NEAR(ones / (8.0 * bytes.size()), 0.5, 0.01);  // a sine averages to zero
}

TEST(Signals, MarkerAndWavPlacement) {
  SignalSpec s;
  s.kind = SignalKind::Marker;
  s.rate = 1000;
  auto sig = make(s);
  std::vector<int32_t> v(2200);
  sig->renderPcm(0, v.data(), 2200);
  for (size_t i = 0; i < v.size(); ++i) EXPECT_EQ(v[i] != 0, i == 100 || i == 1100 || i == 2100) << i;

  WavAudio mono;
  mono.rate = 48000;
  mono.channels = 1;
  mono.samples = {1, 2, 3};
  s.kind = SignalKind::Wav;
  s.wav = &mono;
  auto w = make(s);
  std::vector<int32_t> l(5), r(5);
  w->renderPcm(0, l.data(), 5);
  w->renderPcm(1, r.data(), 5);
  EXPECT_EQ(l, (std::vector<int32_t>{1, 2, 3, 0, 0}));
  EXPECT_EQ(r, l);  // a mono file feeds every channel
}

TEST(Signals, RefusesWhatCannotBePlayed) {
  struct Case {
    SignalKind kind;
    uint32_t rate;
    double frequency, level;
    const char* reason;
  } cases[] = {
      {SignalKind::Dop, 96000, 1000, -6, "176400 or 352800"},
      {SignalKind::Dsd, 88200, 1000, -6, "DSD rate"},
      {SignalKind::Sine, 48000, 30000, -6, "half the sample rate"},
      {SignalKind::Sine, 48000, 1000, 3, "at most 0 dBFS"},
      {SignalKind::Wav, 48000, 1000, -6, "no WAV"},
  };
  for (const Case& c : cases) {
    SignalSpec s;
    s.kind = c.kind;
    s.rate = c.rate;
    s.frequency = c.frequency;
    s.levelDb = c.level;
    std::string error;
    EXPECT_FALSE(makeSignal(s, error)) << c.reason;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace asiohost
