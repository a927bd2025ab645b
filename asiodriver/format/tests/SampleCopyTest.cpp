// Host <-> packet copies: bit-exact round trips at every width, layout of the packet frame,
// native DSD container byte order, short capture packets and hostile sizes. Buffers are
// sized exactly, so AddressSanitizer catches any access past them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "DopDetect.h"
#include "PacketMath.h"
#include "SampleCopy.h"
#include "SampleFormat.h"

namespace tess::fmt {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes pattern(size_t n, uint32_t seed) {
  Bytes b(n);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& v : b) {
    x = x * 1664525u + 1013904223u;
    v = static_cast<uint8_t>(x >> 24);
  }
  return b;
}

struct RoundTripCase {
  uint32_t sampleBytes;
  uint32_t channels;
  size_t frames;
};

class RoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, PacketHoldsHostSamplesInterleavedAndComesBackBitExact) {
  const auto [s, channels, frames] = GetParam();
  const size_t stride = size_t{channels} * s;
  std::vector<Bytes> host;
  std::vector<HostOutput> outs;
  for (uint32_t c = 0; c < channels; ++c) host.push_back(pattern(frames * s, c + 10 * s));
  for (uint32_t c = 0; c < channels; ++c) outs.push_back({host[c].data(), host[c].size(), c});

  Bytes packet(frames * stride, 0xEE);
  OutputCopy out = copyOutput({packet.data(), packet.size(), channels}, s, outs.data(), outs.size(),
                              false);
  EXPECT_EQ(out.frames, frames);
  EXPECT_EQ(out.channels, frames ? channels : 0u);
  EXPECT_EQ(out.dopScanned, 0u);
  for (size_t j = 0; j < frames; ++j)
    for (uint32_t c = 0; c < channels; ++c)
      for (uint32_t b = 0; b < s; ++b)
        ASSERT_EQ(packet[j * stride + c * s + b], host[c][j * s + b]) << "frame " << j << " ch " << c;

  std::vector<Bytes> back(channels, Bytes(frames * s, 0x11));
  std::vector<HostInput> ins;
  for (uint32_t c = 0; c < channels; ++c) ins.push_back({back[c].data(), back[c].size(), c});
  InputCopy in = copyInput({packet.data(), packet.size(), channels}, s, ins.data(), ins.size());
  EXPECT_EQ(in.frames, frames);
  EXPECT_EQ(in.channels, frames ? channels : 0u);
  for (uint32_t c = 0; c < channels; ++c) EXPECT_EQ(back[c], host[c]) << "channel " << c;
}

std::vector<RoundTripCase> roundTripCases() {
  std::vector<RoundTripCase> cases;
  for (uint32_t s : {2u, 3u, 4u})
    for (uint32_t ch : {1u, 2u, 3u, 8u})
      for (size_t f : {size_t{0}, size_t{1}, size_t{2}, size_t{3}, size_t{7}, size_t{256}, size_t{1001}})
        cases.push_back({s, ch, f});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Widths, RoundTrip, ::testing::ValuesIn(roundTripCases()),
                         [](const auto& info) {
                           return std::to_string(info.param.sampleBytes * 8) + "bit_" +
                                  std::to_string(info.param.channels) + "ch_" +
                                  std::to_string(info.param.frames) + "f";
                         });

// Channels given in any order, or only some of them: each lands at its index in the frame and
// the other samples of the frame are left as they were.
TEST(SampleCopy, ChannelsLandAtTheirIndexWhateverTheOrder) {
  for (uint32_t s : {2u, 3u, 4u}) {
    const size_t frames = 33;
    Bytes left = pattern(frames * s, 1), right = pattern(frames * s, 2);
    Bytes swapped(frames * 2 * s), inOrder(frames * 2 * s);
    HostOutput reversed[] = {{right.data(), right.size(), 1}, {left.data(), left.size(), 0}};
    HostOutput ordered[] = {{left.data(), left.size(), 0}, {right.data(), right.size(), 1}};
    copyOutput({swapped.data(), swapped.size(), 2}, s, reversed, 2, false);
    copyOutput({inOrder.data(), inOrder.size(), 2}, s, ordered, 2, false);
    EXPECT_EQ(swapped, inOrder) << s;

    Bytes partial(frames * 3 * s, 0xEE);
    HostOutput middle[] = {{right.data(), right.size(), 1}};
    OutputCopy out = copyOutput({partial.data(), partial.size(), 3}, s, middle, 1, false);
    EXPECT_EQ(out.channels, 1u);
    for (size_t j = 0; j < frames; ++j)
      for (uint32_t b = 0; b < s; ++b) {
        ASSERT_EQ(partial[j * 3 * s + b], 0xEE);
        ASSERT_EQ(partial[j * 3 * s + s + b], right[j * s + b]);
        ASSERT_EQ(partial[j * 3 * s + 2 * s + b], 0xEE);
      }
  }
}

