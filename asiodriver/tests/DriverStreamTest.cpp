// Streaming through the driver into the virtual DAC, as a host does it, for both variants
// (kernel-streaming pins and Core Audio clients) from one table of cases: buffer switches
// and positions, bit-exact output and loopback input (also on 24-in-32-only devices and
// with capture on a filter of its own), native DSD and DoP with their HID reports and
// block flags, stalls and removal, and repeated cycles without leaks.
#include <algorithm>
#include <cstring>
#include <functional>
#include <string>

#include <windows.h>
#include <tlhelp32.h>

#include "DriverFixture.h"
#include "Module.h"
#include "SampleFormat.h"
#include "ThreadScheduling.h"

using namespace tess;
using host::DriverRef;
using host::Harness;
using host::Variant;

namespace {

constexpr size_t kState = offsetof(StatusBlockLayout, state);

struct Stream {
  uint32_t rate;     // ASIO rate
  uint32_t bits;     // width chosen in the block
  int32_t buffer;    // frames (DSD samples at a DSD rate)
};

uint32_t hostSampleBytes(const Stream& s) { return isDsdRate(s.rate) ? 1 : s.bits / 8; }
uint32_t hostHalfBytes(const Stream& s) {
  return isDsdRate(s.rate) ? uint32_t(s.buffer) / 8 : uint32_t(s.buffer) * s.bits / 8;
}

// Byte k of output channel c's stream as the harness writes it.
uint8_t patternByte(uint32_t sampleBytes, uint32_t c, uint64_t k) {
  uint64_t v = (k / sampleBytes) * 2 + c + 1;
  return static_cast<uint8_t>(v >> (8 * (k % sampleBytes)));
}

// Checks what the DAC played: `prefixFrames` frames of silence, then each channel's
// stream in containers of `container` bytes, for at least `minFrames` frames. Periods the
// device counted as missed (a late pump on a loaded machine), and `toldFrames` the driver
// played as silence itself and told the host of, play as zero frames between the host's
// frames, which must otherwise follow each other without a gap.
void expectPlayed(const std::vector<uint8_t>& played, uint32_t container, uint32_t sampleBytes, uint8_t silence,
                  size_t prefixFrames, size_t minFrames, uint64_t toldFrames = 0) {
  const size_t frameBytes = 2 * container;
  const size_t frames = played.size() / frameBytes;
  uint64_t missedBudget = vdac::pinStats(vdac::kRenderPinId).framesMissed + toldFrames;
  ASSERT_GE(frames, prefixFrames + minFrames);
  auto frameIs = [&](size_t f, uint8_t value) {
    return std::all_of(&played[f * frameBytes], &played[f * frameBytes] + frameBytes,
                       [value](uint8_t x) { return x == value; });
  };
  size_t f = 0, primed = 0, host = 0;
  for (; f < frames && primed < prefixFrames; ++f) {
    if (frameIs(f, silence)) ++primed;
    else if (missedBudget && frameIs(f, 0)) --missedBudget;
    else FAIL() << "priming frame " << f;
  }
  for (; f < frames; ++f) {
    const uint8_t* frame = &played[f * frameBytes];
    if (frame[0] == 0 && missedBudget && frameIs(f, 0)) {  // the host's frames never start with 0
      --missedBudget;
      continue;
    }
    for (uint32_t c = 0; c < 2; ++c) {
      for (uint32_t b = 0; b < container; ++b) {
        uint64_t k = uint64_t(host) * container + b;
        ASSERT_EQ(frame[c * container + b], patternByte(sampleBytes, c, k))
            << "frame " << f << " (host frame " << host << ") channel " << c << " byte " << b;
      }
    }
    ++host;
  }
  EXPECT_GE(host, minFrames);
}

// Where the variants differ by design, and only there.
struct VariantTraits {
  // Periods of silence the device plays before the host's first: the primed packets, or
  // the pre-filled period and the two periods asked for before the first switch.
  size_t primedPeriods;
  // Switches from the host's output to the same audio in its input, through the loopback.
  uint32_t loopbackSwitches;
  // Periods a host that writes nothing still gets as DSD silence (0x69).
  size_t dsdSilentPeriods;
  // Stream requests of one direction the device may hold queued at once.
  uint32_t renderQueued, captureQueued;
  // A switch late for the device's request goes out as silence the driver writes itself
  // (and tells the host of); through pins the device misses that period and counts it.
  bool driverWritesLateSilence;
};

VariantTraits traitsOf(Variant v) {
  return v == Variant::CoreAudio ? VariantTraits{3, 3, 3, 2, 4, true} : VariantTraits{2, 2, 4, 2, 2, false};
}

std::string variantLabel(const ::testing::TestParamInfo<Variant>& info) { return host::variantName(info.param); }

class StreamTest : public DriverTest, public ::testing::WithParamInterface<Variant> {
 protected:
  Variant variant() const { return GetParam(); }
  VariantTraits traits() const { return traitsOf(GetParam()); }
  // Frames of silence the driver may have written for late switches, as it told the host.
  uint64_t toldSilence(const Harness& h, size_t periodFrames) const {
    return traits().driverWritesLateSilence ? uint64_t{h.resyncRequests.load()} * periodFrames : 0;
  }

