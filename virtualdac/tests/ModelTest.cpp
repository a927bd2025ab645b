// The virtual DAC's device model, natively: property replies and their size rules, reply
// faults, connect-format checks, the state rule, clock arithmetic, loopback, WAV files.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "ConnectFormat.h"
#include "FilterSpec.h"
#include "Loopback.h"
#include "PropertyModel.h"
#include "StreamClock.h"
#include "WavWriter.h"

using namespace tess::vdac;

namespace {

KsPinProperty pinRequest(uint32_t pinId, uint32_t id, const Guid& set = kPropSetPin) {
  return KsPinProperty{{set, id, kPropertyTypeGet}, pinId, 0};
}

FilterSpec dacFilter(bool renderOnly = false) { return buildDacFilter(RangeShape{}, renderOnly, 0x1209, 0x0007); }

Reply ask(const FilterSpec& f, const KsPinProperty& req, void* out, size_t outSize) {
  return answerFilterProperty(f, {}, &req, sizeof req, out, outSize);
}

uint32_t u32(const std::vector<uint8_t>& v, size_t offset) {
  uint32_t x;
  std::memcpy(&x, v.data() + offset, 4);
  return x;
}

}  // namespace

TEST(PropertyModel, DacFilterShape) {
  FilterSpec f = dacFilter();
  uint32_t count = 0;
  ASSERT_EQ(ask(f, pinRequest(0, kPropertyPinCTypes), &count, 4).error, kErrSuccess);
  EXPECT_EQ(count, 5u);
  struct Expect {
    uint32_t pin, flow, communication;
  } pins[] = {{0, kDataFlowIn, kCommunicationSink},
              {1, kDataFlowOut, kCommunicationBridge},
              {2, kDataFlowIn, kCommunicationBridge},
              {3, kDataFlowOut, kCommunicationSink},
              {4, kDataFlowOut, kCommunicationSource}};
  for (const Expect& e : pins) {
    uint32_t value = 0;
    ASSERT_EQ(ask(f, pinRequest(e.pin, kPropertyPinDataFlow), &value, 4).error, kErrSuccess);
    EXPECT_EQ(value, e.flow) << e.pin;
    ASSERT_EQ(ask(f, pinRequest(e.pin, kPropertyPinCommunication), &value, 4).error, kErrSuccess);
    EXPECT_EQ(value, e.communication) << e.pin;
  }
  ASSERT_EQ(ask(dacFilter(true), pinRequest(0, kPropertyPinCTypes), &count, 4).error, kErrSuccess);
  EXPECT_EQ(count, 3u);
}

TEST(PropertyModel, SizeRules) {
  FilterSpec f = dacFilter();
  // Size query: output size 0.
  Reply r = ask(f, pinRequest(0, kPropertyPinDataRanges), nullptr, 0);
  EXPECT_EQ(r.error, kErrMoreData);
  const uint32_t size = r.bytes;
  EXPECT_EQ(size, 8u + 6 * 88);  // 3 widths, WAVEFORMATEX and DirectSound specifiers
  std::vector<uint8_t> buffer(size + 16, 0xEE);
  // Short buffer: fails and writes nothing.
  r = ask(f, pinRequest(0, kPropertyPinDataRanges), buffer.data(), size - 1);
  EXPECT_EQ(r.error, kErrInsufficientBuffer);
  EXPECT_EQ(r.bytes, 0u);
  EXPECT_EQ(buffer[0], 0xEE);
  // Header only, and the total size alone.
  r = ask(f, pinRequest(0, kPropertyPinDataRanges), buffer.data(), 8);
  EXPECT_EQ(r.error, kErrSuccess);
  EXPECT_EQ(u32(buffer, 0), size);
  EXPECT_EQ(u32(buffer, 4), 6u);
  // Exact and larger buffers get exactly the reply.
  r = ask(f, pinRequest(0, kPropertyPinDataRanges), buffer.data(), buffer.size());
  EXPECT_EQ(r.error, kErrSuccess);
  EXPECT_EQ(r.bytes, size);
  EXPECT_EQ(buffer[size], 0xEE);
  // Fixed-size properties follow the same rules.
  EXPECT_EQ(ask(f, pinRequest(0, kPropertyPinCategory), nullptr, 0).error, kErrMoreData);
  uint8_t small[8];
  EXPECT_EQ(ask(f, pinRequest(0, kPropertyPinCategory), small, sizeof small).error, kErrInsufficientBuffer);
}