// Native DSD: each 32-bit container carries four consecutive host DSD bytes unchanged, so
// the container read as a little-endian word has the first host byte lowest.
TEST(SampleCopy, NativeDsdContainersCarryFourConsecutiveHostBytes) {
  for (uint32_t rate : {kDsd64, kDsd128, kDsd256}) {
    const uint32_t bufferSize = 2048;
    const uint32_t width = deviceWidth(16, rate);  // forced to 32
    ASSERT_EQ(width, 32u);
    ASSERT_FALSE(dopDetectionApplies(width, pinRate(rate), /*nativeDsd=*/true));
    const uint32_t frames = packetFrames(bufferSize, rate);
    Bytes left(hostHalfBytes(bufferSize, width, rate)), right(left.size());
    for (size_t i = 0; i < left.size(); ++i) {
      left[i] = static_cast<uint8_t>(i);
      right[i] = static_cast<uint8_t>(0x80 | i);
    }
    Bytes packet(packetBytes(width, 2, frames));
    HostOutput outs[] = {{left.data(), left.size(), 0}, {right.data(), right.size(), 1}};
    OutputCopy out = copyOutput({packet.data(), packet.size(), 2}, containerBytes(width), outs, 2,
                                false);
    ASSERT_EQ(out.frames, frames);
    ASSERT_EQ(size_t{frames} * 4, left.size()) << "a container per four host bytes";
    for (uint32_t j = 0; j < frames; ++j) {
      uint32_t l = packet[8 * j] | packet[8 * j + 1] << 8 | packet[8 * j + 2] << 16 |
                   uint32_t{packet[8 * j + 3]} << 24;
      uint32_t expected = left[4 * j] | left[4 * j + 1] << 8 | left[4 * j + 2] << 16 |
                          uint32_t{left[4 * j + 3]} << 24;
      ASSERT_EQ(l, expected) << "frame " << j;
      for (int b = 0; b < 4; ++b) ASSERT_EQ(packet[8 * j + 4 + b], right[4 * j + b]);
    }
  }
}

// A capture packet that came back short fills only its whole frames; the rest of each host
// buffer keeps its previous content.
TEST(SampleCopy, ShortCapturePacketFillsOnlyItsFrames) {
  struct Case {
    uint32_t s, channels;
    size_t used;  // DataUsed of a packet of 100 frames
  };
  for (Case k : {Case{3, 2, 6 * 40}, Case{3, 2, 6 * 40 + 5}, Case{2, 2, 1}, Case{4, 1, 4 * 99 + 3},
                 Case{4, 3, 0}, Case{3, 2, 1 << 20} /* a reply claiming more than the packet */}) {
    const size_t stride = size_t{k.channels} * k.s, frames = 100;
    const size_t got = std::min(k.used, frames * stride) / stride;
    Bytes packet = pattern(frames * stride, 7);
    std::vector<Bytes> host(k.channels, Bytes(frames * k.s, 0x5A));
    std::vector<HostInput> ins;
    for (uint32_t c = 0; c < k.channels; ++c) ins.push_back({host[c].data(), host[c].size(), c});
    InputCopy in = copyInput({packet.data(), validCaptureBytes(k.used, packet.size()), k.channels},
                             k.s, ins.data(), ins.size());
    EXPECT_EQ(in.frames, got);
    for (uint32_t c = 0; c < k.channels; ++c)
      for (size_t i = 0; i < frames * k.s; ++i) {
        size_t j = i / k.s;
        uint8_t expected = j < got ? packet[j * stride + c * k.s + i % k.s] : 0x5A;
        ASSERT_EQ(host[c][i], expected) << "s " << k.s << " used " << k.used << " byte " << i;
      }
  }
}