  // init, rate, createBuffers (2 out, inputs as asked), start.
  void open(DriverRef& d, Harness& h, const Stream& s, int32_t inputs = 2) {
    choose(100, s.bits);
    ASSERT_EQ(d.created, S_OK);
    ASSERT_EQ(d->init(nullptr), ASIOTrue);
    ASSERT_EQ(d->setSampleRate(s.rate), ASE_OK);
    h.sampleBytes = hostSampleBytes(s);
    h.makeInfos(2, inputs);
    ASSERT_EQ(h.create(d.driver, s.buffer, hostHalfBytes(s)), ASE_OK);
  }
};

}  // namespace

TEST_P(StreamTest, SwitchesAlternateHalvesAndAdvanceByOneBuffer) {
  DriverRef d(host::freshClsid(), variant());
  Harness h;
  open(d, h, {48000, 32, 480});
  vdac::clearPlayed();
  ASSERT_EQ(d->start(), ASE_OK);
  EXPECT_EQ(block().field(kState), uint32_t(kStateRunning));
  ASSERT_TRUE(h.waitForSwitches(20, 5000));
  ASSERT_EQ(d->stop(), ASE_OK);
  EXPECT_EQ(block().field(kState), uint32_t(kStatePrepared));
  uint32_t n = h.switchCount.load();
  for (uint32_t i = 0; i < n; ++i) {
    EXPECT_EQ(h.switches[i].half, int32_t(i & 1)) << i;
    EXPECT_EQ(h.switches[i].position, uint64_t(i) * 480) << i;
    // Time info accepted; the first switch also tells of the rate set after init.
    EXPECT_EQ(h.switches[i].flags, i == 0 ? 0x17u : 7u) << i;
    if (i > 0) {
      EXPECT_GE(h.switches[i].systemTime, h.switches[i - 1].systemTime);
    }
  }
  EXPECT_GT(h.switches[n - 1].systemTime, h.switches[0].systemTime);

  // stop then start primes again and restarts at position 0; the completions of the
  // requests the stop cancelled belong to no period of the new run, so two packets per
  // direction stay queued, never more.
  h.switchCount = 0;
  ASSERT_EQ(d->start(), ASE_OK);
  ASSERT_TRUE(h.waitForSwitches(12, 5000));
  EXPECT_EQ(h.switches[0].position, 0u);
  EXPECT_EQ(h.switches[0].half, 0);
  ASSERT_EQ(d->stop(), ASE_OK);
  EXPECT_LE(vdac::pinStats(vdac::kRenderPinId).maxQueued, traits().renderQueued);
  EXPECT_LE(vdac::pinStats(vdac::kCapturePinId).maxQueued, traits().captureQueued);
  ASSERT_EQ(d->disposeBuffers(), ASE_OK);
  EXPECT_EQ(block().field(kState), uint32_t(kStateInitialized));
}

// Holds the driver's time-critical threads (pump and watchdog) for a while, as a
// starved machine would, so that both queued packets complete before the pump runs.
// Nothing is allocated while they are held: a held thread may own the heap's lock.
void starveTimeCriticalThreads(DWORD holdMs) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  HANDLE found[16];
  size_t count = 0;
  THREADENTRY32 te{};
  te.dwSize = sizeof te;
  for (BOOL ok = Thread32First(snapshot, &te); ok && count < 16; ok = Thread32Next(snapshot, &te)) {
    if (te.th32OwnerProcessID != GetCurrentProcessId()) continue;
    HANDLE t = OpenThread(THREAD_SUSPEND_RESUME | THREAD_QUERY_INFORMATION, FALSE, te.th32ThreadID);
    if (!t) continue;
    if (GetThreadPriority(t) == THREAD_PRIORITY_TIME_CRITICAL) found[count++] = t;
    else CloseHandle(t);
  }
  CloseHandle(snapshot);
  bool held[16] = {};
  for (size_t i = 0; i < count; ++i) held[i] = SuspendThread(found[i]) != DWORD(-1);
  Sleep(holdMs);
  for (size_t i = 0; i < count; ++i) {
    if (held[i]) ResumeThread(found[i]);
    CloseHandle(found[i]);
  }
}

TEST_P(StreamTest, AStarvedPumpStillDeliversHalvesInOrder) {
  // Both queued packets complete while the pump is held, also across the ring's wrap from
  // packet 7 to packet 0. Outputs only: each render completion is a period on its own.
  DriverRef d(host::freshClsid(), variant());
  Harness h;
  open(d, h, {48000, 24, 96}, 0);
  ASSERT_EQ(d->start(), ASE_OK);
  for (int i = 0; i < 40; ++i) {
    starveTimeCriticalThreads(6);
    Sleep(1 + i % 3);
  }
  ASSERT_EQ(d->stop(), ASE_OK);
  uint32_t n = h.switchCount.load();
  ASSERT_GT(n, 40u);
  for (uint32_t i = 0; i < n; ++i) {
    ASSERT_EQ(h.switches[i].half, int32_t(i & 1)) << i;
    ASSERT_EQ(h.switches[i].position, uint64_t(i) * 96) << i;
  }
  ASSERT_EQ(d->disposeBuffers(), ASE_OK);
}

