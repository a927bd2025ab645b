// The driver against a device as real USB audio hardware behaves: a clock off the PC's
// that completes packets in bursts on 1 ms frames, and removal as Windows does it (a
// surprise removal while streaming, the device coming back under a new instance, and a
// safe removal that waits for the driver's handles).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

#include <windows.h>

#include "DriverFixture.h"
#include "Module.h"

using namespace tess;
using host::DriverRef;
using host::Harness;

namespace {

constexpr uint32_t kBits = 24;
constexpr uint32_t kSampleBytes = kBits / 8;

// Byte k of output channel c's stream as the harness writes it.
uint8_t patternByte(uint32_t c, uint64_t k) {
  const uint64_t v = (k / kSampleBytes) * 2 + c + 1;
  return static_cast<uint8_t>(v >> (8 * (k % kSampleBytes)));
}

// Buffers of silence a variant plays before the host's first buffer, and the switches its
// loopback takes from output to input: the kernel-streaming variant primes two packets;
// the Core Audio variant's client holds one period more.
struct Latency {
  size_t primedBuffers, loopbackSwitches;
};
Latency latencyOf(host::Variant v) { return v == host::Variant::CoreAudio ? Latency{3, 3} : Latency{2, 2}; }

// What the device played since the last clearPlayed: silence for the primed buffers and
// for the periods it counted as missed (a late pump on a loaded machine), and otherwise
// the host's frames in order, none lost or repeated. The host's frames are never all zero.
// `toldPeriods`: periods the driver itself may have played as silence, as it told the host.
void expectPlayedInOrder(int32_t bufferFrames, size_t primedBuffers, uint64_t missedBefore, size_t minFrames,
                         uint64_t toldPeriods) {
  const std::vector<uint8_t> played = vdac::playedBytes(vdac::kRenderPinId);
  const uint64_t missed = vdac::pinStats(vdac::kRenderPinId).framesMissed - missedBefore;
  const size_t frameBytes = 2 * kSampleBytes;
  size_t silent = 0, host = 0;
  for (size_t f = 0; f < played.size() / frameBytes; ++f) {
    const uint8_t* frame = &played[f * frameBytes];
    if (std::all_of(frame, frame + frameBytes, [](uint8_t b) { return b == 0; })) {
      ++silent;
      continue;
    }
    for (uint32_t c = 0; c < 2; ++c) {
      for (uint32_t b = 0; b < kSampleBytes; ++b) {
        ASSERT_EQ(frame[c * kSampleBytes + b], patternByte(c, uint64_t(host) * kSampleBytes + b))
            << "frame " << f << " (host frame " << host << ") channel " << c;
      }
    }
    ++host;
  }
  EXPECT_GE(silent, primedBuffers * size_t(bufferFrames) + missed);
  EXPECT_LE(silent, primedBuffers * size_t(bufferFrames) + missed + toldPeriods * uint64_t(bufferFrames));
  EXPECT_GE(host, minFrames);
}

// Input channel 0 against output channel 0: the loopback brings the output of switch
// i - delay to the input of switch i, unless the device lost periods on a loaded machine
// (or the driver lost `toldPeriods` and told the host).
void expectLoopbackBitExact(const Harness& h, size_t delay, uint64_t toldPeriods) {
  const size_t half = h.halfBytes;
  const size_t buffers = std::min(h.inputLogBytes.load(), h.outputLogBytes.load()) / half;
  ASSERT_GT(buffers, 8u);
  const uint64_t missed =
      vdac::pinStats(vdac::kRenderPinId).periodsMissed + vdac::pinStats(vdac::kCapturePinId).periodsMissed +
      toldPeriods;
  size_t differing = 0;
  for (size_t i = delay; i < buffers; ++i) {
    differing += std::memcmp(h.inputLog.data() + i * half, h.outputLog[0].data() + (i - delay) * half, half) != 0;
  }
  if (missed == 0) {
    EXPECT_EQ(differing, 0u);
  } else {
    std::printf("the device missed %llu periods: %zu of %zu inputs differ\n", static_cast<unsigned long long>(missed),
                differing, buffers);
  }
}

// A thread's entry point (named: a lambda has the wrong calling convention on x86).
DWORD WINAPI runCall(void* call) {
  (*static_cast<std::function<void()>*>(call))();
  return 0;
}

// Runs `call` on a thread of its own; false when it has not returned within `limitMs` (a
// hang: the thread is left behind and the test fails).
bool returnsWithin(DWORD limitMs, const std::function<void()>& call) {
  auto* work = new std::function<void()>(call);
  HANDLE thread = CreateThread(nullptr, 0, runCall, work, 0, nullptr);
  if (!thread) {
    delete work;
    return false;
  }
  const bool returned = WaitForSingleObject(thread, limitMs) == WAIT_OBJECT_0;
  CloseHandle(thread);
  if (returned) delete work;
  return returned;
}

class DeviceClockTest : public DriverTest {
 protected:
  vdac::DacConfig dacConfig() override {
    vdac::DacConfig c;
    c.loopback = true;
    return c;
  }
  // init at 48000 Hz and createBuffers (2 outputs, `inputs` inputs, 24 bits).
  ASIOError open(DriverRef& d, Harness& h, int32_t bufferFrames, int32_t inputs = 2) {
    choose(100, kBits);
    EXPECT_EQ(d.created, S_OK);
    if (d.created != S_OK || d->init(nullptr) != ASIOTrue) return ASE_NotPresent;
    EXPECT_EQ(d->setSampleRate(48000), ASE_OK);
    h.sampleBytes = kSampleBytes;
    h.makeInfos(2, inputs);
    return h.create(d.driver, bufferFrames, uint32_t(bufferFrames) * kSampleBytes);
  }
  // Streams `switches` switches from a fresh start and checks what was played (and looped back).
  void streamBitExact(DriverRef& d, Harness& h, int32_t bufferFrames, uint32_t switches,
                      host::Variant variant = host::Variant::KernelStreaming) {
    vdac::clearPlayed();
    const uint64_t missedBefore = vdac::pinStats(vdac::kRenderPinId).framesMissed;
    ASSERT_EQ(d->start(), ASE_OK);
    ASSERT_TRUE(h.waitForSwitches(switches, 20000));
    ASSERT_EQ(d->stop(), ASE_OK);
    const Latency latency = latencyOf(variant);
    // A client asked for each period plays silence itself for a switch it did not get in
    // time (a burst can hold a captured period back), and tells the host so.
    const uint64_t told = variant == host::Variant::CoreAudio ? h.resyncRequests.load() : 0;
    expectPlayedInOrder(bufferFrames, latency.primedBuffers, missedBefore, size_t(switches - 4) * size_t(bufferFrames),
                        told);
    if (h.inputs > 0) expectLoopbackBitExact(h, latency.loopbackSwitches, told);
  }
};

}  // namespace

