#include <gtest/gtest.h>

#include "Asio.h"
#include "Checks.h"
#include "Json.h"
#include "Stats.h"

namespace asiohost {
namespace {

// A well-behaved run: halves 0,1,0,..., positions by one buffer, 10 ms apart.
std::vector<SwitchRecord> goodRun(size_t n, int32_t buffer) {
  std::vector<SwitchRecord> r(n);
  for (size_t i = 0; i < n; ++i) {
    r[i].half = static_cast<int32_t>(i & 1);
    r[i].positionValid = r[i].timeValid = r[i].fromTimeInfo = r[i].queriedValid = true;
    r[i].position = r[i].queriedPosition = i * buffer;
    r[i].systemTimeNs = 1000000000ull + i * 10000000ull;
    r[i].arrivalNs = static_cast<int64_t>(i) * 10000000;
    r[i].insideNs = 20000;
  }
  return r;
}

bool allPass(const std::vector<SwitchRecord>& r, int32_t buffer, std::string& failed) {
  for (const CheckResult& c :
       {checkHalvesAlternate(r.data(), r.size()), checkPositionsAdvance(r.data(), r.size(), buffer),
        checkTimestampsMonotonic(r.data(), r.size()), checkSamplePositionAgrees(r.data(), r.size())})
    if (!c.passed) {
      failed = c.name + ": " + c.detail;
      return false;
    }
  return true;
}

TEST(Checks, SwitchInvariants) {
  std::string failed;
  ASSERT_TRUE(allPass(goodRun(50, 480), 480, failed)) << failed;

  struct Case {
    const char* what;
    void (*spoil)(std::vector<SwitchRecord>&);
    const char* failing;
  } cases[] = {
      {"repeated half",
       [](std::vector<SwitchRecord>& r) {
         r[7].half = r[6].half;
         r[8].half = r[7].half ^ 1;
       },
       "switches 6 and 7 both carry half"},
      {"half out of range", [](std::vector<SwitchRecord>& r) { r[3].half = 2; }, "carries half 2"},
      {"position stalls",
       [](std::vector<SwitchRecord>& r) {
         for (size_t i = 10; i < r.size(); ++i) r[i].position -= 480, r[i].queriedPosition -= 480;
       },
       "step 0, expected 480"},
      {"position jumps",
       [](std::vector<SwitchRecord>& r) {
         for (size_t i = 10; i < r.size(); ++i) r[i].position += 1, r[i].queriedPosition += 1;
       },
       "step 481"},
      {"position runs back", [](std::vector<SwitchRecord>& r) { r[20].position = r[20].queriedPosition = 0; },
       "step -9120"},
      {"no position", [](std::vector<SwitchRecord>& r) { r[5].positionValid = false; }, "no valid sample position"},
      {"time backwards", [](std::vector<SwitchRecord>& r) { r[9].systemTimeNs = r[8].systemTimeNs - 1; },
       "system time"},
      {"getSamplePosition disagrees", [](std::vector<SwitchRecord>& r) { r[4].queriedPosition += 480; },
       "getSamplePosition 2400"},
      {"getSamplePosition fails", [](std::vector<SwitchRecord>& r) { r[4].queriedValid = false; },
       "failed in switch 4"},
  };
  for (const Case& c : cases) {
    std::vector<SwitchRecord> r = goodRun(50, 480);
    c.spoil(r);
    EXPECT_FALSE(allPass(r, 480, failed)) << c.what;
    EXPECT_NE(failed.find(c.failing), std::string::npos) << c.what << " -> " << failed;
  }
  EXPECT_FALSE(checkHalvesAlternate(nullptr, 0).passed);
  EXPECT_FALSE(checkSwitchesArrived(10, 200, 5000).passed);
  EXPECT_TRUE(checkSwitchesArrived(200, 200, 2000).passed);
  EXPECT_FALSE(checkNoSwitchAfterStop(1, 50).passed);
  EXPECT_TRUE(checkNoSwitchAfterStop(0, 50).passed);
}

TEST(Checks, SampleTypesAndDsd) {
  const std::vector<ChannelType> pcm24 = {
      {false, 0, ASIOSTInt24LSB}, {false, 1, ASIOSTInt24LSB}, {true, 0, ASIOSTInt24LSB}};
  EXPECT_TRUE(checkSampleTypes(pcm24, 24).passed);
  EXPECT_TRUE(checkSampleTypes(pcm24, 0).passed);
  EXPECT_FALSE(checkSampleTypes(pcm24, 32).passed);
  EXPECT_FALSE(checkSampleTypes({{false, 0, ASIOSTInt24LSB}, {false, 1, ASIOSTInt32LSB}}, 0).passed);
  EXPECT_FALSE(checkSampleTypes({{false, 0, 77}}, 0).passed);
  EXPECT_TRUE(checkDsdTypes(pcm24, 48000, false).passed);
  EXPECT_FALSE(checkDsdTypes(pcm24, 2822400, true).passed);
  EXPECT_TRUE(checkDsdTypes({{false, 0, ASIOSTDSDInt8MSB1}, {true, 0, ASIOSTDSDInt8MSB1}}, 2822400, true).passed);
  EXPECT_FALSE(checkDsdTypes({{false, 0, ASIOSTDSDInt8MSB1}}, 48000, false).passed);
}

TEST(Checks, BufferSizesAndTheListSummary) {
  EXPECT_TRUE(checkBufferSizes(96, 28800, 480, 48).passed);
  EXPECT_TRUE(checkBufferSizes(64, 2048, 256, -1).passed);
  EXPECT_FALSE(checkBufferSizes(64, 2048, 200, -1).passed);
  EXPECT_FALSE(checkBufferSizes(480, 96, 256, 48).passed);
  EXPECT_TRUE(checkBufferSizes(512, 512, 512, 0).passed);

  CheckList list;
  list.add("a", true);
  list.add("b", false, "why");
  EXPECT_EQ(list.passed(), 1u);
  EXPECT_EQ(list.failed(), 1u);
  char* text = nullptr;
  size_t size = 0;
  FILE* f = open_memstream(&text, &size);
  list.print(f);
  std::fclose(f);
  EXPECT_STREQ(text, "  [pass] a\n  [FAIL] b: why\n1 passed, 1 failed\n");
  std::free(text);
}

TEST(Stats, DistributionAndLateness) {
  std::vector<double> v;
  for (int i = 1; i <= 200; ++i) v.push_back(i);
  const Distribution d = distributionOf(v);
  EXPECT_EQ(d.count, 200u);
  EXPECT_DOUBLE_EQ(d.mean, 100.5);
  EXPECT_DOUBLE_EQ(d.median, 100.5);
  EXPECT_DOUBLE_EQ(d.p99, 198);
  EXPECT_DOUBLE_EQ(d.max, 200);
  EXPECT_EQ(distributionOf({}).count, 0u);

  std::vector<SwitchRecord> r = goodRun(101, 480);
  r[50].arrivalNs += 25000000;  // one switch 25 ms late: a stall, then an early one
  for (size_t i = 51; i < r.size(); ++i) r[i].arrivalNs += 25000000;
  const TimingFigures t = timingOf(r.data(), r.size(), 10.0);
  EXPECT_EQ(t.intervalMs.count, 100u);
  EXPECT_EQ(t.stalls, 1u);
  EXPECT_NEAR(t.latenessMaxMs, 25.0, 1e-9);
  EXPECT_NEAR(t.intervalMs.median, 10.0, 1e-9);
  EXPECT_NEAR(t.insideUs.mean, 20.0, 1e-9);
  EXPECT_EQ(t.lostPeriods, 2u);  // 25 ms late with 10 ms periods: two periods without a switch
  EXPECT_EQ(timingOf(goodRun(101, 480).data(), 101, 10.0).lostPeriods, 0u);
}

TEST(Stats, ClockRatesFromPositionsAndStamps) {
  // A device 100 ppm fast: a 480-frame buffer every 9.999 ms of the host's clock. The
  // driver's stamps follow it with millisecond steps; the host's arrivals with jitter.
  std::vector<SwitchRecord> r = goodRun(60000, 480);
  for (size_t i = 0; i < r.size(); ++i) {
    const double due = i * 0.01 / 1.0001;
    r[i].arrivalNs = static_cast<int64_t>(due * 1e9) + static_cast<int64_t>((i * 7919) % 3000000);
    r[i].systemTimeNs = 5'000'000'000ull + static_cast<uint64_t>(due * 1e3) * 1'000'000ull;
  }
  ClockFigures c = clockOf(r.data(), r.size(), 48000);
  EXPECT_EQ(c.hostPoints, 60000u);
  EXPECT_NEAR(c.hostPpm, 100.0, 1.0);
  EXPECT_NEAR(c.stampPpm, 100.0, 1.0);
  EXPECT_NEAR(c.hostRateHz, 48004.8, 0.05);
  EXPECT_EQ(c.lastPosition, 59999u * 480);
  // Without time stamps there is no driver figure; too few switches give none at all.
  for (SwitchRecord& s : r) s.timeValid = false;
  c = clockOf(r.data(), r.size(), 48000);
  EXPECT_EQ(c.stampPoints, 0u);
  EXPECT_NEAR(c.hostPpm, 100.0, 1.0);
  EXPECT_EQ(clockOf(r.data(), 2, 48000).hostPoints, 0u);
}

TEST(Json, NestsEscapesAndSeparates) {
  JsonWriter j;
  j.beginObject().key("name").value("a\"b\\c\n\x01").key("n").value(3).key("x").value(0.5);
  j.key("list").beginArray().value(true).null().beginObject().endObject().endArray();
  j.key("inf").value(1.0 / 0.0).endObject();
  EXPECT_EQ(j.text(), "{\"name\":\"a\\\"b\\\\c\\n\\u0001\",\"n\":3,\"x\":0.5,\"list\":[true,null,{}],\"inf\":null}");
}

}  // namespace
}  // namespace asiohost