TEST_P(StreamTest, OutputReachesTheDeviceBitExact) {
  const Stream streams[] = {{44100, 16, 441}, {192000, 24, 960}, {384000, 32, 1536}, {96000, 24, 480}};
  for (const Stream& s : streams) {
    SCOPED_TRACE(s.rate);
    DriverRef d(host::freshClsid(), variant());
    Harness h;
    open(d, h, s);
    vdac::clearPlayed();
    ASSERT_EQ(d->start(), ASE_OK);
    ASSERT_TRUE(h.waitForSwitches(12, 5000));
    ASSERT_EQ(d->stop(), ASE_OK);
    expectPlayed(vdac::playedBytes(vdac::kRenderPinId), s.bits / 8, s.bits / 8, 0,
                 traits().primedPeriods * size_t(s.buffer), 8 * size_t(s.buffer), toldSilence(h, size_t(s.buffer)));
    vdac::clearHidReports();
    ASSERT_EQ(d->disposeBuffers(), ASE_OK);
    EXPECT_EQ(vdac::hidReports().size(), 3u);  // the DSD modes go off after PCM too
  }
}

TEST_P(StreamTest, OutputPlaysWithoutTimeInfoOrOutputReady) {
  for (bool outputReady : {false, true}) {
    SCOPED_TRACE(outputReady);
    DriverRef d(host::freshClsid(), variant());
    Harness h;
    h.acceptTimeInfo = false;
    h.callOutputReady = outputReady;
    open(d, h, {48000, 24, 480});
    vdac::clearPlayed();
    ASSERT_EQ(d->start(), ASE_OK);
    ASSERT_TRUE(h.waitForSwitches(10, 5000));
    ASSERT_EQ(d->stop(), ASE_OK);
    EXPECT_EQ(h.switches[1].flags, 0u);  // plain bufferSwitch
    expectPlayed(vdac::playedBytes(vdac::kRenderPinId), 3, 3, 0, traits().primedPeriods * 480, 6 * 480,
                 toldSilence(h, 480));
  }
}

class LoopbackTest : public StreamTest {
  vdac::DacConfig dacConfig() override {
    vdac::DacConfig c;
    c.loopback = true;
    return c;
  }
};

// Input channel 0 against output channel 0, switch by switch: the loopback brings the
// output of switch i - n (n = the variant's round trip: two switches through packets
// queued two ahead, three through clients asked for each period) to the input of switch i.
// A buffer of silence where audio was due is a period the device lost; a change of the
// delay is a shift (found by searching the output nearby). Anything else fails.
struct LoopbackCheck {
  size_t buffers = 0, silent = 0, shifts = 0;
};
LoopbackCheck checkInputIsDelayedOutput(const Harness& h, uint32_t loopbackSwitches) {
  LoopbackCheck r;
  const size_t half = h.halfBytes;
  r.buffers = std::min(h.inputLogBytes.load(), h.outputLogBytes.load()) / half;
  EXPECT_GT(r.buffers, size_t{loopbackSwitches} + 4);
  size_t delay = loopbackSwitches;
  for (size_t i = 0; i < r.buffers; ++i) {
    const uint8_t* in = h.inputLog.data() + i * half;
    const bool allZero = std::all_of(in, in + half, [](uint8_t b) { return b == 0; });
    if (i < loopbackSwitches) {
      EXPECT_TRUE(allZero) << "switch " << i << " precedes the round trip";
      continue;
    }
    auto outputOf = [&](size_t j) { return h.outputLog[0].data() + j * half; };
    if (i >= delay && std::memcmp(in, outputOf(i - delay), half) == 0) continue;
    if (allZero) {
      ++r.silent;
      continue;
    }
    size_t found = 0;
    for (size_t d = 1; d <= 16 && d <= i && !found; ++d)
      if (std::memcmp(in, outputOf(i - d), half) == 0) found = d;
    if (!found) {
      ADD_FAILURE() << "input of switch " << i << " is no recent output";
      break;
    }
    ++r.shifts;
    delay = found;
  }
  return r;
}

// The input is the output of the round trip's switches before, unless the loaded machine
// made the device lose periods (or, where the driver fills late periods itself, the driver
// lost them): then the host was told (losses close together may reach it as one request).
void expectLoopbackBitExact(const Harness& h, const VariantTraits& traits) {
  const LoopbackCheck c = checkInputIsDelayedOutput(h, traits.loopbackSwitches);
  const uint64_t missed =
      vdac::pinStats(vdac::kRenderPinId).periodsMissed + vdac::pinStats(vdac::kCapturePinId).periodsMissed +
      (traits.driverWritesLateSilence ? h.resyncRequests.load() : 0);
  if (missed == 0) {
    EXPECT_EQ(c.silent, 0u);
    EXPECT_EQ(c.shifts, 0u);
  } else {
    std::printf("the device missed %llu periods: input silent %zu, shifted %zu, resync requests %u\n",
                static_cast<unsigned long long>(missed), c.silent, c.shifts, h.resyncRequests.load());
    if (c.shifts) {
      EXPECT_GE(h.resyncRequests.load(), 1u);
    }
  }
}