TEST_F(DeviceClockTest, ADriftingDeviceThatCompletesInBurstsStreamsBitExact) {
  // As USB audio drivers complete packets: on 1 ms frames in bursts of 4, render packets
  // when handed to the bus schedule 3 ms before they play; the device's crystal 100 ppm
  // off the PC's either way. With 2 ms buffers two render packets complete in the same
  // burst (render only: capture that completes in 4 ms bursts needs longer buffers).
  // The Core Audio variant streams through the same pins, so it meets the same clock.
  struct Case {
    int32_t ppm;
    bool renderOnly;
    int32_t bufferFrames;
    host::Variant variant;
  } cases[] = {{100, false, 480, host::Variant::KernelStreaming},
               {-100, false, 480, host::Variant::KernelStreaming},
               {100, true, 96, host::Variant::KernelStreaming},
               {-100, false, 480, host::Variant::CoreAudio}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << host::variantName(c.variant) << ", " << c.ppm << " ppm, buffer "
                                    << c.bufferFrames << (c.renderOnly ? ", render only" : ""));
    vdac::DacConfig config = dacConfig();
    config.clockDriftPpm = c.ppm;
    config.completion = {4, 3};
    config.renderOnly = c.renderOnly;
    ASSERT_TRUE(vdac::useVirtualDac(config));
    DriverRef d(host::freshClsid(), c.variant);
    Harness h;
    ASSERT_EQ(open(d, h, c.bufferFrames, c.renderOnly ? 0 : 2), ASE_OK);
    streamBitExact(d, h, c.bufferFrames, c.renderOnly ? 200 : 60, c.variant);
    ASSERT_EQ(d->disposeBuffers(), ASE_OK);
  }
}