// Bad arguments move nothing and touch nothing outside the buffers; a host buffer shorter
// than the packet bounds the copy, and so does a packet shorter than the host buffer.
TEST(SampleCopy, HostileSizesAndArgumentsStayInBounds) {
  Bytes host = pattern(30, 3), packet(60, 0xEE);
  const Bytes untouched = packet;
  HostOutput one[] = {{host.data(), host.size(), 0}};
  struct Bad {
    const char* what;
    RenderPacket packet;
    uint32_t s;
    HostOutput channel;
  };
  for (const Bad& b : {
           Bad{"sample bytes 0", {packet.data(), packet.size(), 2}, 0, one[0]},
           Bad{"sample bytes 1", {packet.data(), packet.size(), 2}, 1, one[0]},
           Bad{"sample bytes 5", {packet.data(), packet.size(), 2}, 5, one[0]},
           Bad{"no channels on the pin", {packet.data(), packet.size(), 0}, 3, one[0]},
           Bad{"absurd channel count", {packet.data(), packet.size(), 0xFFFFFFFF}, 3, one[0]},
           Bad{"null packet", {nullptr, 60, 2}, 3, one[0]},
           Bad{"index beyond the frame", {packet.data(), packet.size(), 2}, 3, {host.data(), 30, 2}},
           Bad{"null host buffer", {packet.data(), packet.size(), 2}, 3, {nullptr, 30, 0}},
           Bad{"packet shorter than a frame", {packet.data(), 5, 2}, 3, one[0]},
           Bad{"host shorter than a sample", {packet.data(), packet.size(), 2}, 3, {host.data(), 2, 0}},
       }) {
    OutputCopy out = copyOutput(b.packet, b.s, &b.channel, 1, true);
    EXPECT_EQ(out.frames, 0u) << b.what;
    EXPECT_EQ(out.dopScanned, 0u) << b.what;
    EXPECT_EQ(packet, untouched) << b.what;
  }
  EXPECT_EQ(copyOutput({packet.data(), packet.size(), 2}, 3, nullptr, 1, false).frames, 0u);
  EXPECT_EQ(copyOutput({packet.data(), packet.size(), 2}, 3, one, 0, false).frames, 0u);

  // 10 host frames into a 20-frame mono packet, and 20 packet frames into a 10-frame buffer.
  Bytes big(60, 0xEE);
  EXPECT_EQ(copyOutput({big.data(), big.size(), 1}, 3, one, 1, false).frames, 10u);
  EXPECT_EQ(big[30], 0xEE);
  Bytes small(30, 0);
  HostInput in[] = {{small.data(), small.size(), 0}};
  EXPECT_EQ(copyInput({big.data(), big.size(), 1}, 3, in, 1).frames, 10u);
  EXPECT_EQ(small, host);

  // Stereo halves of unequal length: each channel is bounded by its own buffer.
  Bytes l = pattern(12, 4), r = pattern(6, 5), frame(24, 0xEE);
  HostOutput pair[] = {{l.data(), l.size(), 0}, {r.data(), r.size(), 1}};
  OutputCopy out = copyOutput({frame.data(), frame.size(), 2}, 3, pair, 2, false);
  EXPECT_EQ(out.frames, 4u);
  EXPECT_EQ(frame[3], r[0]);
  EXPECT_EQ(frame[6 * 2 + 3], 0xEE) << "right channel has only two frames";
}

// DoP through the copy: counted per channel, judged per period.
TEST(SampleCopy, OutputCopyReportsDopPerChannel) {
  for (uint32_t s : {3u, 4u}) {
    const size_t frames = 96;
    Bytes dop = pattern(frames * s, 8), pcm = pattern(frames * s, 9);
    for (size_t j = 0; j < frames; ++j) dop[j * s + s - 1] = j & 1 ? 0xFA : 0x05;
    pcm[s - 1] = 0x05;  // starts like DoP, then is not
    Bytes packet(frames * 2 * s);
    HostOutput both[] = {{dop.data(), dop.size(), 0}, {dop.data(), dop.size(), 1}};
    HostOutput mixed[] = {{dop.data(), dop.size(), 0}, {pcm.data(), pcm.size(), 1}};
    RenderPacket p{packet.data(), packet.size(), 2};

    OutputCopy a = copyOutput(p, s, both, 2, true);
    EXPECT_EQ(a.dopScanned, 2u);
    EXPECT_EQ(a.dopMarked, 2u);
    EXPECT_EQ(judgeDopPeriod(a), DopPeriod::kDop);

    OutputCopy b = copyOutput(p, s, mixed, 2, true);
    EXPECT_EQ(b.dopMarked, 1u);
    EXPECT_EQ(judgeDopPeriod(b), DopPeriod::kPcm);

    OutputCopy c = copyOutput(p, s, both, 2, false);
    EXPECT_EQ(judgeDopPeriod(c), DopPeriod::kNotScanned);

    OutputCopy folded = a;  // two pins of one period
    folded += b;
    EXPECT_EQ(folded.channels, 4u);
    EXPECT_EQ(judgeDopPeriod(folded), DopPeriod::kPcm);
  }
}

}  // namespace
}  // namespace tess::fmt