TEST_P(LoopbackTest, CapturedAudioReachesTheHostBitExactAfterExactlyItsRoundTrip) {
  const Stream streams[] = {{44100, 16, 441}, {192000, 32, 960}};
  for (const Stream& s : streams) {
    SCOPED_TRACE(s.rate);
    DriverRef d(host::freshClsid(), variant());
    Harness h;
    open(d, h, s);
    ASSERT_EQ(d->start(), ASE_OK);
    ASSERT_TRUE(h.waitForSwitches(16, 5000));
    ASSERT_EQ(d->stop(), ASE_OK);
    expectLoopbackBitExact(h, traits());
    ASSERT_EQ(d->disposeBuffers(), ASE_OK);
  }
}

// Devices shaped as many USB audio 2.0 devices are: 24-bit audio only as 24 valid bits in
// 4-byte containers (packed 24-bit refused), and capture on a filter of its own, listed
// only under the capture category. A 24-bit host plays and records bit-exactly on each.
TEST_P(StreamTest, UsbAudio2ShapesPlayAndRecordBitExact) {
  struct Case {
    const char* shape;
    bool only24In32, separateCapture;
  };
  for (const Case& k : {Case{"24 in 32 only", true, false}, Case{"separate capture filter", false, true},
                        Case{"both", true, true}}) {
    SCOPED_TRACE(k.shape);
    vdac::DacConfig config;
    config.loopback = true;
    config.separateCaptureFilter = k.separateCapture;
    if (k.only24In32) {
      config.ranges.widths = {24};
      config.ranges.containers = {32};
      config.coreAudio.packed24 = false;
    }
    ASSERT_TRUE(vdac::useVirtualDac(config));
    DriverRef d(host::freshClsid(), variant());
    Harness h;
    choose(100, 24);
    ASSERT_EQ(d.created, S_OK);
    ASSERT_EQ(d->init(nullptr), ASIOTrue);
    ASSERT_EQ(d->setSampleRate(96000), ASE_OK);
    int32_t inputs = 0, outputs = 0;
    ASSERT_EQ(d->getChannels(&inputs, &outputs), ASE_OK);
    EXPECT_EQ(inputs, 2);
    EXPECT_EQ(outputs, 2);
    // The host's samples fill the device's containers: 32-bit integers under 24-in-32.
    const uint32_t container = k.only24In32 ? 4 : 3;
    for (ASIOBool input : {ASIOFalse, ASIOTrue}) {
      ASIOChannelInfo info{};
      info.isInput = input;
      ASSERT_EQ(d->getChannelInfo(&info), ASE_OK);
      EXPECT_EQ(info.type, k.only24In32 ? ASIOSTInt32LSB : ASIOSTInt24LSB);
    }
    EXPECT_EQ(block().field(offsetof(StatusBlockLayout, widthInUse)), 24u);  // the host still streams 24 bits
    h.sampleBytes = container;
    h.makeInfos(2, 2);
    ASSERT_EQ(h.create(d.driver, 480, 480 * container), ASE_OK);
    vdac::clearPlayed();
    ASSERT_EQ(d->start(), ASE_OK);
    ASSERT_TRUE(h.waitForSwitches(16, 5000));
    ASSERT_EQ(d->stop(), ASE_OK);
    expectPlayed(vdac::playedBytes(vdac::kRenderPinId), container, container, 0, traits().primedPeriods * 480,
                 8 * 480, toldSilence(h, 480));
    expectLoopbackBitExact(h, traits());
    ASSERT_EQ(d->disposeBuffers(), ASE_OK);
  }
}

TEST_P(LoopbackTest, InputKeepsItsAlignmentThroughLatePeriods) {
  // A host playing and recording whose switch now and then takes several periods, as
  // under load: the device loses those periods on both sides alike, the input never
  // slides against the output, and the host is told of the lost periods.
  DriverRef d(host::freshClsid(), variant());
  Harness h;
  h.slowSwitchEvery = 20;
  h.slowSwitchMs = 7;
  open(d, h, {48000, 24, 96});
  ASSERT_EQ(d->start(), ASE_OK);
  ASSERT_TRUE(h.waitForSwitches(200, 20000));
  ASSERT_EQ(d->stop(), ASE_OK);
  for (uint32_t i = 0; i < h.switchCount.load() && i < Harness::kMaxSwitches; ++i)
    ASSERT_EQ(h.switches[i].position, uint64_t(i) * 96) << i;
  const LoopbackCheck c = checkInputIsDelayedOutput(h, traits().loopbackSwitches);
  const vdac::PinStats render = vdac::pinStats(vdac::kRenderPinId);
  const vdac::PinStats capture = vdac::pinStats(vdac::kCapturePinId);
  std::printf("switches %u: input silent %zu, shifted %zu times; periods the device missed: render %llu, "
              "capture %llu; resync requests %u\n",
              h.switchCount.load(), c.silent, c.shifts, static_cast<unsigned long long>(render.periodsMissed),
              static_cast<unsigned long long>(capture.periodsMissed), h.resyncRequests.load());
  EXPECT_GT(render.periodsMissed, 0u);  // the slow switches did cost periods
  // Lost periods are told to the host; the delay never changes without that.
  EXPECT_GE(h.resyncRequests.load(), 1u);
  ASSERT_EQ(d->disposeBuffers(), ASE_OK);
}