TEST_F(DeviceClockTest, SurpriseRemovalAsksForAResetAndTheRecreatedDriverStreamsOnTheNewInstance) {
  const CLSID clsid = host::freshClsid();  // one registration: the host creates it again
  {
    auto* d = new DriverRef(clsid);
    Harness h;
    ASSERT_EQ(open(*d, h, 480), ASE_OK);
    ASSERT_EQ((*d)->start(), ASE_OK);
    ASSERT_TRUE(h.waitForSwitches(5, 5000));
    vdac::setRemoved(true);  // pulled out, the driver's handles still open
    // The host is told to reset (generous limit: a loaded machine).
    const DWORD t0 = GetTickCount();
    while (h.resetRequests.load() == 0 && GetTickCount() - t0 < 20000) Sleep(20);
    ASSERT_GE(h.resetRequests.load(), 1u);
    std::printf("reset request %lu ms after the removal\n", static_cast<unsigned long>(GetTickCount() - t0));
    // It resets: stop, disposeBuffers and release return although the device is gone.
    EXPECT_TRUE(returnsWithin(30000, [&] {
      (*d)->stop();
      (*d)->disposeBuffers();
      delete d;
    })) << "the driver hung on a removed device";
  }
  EXPECT_TRUE(block().free());
  EXPECT_EQ(vdac::counters().deviceHandles, 0u);

  // Back under a new instance; the host creates the driver again and it streams there.
  vdac::returnAsNewInstance();
  DriverRef d(clsid);
  Harness h;
  ASSERT_EQ(open(d, h, 480), ASE_OK);
  streamBitExact(d, h, 480, 40);
  ASSERT_EQ(d->disposeBuffers(), ASE_OK);
}

TEST_F(DeviceClockTest, AKeptDriverFailsCleanlyOnADeviceThatCameBackAsANewInstance) {
  // A host that answers the reset with disposeBuffers and createBuffers only: the driver
  // was bound to the old instance, whose handles fail for good. createBuffers (or start)
  // must fail and nothing may stream to a dead handle.
  DriverRef d(host::freshClsid());
  Harness h;
  ASSERT_EQ(open(d, h, 480), ASE_OK);
  ASSERT_EQ(d->start(), ASE_OK);
  ASSERT_TRUE(h.waitForSwitches(5, 5000));
  vdac::returnAsNewInstance();  // removed and back on another port at once
  EXPECT_TRUE(returnsWithin(30000, [&] {
    d->stop();
    d->disposeBuffers();
  }));
  const uint32_t createdBefore = vdac::pinStats(vdac::kRenderPinId).timesCreated;
  h.switchCount = 0;
  h.makeInfos(2, 2);
  const ASIOError created = h.create(d.driver, 480, 480 * kSampleBytes);
  const ASIOError started = created == ASE_OK ? d->start() : ASE_NotPresent;
  EXPECT_TRUE(created != ASE_OK || started != ASE_OK);
  char message[124] = {};
  d->getErrorMessage(message);
  EXPECT_NE(message[0], 0) << "no error message";
  std::printf("createBuffers after the return: %d, start: %d, \"%s\"\n", int(created), int(started), message);
  Sleep(200);
  EXPECT_EQ(h.switchCount.load(), 0u);
  EXPECT_EQ(vdac::pinStats(vdac::kRenderPinId).timesCreated, createdBefore);  // nothing opened on a dead filter
  if (created == ASE_OK) d->disposeBuffers();
}

TEST_F(DeviceClockTest, TheDriverHoldsTheDeviceOnlyWhileItNeedsIt) {
  // A safe removal waits for the device's handles: refused while the driver streams,
  // possible once the host released it. disposeBuffers closes the pins.
  {
    DriverRef d(host::freshClsid());
    Harness h;
    ASSERT_EQ(open(d, h, 480), ASE_OK);
    ASSERT_EQ(d->start(), ASE_OK);
    ASSERT_TRUE(h.waitForSwitches(3, 5000));
    EXPECT_FALSE(vdac::requestSafeRemoval());
    ASSERT_EQ(d->stop(), ASE_OK);
    ASSERT_EQ(d->disposeBuffers(), ASE_OK);
    EXPECT_FALSE(vdac::pinStats(vdac::kRenderPinId).open);
    EXPECT_FALSE(vdac::pinStats(vdac::kCapturePinId).open);
    // Initialized and idle, it keeps the filters init opened (a host that keeps the
    // driver loaded keeps the device from a safe removal).
    std::printf("handles the idle driver holds on the device: %llu\n",
                static_cast<unsigned long long>(vdac::counters().deviceHandles));
  }
  EXPECT_EQ(vdac::counters().deviceHandles, 0u);
  EXPECT_EQ(vdac::counters().openHandles, 0u);
  EXPECT_TRUE(vdac::requestSafeRemoval());
}