namespace asiohost {
namespace {

TEST(Stats, StatusLine) {
  EXPECT_EQ(statusLine(2.45, 240, {0.5, 0.0}, {1.0}, 1),
            "   2.5 s  switches 240  out dBFS -6.0 -inf  in dBFS 0.0  resets 1");
  EXPECT_EQ(statusLine(0, 0, {-1}, {}, 0), "   0.0 s  switches 0  out dBFS dsd  resets 0");
}

}  // namespace
}  // namespace asiohost

namespace asiohost {
namespace {

TEST(Stats, SweepBufferFrames) {
  // 48 kHz with a 2 ms minimum and 1 ms granularity: the table's durations, then the minimum.
  EXPECT_EQ(sweepBufferFrames(48000, {10, 5, 4, 3, 2}, 96, 28800, 48, true),
            (std::vector<int32_t>{480, 240, 192, 144, 96}));
  EXPECT_EQ(sweepBufferFrames(384000, {10, 1}, 768, 230400, 384, true), (std::vector<int32_t>{3840, 768}));
  // 44.1 kHz: 88 frames minimum, granularity 44; durations snap onto that grid.
  EXPECT_EQ(sweepBufferFrames(44100, {10}, 88, 26460, 44, false), (std::vector<int32_t>{440}));
  EXPECT_EQ(sweepBufferFrames(48000, {10, 5}, 64, 2048, -1, false), (std::vector<int32_t>{512, 256}));
  EXPECT_EQ(sweepBufferFrames(48000, {100}, 64, 2048, 0, false), (std::vector<int32_t>{2048}));
  EXPECT_TRUE(sweepBufferFrames(48000, {10}, 0, 0, 0, true).empty());
}

}  // namespace
}  // namespace asiohost