TEST_P(StreamTest, NativeDsdGoesOutUnchangedWithItsModeReports) {
  struct Case {
    uint32_t rate;
    uint8_t modeId;
    uint32_t flags[4];  // DSD, DSD128, DSD256, native
  } cases[] = {{kDsd64, 0xF5, {1, 0, 0, 1}}, {kDsd128, 0xF6, {1, 1, 0, 1}}, {kDsd256, 0xF7, {1, 0, 1, 1}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rate);
    const int32_t buffer = int32_t(fmt::pinRate(c.rate) / 100) * 32;  // 10 ms
    DriverRef d(host::freshClsid(), variant());
    Harness h;
    vdac::clearHidReports();
    open(d, h, {c.rate, 32, buffer});
    auto reports = vdac::hidReports();
    ASSERT_EQ(reports.size(), 1u);
    ASSERT_GE(reports[0].size(), 5u);
    EXPECT_EQ(reports[0][1], c.modeId);
    EXPECT_EQ(reports[0][2], 0x21);
    EXPECT_EQ(reports[0][4], 0x2E);
    StatusBlockView b = block();
    EXPECT_EQ(b.field(offsetof(StatusBlockLayout, buffer)), uint32_t(buffer / 32));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(b.field(320 + 4 * size_t(i)), c.flags[i]) << i;
    EXPECT_EQ(vdac::pinStats(vdac::kRenderPinId).format.bitsPerSample, 32u);
    EXPECT_EQ(vdac::pinStats(vdac::kRenderPinId).format.sampleRate, fmt::pinRate(c.rate));

    vdac::clearPlayed();
    ASSERT_EQ(d->start(), ASE_OK);
    ASSERT_TRUE(h.waitForSwitches(8, 5000));
    ASSERT_EQ(d->stop(), ASE_OK);
    expectPlayed(vdac::playedBytes(vdac::kRenderPinId), 4, 1, fmt::kDsdSilence,
                 traits().primedPeriods * size_t(buffer / 32), 4 * size_t(buffer / 32));
    // The host hears the rate it set, never the carrier.
    for (uint32_t i = 0; i < 8; ++i) {
      EXPECT_EQ(h.switches[i].sampleRate, double(c.rate)) << i;
      EXPECT_EQ(h.switches[i].position, uint64_t(i) * uint64_t(buffer)) << i;
    }

    vdac::clearHidReports();
    ASSERT_EQ(d->disposeBuffers(), ASE_OK);
    reports = vdac::hidReports();
    ASSERT_EQ(reports.size(), 3u);
    const uint8_t offOrder[3] = {0xF5, 0xF6, 0xF7};
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(reports[size_t(i)][1], offOrder[i]);
      EXPECT_EQ(reports[size_t(i)][4], 0x08);
    }
    EXPECT_EQ(b.field(320), 0u);
    EXPECT_EQ(b.field(332), 0u);
  }
}

TEST_P(StreamTest, UnwrittenDsdPacketsGoOutAsDsdSilence) {
  // A host that writes nothing: the periods before the host's first carry 0x69 (through
  // pins also those written while the switch count is below 3), later ones the host's zeros.
  const int32_t buffer = 882 * 32;
  // A period the device missed on a loaded machine plays as (PCM) silence in between:
  // run again until a run has none.
  for (int attempt = 0; attempt < 5; ++attempt) {
    DriverRef d(host::freshClsid(), variant());
    Harness h;
    h.writePattern = false;
    open(d, h, {kDsd64, 32, buffer});
    vdac::clearPlayed();
    const uint64_t missedBefore = vdac::pinStats(vdac::kRenderPinId).periodsMissed;
    ASSERT_EQ(d->start(), ASE_OK);
    ASSERT_TRUE(h.waitForSwitches(8, 5000));
    ASSERT_EQ(d->stop(), ASE_OK);
    std::vector<uint8_t> played = vdac::playedBytes(vdac::kRenderPinId);
    const bool missed = vdac::pinStats(vdac::kRenderPinId).periodsMissed != missedBefore;
    ASSERT_EQ(d->disposeBuffers(), ASE_OK);
    if (missed) {
      std::printf("the device missed a period (attempt %d): running again\n", attempt + 1);
      continue;
    }
    const size_t packetBytes = size_t(buffer / 32) * 8;
    ASSERT_GE(played.size(), 7 * packetBytes);
    const size_t silent = traits().dsdSilentPeriods;
    for (size_t i = 0; i < silent * packetBytes; ++i) ASSERT_EQ(played[i], fmt::kDsdSilence) << i;
    for (size_t i = silent * packetBytes; i < 7 * packetBytes; ++i) ASSERT_EQ(played[i], 0) << i;
    return;
  }
  std::printf("every attempt lost a period: the machine is too loaded to check this\n");
}