TEST(PropertyModel, UnsupportedRequests) {
  FilterSpec f = dacFilter();
  uint8_t out[64];
  EXPECT_EQ(ask(f, pinRequest(0, kPropertyPinPhysicalConnection), out, sizeof out).error, kErrNotFound);
  EXPECT_EQ(ask(f, pinRequest(9, kPropertyPinDataFlow), out, sizeof out).error, kErrInvalidParameter);
  EXPECT_EQ(ask(f, pinRequest(0, 0, kPropSetConnection), out, sizeof out).error, kErrSetNotFound);
  KsPinProperty set = pinRequest(0, kPropertyPinDataFlow);
  set.property.flags = kPropertyTypeSet;
  EXPECT_EQ(ask(f, set, out, sizeof out).error, kErrNotFound);
  // A pin property needs the pin id; a request shorter than a KSPROPERTY is refused.
  KsProperty plain{kPropSetPin, kPropertyPinDataFlow, kPropertyTypeGet};
  EXPECT_EQ(answerFilterProperty(f, {}, &plain, sizeof plain, out, sizeof out).error, kErrInvalidParameter);
  EXPECT_EQ(answerFilterProperty(f, {}, &plain, 20, out, sizeof out).error, kErrInvalidParameter);
}

TEST(PropertyModel, TopologyComponentAndNames) {
  FilterSpec f = dacFilter();
  KsProperty nodes{kPropSetTopology, kPropertyTopologyNodes, kPropertyTypeGet};
  std::vector<uint8_t> buffer(256);
  Reply r = answerFilterProperty(f, {}, &nodes, sizeof nodes, buffer.data(), buffer.size());
  ASSERT_EQ(r.error, kErrSuccess);
  EXPECT_EQ(u32(buffer, 4), 6u);
  EXPECT_EQ(r.bytes, 8u + 6 * 16);
  f.topologyShorterThanCount = true;
  r = answerFilterProperty(f, {}, &nodes, sizeof nodes, buffer.data(), buffer.size());
  EXPECT_EQ(u32(buffer, 4), 8u);
  EXPECT_EQ(r.bytes, 8u + 6 * 16);

  KsProperty component{kPropSetGeneral, kPropertyGeneralComponentId, kPropertyTypeGet};
  KsComponentId id;
  EXPECT_EQ(answerFilterProperty(f, {}, &component, sizeof component, &id, sizeof id).bytes, 72u);

  char16_t name[64] = {};
  r = ask(f, pinRequest(0, kPropertyPinName), name, sizeof name);
  EXPECT_EQ(r.bytes, sizeof(u"Playback"));
  EXPECT_EQ(std::u16string(name), u"Playback");
}

TEST(PropertyModel, ReplyFaults) {
  struct Case {
    ReplyFault fault;
    uint32_t firstRangeSize, lastRangeSize, countExtra;
    int lastBytes;
  } cases[] = {
      {ReplyFault::RangeSizeBelow88, 88, 64, 0, 64},
      {ReplyFault::RangeSizeZero, 0, 88, 0, 88},
      {ReplyFault::RangePastReply, 88, 88 + 64, 0, 88},
      {ReplyFault::ItemCountBeyondReply, 88, 88, 3, 88},
  };
  for (const Case& c : cases) {
    FilterSpec f = dacFilter();
    f.pins[0].fault = c.fault;
    Reply size = ask(f, pinRequest(0, kPropertyPinDataRanges), nullptr, 0);
    std::vector<uint8_t> reply(size.bytes);
    ASSERT_EQ(ask(f, pinRequest(0, kPropertyPinDataRanges), reply.data(), reply.size()).error, kErrSuccess);
    EXPECT_EQ(u32(reply, 0), reply.size());
    EXPECT_EQ(u32(reply, 4), 6u + c.countExtra);
    EXPECT_EQ(reply.size(), 8u + 5 * 88 + c.lastBytes);
    EXPECT_EQ(u32(reply, 8), c.firstRangeSize);
    EXPECT_EQ(u32(reply, 8 + 5 * 88), c.lastRangeSize);
  }
  FilterSpec f = dacFilter();
  f.pins[3].fault = ReplyFault::NameWithoutTerminator;
  std::vector<uint8_t> name(300, 0);
  Reply r = ask(f, pinRequest(3, kPropertyPinName), name.data(), 259);
  ASSERT_EQ(r.error, kErrSuccess);
  ASSERT_EQ(r.bytes, 259u);
  for (size_t i = 0; i < 259; ++i) ASSERT_NE(name[i], 0) << i;

  f.pins[3].rawReplies[kPropertyPinDataFlow] = {1, 2};
  uint8_t raw[4] = {};
  r = ask(f, pinRequest(3, kPropertyPinDataFlow), raw, sizeof raw);
  EXPECT_EQ(r.bytes, 2u);
  EXPECT_EQ(raw[1], 2);
}

