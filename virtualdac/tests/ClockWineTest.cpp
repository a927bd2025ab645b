// The virtual DAC's clock and removal as real devices show them: a crystal off the PC's,
// completions in bursts on the bus's 1 ms frames, and removal with handles still open
// followed by a return under a new device instance, or a safe removal that open handles
// refuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "SeamIo.h"
#include "VirtualDac.h"

using namespace seamio;
namespace vdac = tess::vdac;

namespace {

double seconds(const LARGE_INTEGER& t) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return double(t.QuadPart) / double(frequency.QuadPart);
}

class ClockTest : public testing::Test {
 protected:
  void TearDown() override {
    for (HANDLE h : opened_) tess::devices().closeHandle(h);
    vdac::stopUsingVirtualDac();
  }
  HANDLE keep(HANDLE h) {
    if (h && h != INVALID_HANDLE_VALUE) opened_.push_back(h);
    return h;
  }
  void close(HANDLE h) {
    opened_.erase(std::remove(opened_.begin(), opened_.end(), h), opened_.end());
    tess::devices().closeHandle(h);
  }
  HANDLE openRender(WORD bits, DWORD rate) {
    HANDLE filter = keep(openFilter(dacFilterPath()));
    EXPECT_NE(filter, INVALID_HANDLE_VALUE);
    HANDLE render = nullptr;
    EXPECT_EQ(createPin(filter, vdac::kRenderPinId, 2, bits, rate, render), DWORD{ERROR_SUCCESS});
    return keep(render);
  }
  std::vector<HANDLE> opened_;
};

// Streams 10 ms packets of 16-bit stereo at 48000 Hz, eight queued, and fits the frames
// the device has played (its own count, silence for late packets included) against the
// PC's clock at each completion: how far the device's rate is off nominal, in ppm. A
// least-squares fit over the run keeps the test thread's wake-up delays out of it.
double measuredDriftPpm(HANDLE render, int count) {
  constexpr DWORD kFrames = 480;
  constexpr int kQueued = 8;
  std::vector<std::unique_ptr<Packet>> ring;
  for (int i = 0; i < kQueued; ++i) ring.push_back(std::make_unique<Packet>(kFrames * 4, true));
  EXPECT_TRUE(stepTo(render, KSSTATE_STOP, KSSTATE_PAUSE));
  for (auto& p : ring) EXPECT_TRUE(p->submit(render, true));
  EXPECT_TRUE(setState(render, KSSTATE_RUN).ok);
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  int n = 0;
  for (int i = 0; i < count; ++i) {
    Packet& p = *ring[i % kQueued];
    DWORD error = 1, got = 0;
    if (!p.wait(render, 5000, error, got) || error != 0) {
      ADD_FAILURE() << "packet " << i << " did not complete";
      break;
    }
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const double x = seconds(now), y = double(vdac::pinStats(vdac::kRenderPinId).bytesPlayed / 4);
    sx += x, sy += y, sxx += x * x, sxy += x * y, ++n;
    EXPECT_TRUE(p.submit(render, true));
  }
  EXPECT_TRUE(stepTo(render, KSSTATE_RUN, KSSTATE_STOP));
  const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);  // frames per PC second
  return (slope / 48000.0 - 1.0) * 1e6;
}

}  // namespace

TEST_F(ClockTest, ADriftingDevicePlaysAtItsOwnRateAgainstThePcClock) {
  // Drift large enough to see in two seconds against a loaded machine's wake-ups; the
  // arithmetic at +-100 ppm is the model's own test. Plain and bursty completion alike.
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
  struct Case {
    int32_t ppm;
    uint32_t burstMs;
  } cases[] = {{5000, 0}, {-5000, 0}, {0, 0}, {5000, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.ppm << " ppm, bursts of " << c.burstMs << " ms");
    vdac::DacConfig config;
    config.clockDriftPpm = c.ppm;
    config.completion = {c.burstMs, c.burstMs};
    ASSERT_TRUE(vdac::useVirtualDac(config));
    HANDLE render = openRender(16, 48000);
    const double measured = measuredDriftPpm(render, 200);
    std::printf("device set %+d ppm (bursts %u ms): measured %+.0f ppm against the PC clock\n", c.ppm, c.burstMs,
                measured);
    EXPECT_NEAR(measured, c.ppm, 2000.0);
    for (HANDLE h : std::vector<HANDLE>(opened_)) close(h);
    vdac::stopUsingVirtualDac();
  }
}