TEST_P(StreamTest, DopInTheOutputIsReportedOnceAndShown) {
  struct Case {
    uint32_t rate, bits;
    uint32_t dsd128;
  } cases[] = {{176400, 24, 0}, {352800, 32, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rate);
    DriverRef d(host::freshClsid(), variant());
    Harness h;
    h.writePattern = false;
    open(d, h, {c.rate, c.bits, int32_t(c.rate / 100)});
    // Alternating DoP markers in the most significant byte of every sample, both halves.
    const uint32_t sb = c.bits / 8;
    for (int32_t ch = 0; ch < 2; ++ch)
      for (int half = 0; half < 2; ++half) {
        auto* p = static_cast<uint8_t*>(h.infos[size_t(ch)].buffers[half]);
        for (uint32_t i = 0; i < h.halfBytes / sb; ++i) p[i * sb + sb - 1] = (i & 1) ? 0xFA : 0x05;
      }
    vdac::clearHidReports();
    ASSERT_EQ(d->start(), ASE_OK);
    ASSERT_TRUE(h.waitForSwitches(10, 5000));
    // The report goes out from the message thread: wait for it to arrive.
    DWORD t0 = GetTickCount();
    while (vdac::hidReports().empty() && GetTickCount() - t0 < 10000) Sleep(2);
    auto reports = vdac::hidReports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0][1], 0xF8);
    EXPECT_EQ(reports[0][4], 0x01);
    EXPECT_EQ(block().field(320), 1u);
    EXPECT_EQ(block().field(324), c.dsd128);
    ASSERT_EQ(d->stop(), ASE_OK);
    reports = vdac::hidReports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1][1], 0xF8);
    EXPECT_EQ(reports[1][4], 0x00);
    ASSERT_EQ(d->disposeBuffers(), ASE_OK);
  }
}

TEST_P(StreamTest, ARateChangeIsFlaggedInTheNextSwitch) {
  DriverRef d(host::freshClsid(), variant());
  Harness h;
  open(d, h, {48000, 32, 480});
  ASSERT_EQ(d->start(), ASE_OK);
  ASSERT_TRUE(h.waitForSwitches(3, 5000));
  ASSERT_EQ(d->setSampleRate(44100), ASE_OK);
  EXPECT_EQ(h.resetRequests.load(), 1u);  // the host is asked to reset
  EXPECT_EQ(h.rateChanges.load(), 1u);
  uint32_t from = h.switchCount.load();
  ASSERT_TRUE(h.waitForSwitches(from + 4, 5000));
  ASSERT_EQ(d->stop(), ASE_OK);
  int flagged = 0;
  for (uint32_t i = from; i < h.switchCount.load(); ++i) flagged += h.switches[i].flags == 0x17;
  EXPECT_EQ(flagged, 1);
  EXPECT_EQ(h.lastRateChange.load(), 44100.0);
  // A DSD rate is told as the host set it, not as the carrier the pins would run at.
  ASSERT_EQ(d->setSampleRate(kDsd64), ASE_OK);
  EXPECT_EQ(h.lastRateChange.load(), double(kDsd64));
}

TEST_P(StreamTest, StopFromInsideASwitchIsRefusedWithoutHanging) {
  DriverRef d(host::freshClsid(), variant());
  Harness h;
  h.stopInSwitch = true;
  open(d, h, {48000, 32, 480});
  ASSERT_EQ(d->start(), ASE_OK);
  ASSERT_TRUE(h.waitForSwitches(6, 5000));  // switches go on
  EXPECT_EQ(h.stopInSwitchResult.load(), ASE_InvalidParameter);
  ASSERT_EQ(d->stop(), ASE_OK);
  ASSERT_EQ(d->disposeBuffers(), ASE_OK);
}

TEST_P(StreamTest, EveryStallAsksTheHostForOneResetAcrossARecreation) {
  DriverRef d(host::freshClsid(), variant());
  Harness h;
  open(d, h, {48000, 24, 480});
  // A host that answers the reset request with disposeBuffers / createBuffers hears of
  // the next stall too.
  for (uint32_t stall = 1; stall <= 2; ++stall) {
    SCOPED_TRACE(stall);
    h.switchCount = 0;
    ASSERT_EQ(d->start(), ASE_OK);
    ASSERT_TRUE(h.waitForSwitches(5, 5000));
    vdac::setStalled(true);
    DWORD t0 = GetTickCount();
    while (h.resetRequests.load() < stall && GetTickCount() - t0 < 6000) Sleep(20);
    EXPECT_EQ(h.resetRequests.load(), stall);
    EXPECT_GE(GetTickCount() - t0, 1500u);
    Sleep(2500);
    EXPECT_EQ(h.resetRequests.load(), stall);  // once per createBuffers
    vdac::setStalled(false);
    ASSERT_EQ(d->stop(), ASE_OK);
    ASSERT_EQ(d->disposeBuffers(), ASE_OK);
    h.makeInfos(2, 2);
    ASSERT_EQ(h.create(d.driver, 480, 480 * 3), ASE_OK);
  }
  ASSERT_EQ(d->disposeBuffers(), ASE_OK);
}