namespace {

std::vector<uint8_t> connectFormat(uint16_t channels, uint16_t bits, uint32_t rate, bool extensible = true) {
  std::vector<uint8_t> v(sizeof(KsDataFormat) + sizeof(WaveFormatExtensible));
  KsDataFormat d{};
  d.formatSize = static_cast<uint32_t>(extensible ? v.size() : sizeof(KsDataFormat) + sizeof(WaveFormatEx));
  d.majorFormat = kDataFormatTypeAudio;
  d.subFormat = kDataFormatSubtypePcm;
  d.specifier = kDataFormatSpecifierWaveFormatEx;
  WaveFormatExtensible w{};
  w.format.formatTag = extensible ? kWaveFormatExtensible : kWaveFormatPcm;
  w.format.channels = channels;
  w.format.samplesPerSec = rate;
  w.format.blockAlign = static_cast<uint16_t>(channels * bits / 8);
  w.format.avgBytesPerSec = rate * w.format.blockAlign;
  w.format.bitsPerSample = bits;
  w.format.cbSize = extensible ? 22 : 0;
  w.validBitsPerSample = bits;
  w.channelMask = 3;
  w.subFormat = kDataFormatSubtypePcm;
  std::memcpy(v.data(), &d, sizeof d);
  std::memcpy(v.data() + sizeof d, &w, sizeof w);
  return v;
}

}  // namespace

TEST(ConnectFormat, MatchesRangesOfThePin) {
  FilterSpec f = dacFilter();
  const PinSpec& render = f.pins[0];
  struct Case {
    uint16_t channels, bits;
    uint32_t rate;
    bool extensible;
    uint32_t expected;
  } cases[] = {
      {2, 16, 44100, true, kErrSuccess},   {2, 24, 384000, true, kErrSuccess}, {2, 32, 32000, true, kErrSuccess},
      {2, 16, 48000, false, kErrSuccess},  {2, 24, 31999, true, kErrNoMatch},  {2, 24, 384001, true, kErrNoMatch},
      {2, 8, 48000, true, kErrNoMatch},    {1, 16, 48000, true, kErrNoMatch},  {4, 16, 48000, true, kErrNoMatch},
      {2, 20, 48000, true, kErrInvalidParameter},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> fmt = connectFormat(c.channels, c.bits, c.rate, c.extensible);
    StreamFormat out;
    EXPECT_EQ(checkConnectFormat(render, true, fmt.data(), fmt.size(), out), c.expected)
        << c.channels << "ch " << c.bits << "bit " << c.rate;
  }
  // Fewer channels than the range's maximum pass only when exact counts are not required.
  std::vector<uint8_t> mono = connectFormat(1, 16, 48000);
  StreamFormat out;
  EXPECT_EQ(checkConnectFormat(render, false, mono.data(), mono.size(), out), kErrSuccess);
  EXPECT_EQ(out.blockAlign, 2u);

  // Shaped ranges: 24 bits only at 44100 and 96000.
  RangeShape shape;
  shape.widths = {24};
  shape.rates = {44100, 96000};
  FilterSpec shaped = buildDacFilter(shape, false, 0x1209, 7);
  std::vector<uint8_t> ok = connectFormat(2, 24, 96000), badRate = connectFormat(2, 24, 48000),
                       badWidth = connectFormat(2, 16, 44100);
  EXPECT_EQ(checkConnectFormat(shaped.pins[0], true, ok.data(), ok.size(), out), kErrSuccess);
  EXPECT_EQ(checkConnectFormat(shaped.pins[0], true, badRate.data(), badRate.size(), out), kErrNoMatch);
  EXPECT_EQ(checkConnectFormat(shaped.pins[0], true, badWidth.data(), badWidth.size(), out), kErrNoMatch);
}

TEST(ConnectFormat, MalformedRecordsAreRefused) {
  const PinSpec render = dacFilter().pins[0];
  StreamFormat out;
  std::vector<uint8_t> fmt = connectFormat(2, 24, 48000);
  // Declared size beyond what may be read, or too small for the wave format.
  EXPECT_EQ(checkConnectFormat(render, true, fmt.data(), fmt.size() - 1, out), kErrInvalidParameter);
  std::vector<uint8_t> shortSize = fmt;
  uint32_t tooSmall = 64 + 18;
  std::memcpy(shortSize.data(), &tooSmall, 4);  // extensible tag but no room for its tail
  EXPECT_EQ(checkConnectFormat(render, true, shortSize.data(), shortSize.size(), out), kErrInvalidParameter);
  // Inconsistent block alignment.
  std::vector<uint8_t> badAlign = fmt;
  badAlign[64 + 12] = 7;
  EXPECT_EQ(checkConnectFormat(render, true, badAlign.data(), badAlign.size(), out), kErrInvalidParameter);
  EXPECT_EQ(checkConnectFormat(render, true, nullptr, 0, out), kErrInvalidParameter);
}