TEST_F(ClockTest, BurstyCompletionHandsBackSeveralPacketsAtOnce) {
  // Sixteen packets of 1 ms queued before RUN: a plain device completes one a
  // millisecond; one completing in 4 ms bursts hands them back four or more at a time.
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
  vdac::DacConfig config;
  config.completion = {4, 3};
  ASSERT_TRUE(vdac::useVirtualDac(config));
  HANDLE render = openRender(16, 48000);
  constexpr int kPackets = 16;
  std::vector<std::unique_ptr<Packet>> packets;
  for (int i = 0; i < kPackets; ++i) {
    packets.push_back(std::make_unique<Packet>(48 * 4, true));
    for (size_t b = 0; b < packets.back()->data.size(); ++b) packets.back()->data[b] = uint8_t(i * 7 + b);
  }
  ASSERT_TRUE(stepTo(render, KSSTATE_STOP, KSSTATE_PAUSE));
  for (auto& p : packets) ASSERT_TRUE(p->submit(render, true));
  ASSERT_TRUE(setState(render, KSSTATE_RUN).ok);
  // When the waiter saw each packet complete; completions less than half a period apart
  // came in one burst (a device thread completing a burst signals one event after another).
  std::vector<double> seen;
  for (auto& p : packets) {
    DWORD error = 1, got = 0;
    ASSERT_TRUE(p->wait(render, 5000, error, got));
    ASSERT_EQ(error, 0u);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    seen.push_back(seconds(now));
  }
  int bursts = 1;
  for (size_t i = 1; i < seen.size(); ++i) bursts += seen[i] - seen[i - 1] > 0.0005;
  std::printf("16 packets of 1 ms came back in %d bursts\n", bursts);
  EXPECT_LE(bursts, kPackets / 2);
  // In order and whole.
  std::vector<uint8_t> expected;
  for (auto& p : packets) expected.insert(expected.end(), p->data.begin(), p->data.end());
  EXPECT_EQ(vdac::playedBytes(vdac::kRenderPinId), expected);
  EXPECT_TRUE(stepTo(render, KSSTATE_RUN, KSSTATE_STOP));
}

TEST_F(ClockTest, RemovedWithHandlesOpenItReturnsAsANewDevice) {
  ASSERT_TRUE(vdac::useVirtualDac());
  const std::string oldPath = dacFilterPath(), oldId = vdac::dacInstanceId();
  HANDLE render = openRender(16, 48000);
  HANDLE filter = opened_.front();
  EXPECT_EQ(vdac::counters().deviceHandles, 2u);
  // A safe removal waits for the handles: refused while they work.
  EXPECT_FALSE(vdac::requestSafeRemoval());
  EXPECT_EQ(vdac::counters().safeRemovalsRefused, 1u);
  EXPECT_EQ(dacFilterPath(), oldPath);

  // Pulled out while streaming, plugged into another port.
  Packet queued(480 * 4, true);
  ASSERT_TRUE(stepTo(render, KSSTATE_STOP, KSSTATE_RUN));
  ASSERT_TRUE(queued.submit(render, true));
  vdac::returnAsNewInstance();
  DWORD error = 0, got = 0;
  ASSERT_TRUE(queued.wait(render, 5000, error, got));
  EXPECT_EQ(error, DWORD{ERROR_DEVICE_REMOVED});
  const std::string newPath = dacFilterPath(), newId = vdac::dacInstanceId();
  ASSERT_FALSE(newPath.empty());
  EXPECT_NE(newId, oldId);
  EXPECT_NE(newPath, oldPath);
  const std::string function = "usb#vid_1209&pid_0007&mi_01#";  // same VID, PID and MI
  EXPECT_EQ(newPath.compare(4, function.size(), function), 0) << newPath;
  EXPECT_EQ(newId.compare(0, 27, oldId, 0, 27), 0) << newId;
  // The old device's handles keep failing and its path no longer opens.
  EXPECT_EQ(setState(render, KSSTATE_PAUSE).error, DWORD{ERROR_DEVICE_REMOVED});
  ULONG count = 0;
  EXPECT_EQ(pinProperty(filter, 0, KSPROPERTY_PIN_CTYPES, &count, sizeof count).error, DWORD{ERROR_DEVICE_REMOVED});
  EXPECT_EQ(openFilter(oldPath), INVALID_HANDLE_VALUE);
  EXPECT_EQ(vdac::counters().deviceHandles, 0u);  // open, but no longer on a device

  // The new device streams while the old handles are still open.
  HANDLE again = openRender(16, 48000);
  Packet played(480 * 4, true);
  ASSERT_TRUE(stepTo(again, KSSTATE_STOP, KSSTATE_RUN));
  ASSERT_TRUE(played.submit(again, true));
  ASSERT_TRUE(played.wait(again, 5000, error, got));
  EXPECT_EQ(error, 0u);
  EXPECT_TRUE(stepTo(again, KSSTATE_RUN, KSSTATE_STOP));

  // Once the program closes what it holds on the new device, a safe removal goes.
  EXPECT_FALSE(vdac::requestSafeRemoval());
  for (HANDLE h : std::vector<HANDLE>(opened_)) close(h);
  EXPECT_EQ(vdac::counters().openHandles, 0u);
  EXPECT_TRUE(vdac::requestSafeRemoval());
  EXPECT_TRUE(dacFilterPath().empty());
}