TEST_P(StreamTest, RemovalMidStreamStillLetsTheHostStopAndRelease) {
  {
    DriverRef d(host::freshClsid(), variant());
    Harness h;
    open(d, h, {48000, 32, 480});
    ASSERT_EQ(d->start(), ASE_OK);
    ASSERT_TRUE(h.waitForSwitches(5, 5000));
    vdac::setRemoved(true);
    // The stream stops for good: the watchdog asks the host to reset.
    const DWORD t0 = GetTickCount();
    while (h.resetRequests.load() == 0 && GetTickCount() - t0 < 10000) Sleep(20);
    EXPECT_GE(h.resetRequests.load(), 1u);
    d->stop();
    d->disposeBuffers();
  }
  EXPECT_TRUE(block().free());
  vdac::setRemoved(false);
}

// Where new handles land. Handles are reused lowest-first, so the highest of a batch of
// new ones is the batch's place above the handles in use: one handle leaked (wherever it
// sits) moves it up. (GetProcessHandleCount answers 0 under this Wine.)
uintptr_t handleWatermark() {
  HANDLE batch[32];
  uintptr_t highest = 0;
  for (HANDLE& h : batch) {
    h = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    highest = std::max(highest, reinterpret_cast<uintptr_t>(h));
  }
  for (HANDLE h : batch) CloseHandle(h);
  return highest;
}

TEST_P(StreamTest, RepeatedCyclesLeakNoHandlesOrMemory) {
  auto cycle = [&] {
    DriverRef d(host::freshClsid(), variant());
    Harness h;
    open(d, h, {48000, 24, 480});
    ASSERT_EQ(d->start(), ASE_OK);
    ASSERT_TRUE(h.waitForSwitches(4, 5000));
    ASSERT_EQ(d->stop(), ASE_OK);
    ASSERT_EQ(d->disposeBuffers(), ASE_OK);
  };
  cycle();  // warm-up: the module's block, the seam's own first-use handles
  const uintptr_t before = handleWatermark();
  const long allocations = moduleLiveAllocations();
  for (int i = 0; i < 10; ++i) cycle();
  EXPECT_EQ(handleWatermark(), before);
  EXPECT_EQ(vdac::counters().openHandles, 0u);  // every device handle closed
  EXPECT_EQ(moduleLiveAllocations(), allocations);  // objects, host buffers, packets
  EXPECT_EQ(DllCanUnloadNow(), S_OK);  // no driver object left alive
}

TEST_P(StreamTest, ASecondInstanceLeavesTheOwnersFieldsAlone) {
  // One registration, two objects (a second host, or a host's probe instance).
  CLSID owner = host::freshClsid();
  DriverRef first(owner, variant());
  Harness h;
  open(first, h, {48000, 24, 480});
  StatusBlockView b = block();
  ASSERT_EQ(b.field(kState), uint32_t(kStatePrepared));
  ASSERT_EQ(b.field(offsetof(StatusBlockLayout, buffer)), 480u);
  ASSERT_EQ(first->start(), ASE_OK);
  {
    DriverRef second(owner, variant());
    ASSERT_EQ(second.created, S_OK);
    ASSERT_EQ(second->init(nullptr), ASIOTrue);
    EXPECT_EQ(second->canSampleRate(kDsd64), ASE_NoClock);  // DSD belongs to the owner
    ASSERT_EQ(second->setSampleRate(96000), ASE_OK);
    Harness other;
    other.makeInfos(2, 0);
    other.create(second.driver, 960, 960 * 3);  // its pins are taken: the block is what matters
    EXPECT_EQ(b.field(kState), uint32_t(kStateRunning));
    EXPECT_EQ(b.field(offsetof(StatusBlockLayout, buffer)), 480u);
    EXPECT_EQ(b.field(offsetof(StatusBlockLayout, rate)), 96000u);  // any instance writes the rate
    second->disposeBuffers();
  }
  // The second's end freed nothing: the owner still owns, publishes and hears the panel.
  EXPECT_TRUE(sameIdentity(b.owner(), owner));
  EXPECT_EQ(b.field(kState), uint32_t(kStateRunning));
  EXPECT_EQ(first->canSampleRate(kDsd64), ASE_OK);
  const uint32_t resets = h.resetRequests.load();
  ASSERT_TRUE(b.requestReset());
  DWORD t0 = GetTickCount();
  while (h.resetRequests.load() == resets && GetTickCount() - t0 < 5000) Sleep(5);
  EXPECT_EQ(h.resetRequests.load(), resets + 1);  // the panel's reset reached the host
  EXPECT_EQ(b.field(offsetof(StatusBlockLayout, resetRequest)), 0u);
  ASSERT_EQ(first->stop(), ASE_OK);
  EXPECT_EQ(b.field(kState), uint32_t(kStatePrepared));
  ASSERT_EQ(first->disposeBuffers(), ASE_OK);
}