TEST(StateRule, OneStepAtATime) {
  for (uint32_t from = 0; from <= 3; ++from) {
    for (uint32_t to = 0; to <= 4; ++to) {
      const bool expected = to <= 3 && (to == from || to == from + 1 || to + 1 == from);
      EXPECT_EQ(isSingleStateStep(from, to), expected) << from << "->" << to;
    }
  }
}

TEST(StreamClock, DueTimesDoNotDrift) {
  EXPECT_EQ(framesToTicks(44100, 44100), kTicksPerSecond);
  EXPECT_EQ(framesToTicks(1, 3), 3333333);
  PinClock clock;
  clock.start(1000);
  int64_t due = 0;
  for (int i = 0; i < 3000; ++i) due = clock.schedule(441, 44100, 1000);  // 3000 packets of 10 ms
  EXPECT_EQ(due, 1000 + 30 * kTicksPerSecond);
  // A packet a little late still plays in its place; one arriving after the pin ran dry
  // leaves whole periods of silence before it and keeps the grid.
  const int64_t packet = framesToTicks(441, 44100);
  uint64_t missed = 1;
  EXPECT_EQ(clock.schedule(441, 44100, due + kUnderrunTolerance, &missed), due + packet);
  EXPECT_EQ(missed, 0u);
  const int64_t late = due + packet + kUnderrunTolerance + 1;
  EXPECT_EQ(clock.schedule(441, 44100, late, &missed), due + 3 * packet);
  EXPECT_EQ(missed, 441u);
  const int64_t later = due + 3 * packet + 2 * packet + 5;  // two periods and a bit
  EXPECT_EQ(clock.schedule(441, 44100, later, &missed), due + 7 * packet);
  EXPECT_EQ(missed, 3u * 441);
}

TEST(StreamClock, ADriftingDeviceKeepsItsOwnPaceForMinutes) {
  // The device plays rate x (1 + ppm / 10^6) frames per PC second: at +100 ppm 48004.8
  // frames a second, at -100 ppm 47995.2.
  struct Case {
    int32_t ppm;
    uint64_t framesInASecond;  // frames whole within one PC second
  } cases[] = {{100, 48004}, {-100, 47995}, {0, 48000}, {5000, 48240}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ppm);
    EXPECT_LE(framesToTicks(c.framesInASecond, 48000, c.ppm), kTicksPerSecond);
    EXPECT_GT(framesToTicks(c.framesInASecond + 1, 48000, c.ppm), kTicksPerSecond);
  }
  // Ten minutes of 10 ms packets land where the drifting clock puts them, to the tick:
  // 600 s / 1.0001 = 599.94000599... s at +100 ppm, 600 s / 0.9999 at -100 ppm.
  for (auto [ppm, expected] : {std::pair<int32_t, int64_t>{100, 5'999'400'059}, {-100, 6'000'600'060}}) {
    PinClock clock;
    clock.start(7, ppm);
    int64_t due = 0;
    for (int i = 0; i < 60'000; ++i) due = clock.schedule(480, 48000, 7);
    EXPECT_EQ(due, 7 + expected) << ppm;
  }
  // A day at the highest rate stays within 64 bits; a setting past the bound is held to it.
  EXPECT_EQ(framesToTicks(384000ull * 86400, 384000, 100), 863'913'608'639);
  EXPECT_EQ(framesToTicks(48000, 48000, 10 * kMaxDriftPpm), framesToTicks(48000, 48000, kMaxDriftPpm));
}

TEST(StreamClock, BurstyCompletionLandsOnBurstBoundaries) {
  const CompletionShape plain{};
  const CompletionShape bursty{4, 3};  // bursts of 4 ms, render handed over 3 ms ahead
  const int64_t ms = kTicksPerMs;
  // Plain: when the frames are done. Bursty: capture at the burst that follows its last
  // frame, render at the burst after it was handed to the schedule, not before it came.
  struct Case {
    int64_t due, arrival;
    bool render;
    const CompletionShape& shape;
    int64_t completes;
  } cases[] = {
      {103 * ms + 5, 0, true, plain, 103 * ms + 5},  {103 * ms + 5, 0, false, bursty, 104 * ms},
      {103 * ms + 5, 0, true, bursty, 104 * ms},     {102 * ms, 0, true, bursty, 100 * ms},
      {102 * ms, 101 * ms, true, bursty, 104 * ms},  {104 * ms, 0, false, bursty, 104 * ms},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(completionTime(c.due, c.arrival, c.render, c.shape), c.completes) << c.due << " " << c.render;
  }
  // Packets of 1 ms complete four at a time.
  PinClock clock;
  clock.start(1000 * ms);
  std::vector<int64_t> completions;
  for (int i = 0; i < 8; ++i) {
    completions.push_back(completionTime(clock.schedule(48, 48000, 1000 * ms), 1000 * ms, false, bursty));
  }
  EXPECT_EQ(completions, (std::vector<int64_t>{1004 * ms, 1004 * ms, 1004 * ms, 1004 * ms, 1008 * ms, 1008 * ms,
                                               1008 * ms, 1008 * ms}));
}

TEST(Loopback, ConvertsWidthsAndChannels) {
  StreamFormat f16{2, 16, 16, 48000, 4}, f24{2, 24, 24, 48000, 6}, f32mono{1, 32, 32, 48000, 4};
  LoopbackFifo fifo;
  const uint8_t played[8] = {0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A, 0xF0, 0xDE};  // two 16-bit frames
  fifo.push(played, 2, f16);
  uint8_t got[18];
  std::memset(got, 0xEE, sizeof got);
  fifo.pop(got, 3, f24);
  const uint8_t expected[18] = {0, 0x34, 0x12, 0, 0x78, 0x56, 0, 0xBC, 0x9A, 0, 0xF0, 0xDE, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(got, expected, sizeof expected));
  EXPECT_EQ(fifo.framesHeld(), 0u);
  fifo.clear();
  fifo.push(played, 2, f16);
  uint8_t mono[8];
  fifo.pop(mono, 2, f32mono);
  const uint8_t expectedMono[8] = {0, 0, 0x34, 0x12, 0, 0, 0xBC, 0x9A};
  EXPECT_EQ(0, std::memcmp(mono, expectedMono, sizeof expectedMono));
}

TEST(Loopback, StaysOnTheDevicesTimeWhenCaptureRunsAhead) {
  // Capture that takes frames before they were played gets silence for them, and those
  // frames are skipped when they are played: what follows keeps its time.
  StreamFormat f16{2, 16, 16, 48000, 4};
  LoopbackFifo fifo;
  const uint8_t frames[12] = {1, 0, 1, 0, 2, 0, 2, 0, 3, 0, 3, 0};
  uint8_t got[8];
  fifo.pop(got, 2, f16);  // two frames of time pass with nothing played
  EXPECT_EQ(got[0] | got[4], 0);
  fifo.push(frames, 3, f16);  // the first two are late: only the third is heard
  EXPECT_EQ(fifo.framesHeld(), 1u);
  fifo.pop(got, 1, f16);
  EXPECT_EQ(got[0], 3);
  // Frames played while nothing recorded are dropped, also before they arrive.
  fifo.drop(2);
  fifo.push(frames, 3, f16);
  fifo.pop(got, 1, f16);
  EXPECT_EQ(got[0], 3);
}

TEST(WavWriter, FileIsCompleteAfterSync) {
  const std::string path = testing::TempDir() + "vdac_model_test.wav";
  {
    WavWriter wav;
    ASSERT_TRUE(wav.open(path, 2, 24, 24, 96000));
    const uint8_t frames[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    ASSERT_TRUE(wav.append(frames, sizeof frames));
    ASSERT_TRUE(wav.sync());
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), 68u + 12);
    EXPECT_EQ(0, std::memcmp(bytes.data(), "RIFF", 4));
    EXPECT_EQ(u32(bytes, 4), bytes.size() - 8);
    EXPECT_EQ(bytes[20] | bytes[21] << 8, 0xFFFE);
    EXPECT_EQ(u32(bytes, 24), 96000u);
    EXPECT_EQ(0, std::memcmp(bytes.data() + 60, "data", 4));
    EXPECT_EQ(u32(bytes, 64), 12u);
    EXPECT_EQ(bytes[68], 1);
    EXPECT_EQ(bytes[79], 12);
  }
  std::vector<uint8_t> pcm = wavHeader(2, 16, 16, 44100, 400);
  ASSERT_EQ(pcm.size(), 44u);
  EXPECT_EQ(u32(pcm, 4), 36u + 400);
  EXPECT_EQ(u32(pcm, 28), 44100u * 4);
  std::remove(path.c_str());
}