TEST_P(StreamTest, BusyPinsFailCreateBuffersAndRefusedRunFailsStart) {
  // Another host holds the pins (they take one instance each).
  DriverRef other(host::freshClsid(), variant());
  Harness h;
  open(other, h, {48000, 24, 480});
  {
    DriverRef d(host::freshClsid(), variant());
    ASSERT_EQ(d.created, S_OK);
    ASSERT_EQ(d->init(nullptr), ASIOTrue);
    ASSERT_EQ(d->setSampleRate(48000), ASE_OK);
    Harness second;
    second.makeInfos(2, 2);
    EXPECT_EQ(second.create(d.driver, 480, 480 * 3), ASE_HWMalfunction);
    char message[124];
    std::memset(message, 'x', sizeof message);
    d->getErrorMessage(message);
    ASSERT_NE(std::memchr(message, 0, sizeof message), nullptr);
    EXPECT_NE(std::strstr(message, "in use"), nullptr) << message;
    // Nothing was left prepared: no start, and once the pins are free the buffers come.
    EXPECT_EQ(d->start(), ASE_OK);  // not prepared: nothing to start
    EXPECT_EQ(d->disposeBuffers(), ASE_InvalidParameter);
    ASSERT_EQ(other->disposeBuffers(), ASE_OK);
    ASSERT_EQ(second.create(d.driver, 480, 480 * 3), ASE_OK);
    // Pins that refuse to run: start fails and the state stays prepared.
    vdac::setRemoved(true);
    EXPECT_EQ(d->start(), ASE_HWMalfunction);
    d->getErrorMessage(message);
    EXPECT_NE(std::strstr(message, "did not start"), nullptr) << message;
    EXPECT_EQ(d->stop(), ASE_OK);
    d->disposeBuffers();
    vdac::setRemoved(false);
  }
}

TEST_P(StreamTest, ReleasedInsideASwitchItEndsAfterThePumpHasLeft) {
  Harness h;
  h.releaseInSwitch = true;
  {
    DriverRef d(host::freshClsid(), variant());
    open(d, h, {48000, 24, 480});
    ASSERT_EQ(d->start(), ASE_OK);
    d.driver = nullptr;  // the harness drops the only reference inside the fourth switch
  }
  // The object goes (stopped, disposed, the block freed) on a thread of its own.
  DWORD t0 = GetTickCount();
  while (DllCanUnloadNow() != S_OK && GetTickCount() - t0 < 10000) Sleep(5);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
  EXPECT_TRUE(block().free());
  EXPECT_EQ(block().state(), uint32_t(kStateUnload));
  EXPECT_GE(h.switchCount.load(), 4u);
  const uint32_t switches = h.switchCount.load();
  Sleep(50);
  EXPECT_EQ(h.switchCount.load(), switches);  // no switch after the end
}

class RefusingHidTest : public StreamTest {
  vdac::DacConfig dacConfig() override {
    vdac::DacConfig c;
    c.hidRefusesReports = true;
    return c;
  }
};

TEST_P(RefusingHidTest, AReportTheDeviceNeverTakesDoesNotHoldTheHost) {
  // Native DSD sends a mode report at createBuffers and three at disposeBuffers; DoP
  // off goes out at stop. None is ever taken; each call still returns.
  const DWORD t0 = GetTickCount();
  {
    DriverRef d(host::freshClsid(), variant());
    Harness h;
    open(d, h, {kDsd64, 32, 882 * 32});
    ASSERT_EQ(d->start(), ASE_OK);
    ASSERT_TRUE(h.waitForSwitches(3, 5000));
    ASSERT_EQ(d->stop(), ASE_OK);
    ASSERT_EQ(d->disposeBuffers(), ASE_OK);
    EXPECT_TRUE(vdac::hidReports().empty());
  }
  EXPECT_LT(GetTickCount() - t0, 30000u) << "a hang, not a speed figure";
  // Once the device takes reports again they arrive.
  vdac::setHidAccepting(true);
  DriverRef d(host::freshClsid(), variant());
  Harness h;
  open(d, h, {kDsd64, 32, 882 * 32});
  EXPECT_EQ(vdac::hidReports().size(), 1u);
  ASSERT_EQ(d->disposeBuffers(), ASE_OK);
}

TEST(ThreadScheduling, JoinsProAudioWhereTheSchedulerExists) {
  // Wine's avrt.dll offers the task, so the scope joins it here; without avrt.dll it
  // would simply not join.
  HMODULE avrt = LoadLibraryA("avrt.dll");
  const bool present = avrt && GetProcAddress(avrt, "AvSetMmThreadCharacteristicsA");
  {
    MmcssScope scope;
    EXPECT_EQ(scope.joined(), present);
    EXPECT_TRUE(present) << "avrt.dll is part of this Wine";
  }
  if (avrt) FreeLibrary(avrt);
}

INSTANTIATE_TEST_SUITE_P(Variants, StreamTest, ::testing::Values(Variant::KernelStreaming, Variant::CoreAudio),
                         variantLabel);
INSTANTIATE_TEST_SUITE_P(Variants, LoopbackTest, ::testing::Values(Variant::KernelStreaming, Variant::CoreAudio),
                         variantLabel);
INSTANTIATE_TEST_SUITE_P(Variants, RefusingHidTest, ::testing::Values(Variant::KernelStreaming, Variant::CoreAudio),
                         variantLabel);
