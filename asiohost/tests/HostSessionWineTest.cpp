// The host against in-test drivers handed to it directly: its checks pass on a well-behaved
// driver and fail, each on its own invariant, on broken ones.
#include <gtest/gtest.h>

#include <cstdio>

#include "CallGuard.h"
#include "Compare.h"
#include "FakeDriver.h"
#include "HostSession.h"
#include "Runner.h"
#include "Wav.h"

namespace asiohost {
namespace {

struct Guard {
  int timeouts = 0;
  CallGuard guard{5000, [this](const char*, int) { ++timeouts; }};
};

const CheckResult* find(const CheckList& list, const std::string& name) {
  for (const CheckResult& r : list.results())
    if (r.name == name) return &r;
  return nullptr;
}

std::string failures(const CheckList& list) {
  std::string s;
  for (const CheckResult& r : list.results())
    if (!r.passed) s += r.name + " (" + r.detail + "); ";
  return s;
}

// The conformance sequence on one driver: everything a host asks, then 40 switches.
CheckList conformance(FakeAsioDriver* driver, bool timeInfo = true, double rate = 0) {
  Guard g;
  CheckList checks;
  {
    HostSession s(driver, g.guard, stdout);
    std::string error;
    EXPECT_TRUE(s.init(nullptr, error)) << error;
    s.query(checks);
    StreamSetup setup;
    setup.rate = rate;
    setup.timeInfo = timeInfo;
    Failure failure;
    EXPECT_TRUE(s.prepare(setup, checks, failure, error)) << error;
    s.stream(0, 40, false, checks, error);
    s.dispose(checks);
    s.probeDsdRates(checks);
  }
  EXPECT_EQ(g.timeouts, 0);
  return checks;
}

TEST(HostSession, WellBehavedDriverPassesEveryCheck) {
  for (bool timeInfo : {true, false}) {
    FakeAsioDriver* d = new FakeAsioDriver(FakeFaults{});
    const CheckList checks = conformance(d, timeInfo);
    EXPECT_TRUE(checks.allPassed()) << failures(checks);
    EXPECT_GE(checks.results().size(), 18u);
    ASSERT_NE(find(checks, "DSD rate 2822400 Hz reports DSD sample types"), nullptr);
    EXPECT_EQ(d->Release(), 0u);
  }
}

TEST(HostSession, CallbackThreadCpuCountsOneThreadOnly) {
  // The first switch on the thread that called start (which has run for a while), the
  // rest on the driver's thread: the figure must not mix the two threads' times.
  const DWORD until = GetTickCount() + 200;
  volatile uint64_t spin = 0;
  while (GetTickCount() < until) spin = spin + 1;  // this thread's CPU time grows
  FakeFaults faults;
  faults.firstSwitchInStart = true;
  FakeAsioDriver* d = new FakeAsioDriver(faults);
  Guard g;
  {
    HostSession s(d, g.guard, stdout);
    std::string error;
    ASSERT_TRUE(s.init(nullptr, error)) << error;
    CheckList checks;
    StreamSetup setup;
    Failure failure;
    ASSERT_TRUE(s.prepare(setup, checks, failure, error)) << error;
    s.stream(0.3, 40, false, checks, error);
    s.dispose(checks);
    EXPECT_GE(s.cpuCallbackThreadUsPerPeriod(), 0.0);
    EXPECT_LT(s.cpuCallbackThreadUsPerPeriod(), 1e6) << "a wrapped figure";
  }
  EXPECT_EQ(d->Release(), 0u);
}

TEST(HostSession, BrokenDriversFailTheirCheck) {
  struct Case {
    const char* faults;
    const char* failing;
  } cases[] = {
      {"position", "sample position grows by one buffer per switch"},
      {"half", "switch halves alternate"},
      {"afterstop", "no switch after stop returns"},
      {"time", "timestamps never go backwards"},
      {"dsdtype", "DSD rate 2822400 Hz reports DSD sample types"},
  };
  for (const Case& c : cases) {
    FakeAsioDriver* d = new FakeAsioDriver(parseFakeFaults(c.faults));
    const CheckList checks = conformance(d);
    const CheckResult* r = find(checks, c.failing);
    ASSERT_NE(r, nullptr) << c.faults;
    EXPECT_FALSE(r->passed) << c.faults;
    EXPECT_EQ(checks.failed(), 1u) << c.faults << ": " << failures(checks);
    d->Release();
  }
}

// Plays through HostSession, then compares with what the fake driver says it played.
Comparison playAndCompare(FakeAsioDriver* d, double rate, SignalKind kind, int32_t& buffer) {
  Guard g;
  HostSession s(d, g.guard, stdout);
  std::string error;
  EXPECT_TRUE(s.init(nullptr, error));
  CheckList checks;
  StreamSetup setup;
  setup.rate = rate;
  setup.signal.kind = kind;
  setup.keepSeconds = 2;
  Failure failure;
  EXPECT_TRUE(s.prepare(setup, checks, failure, error)) << error;
  EXPECT_TRUE(s.stream(0.5, 0, false, checks, error)) << error;
  s.dispose(checks);
  EXPECT_TRUE(checks.allPassed()) << failures(checks);
  buffer = s.bufferFrames();
  WavAudio played;
  played.rate = static_cast<uint32_t>(rate);
  played.channels = FakeAsioDriver::kChannels;
  played.samples.assign(d->played().begin(), d->played().begin() + d->playedFrames() * 2);
  return comparePlayed(std::vector<int32_t>(s.sent().begin(), s.sent().begin() + s.sentFrames() * 2), 2, {0, 1}, played,
                       48000);
}

TEST(HostSession, WhatWasSentIsWhatThePlayerGot) {
  for (auto [rate, kind] : {std::pair<double, SignalKind>{48000, SignalKind::Sine},
                            {96000, SignalKind::Marker},
                            {2822400, SignalKind::Dsd}}) {
    FakeAsioDriver* d = new FakeAsioDriver(FakeFaults{});
    int32_t buffer = 0;
    const Comparison c = playAndCompare(d, rate, kind, buffer);
    EXPECT_TRUE(c.bitExact) << rate << ": " << c.summary();
    EXPECT_EQ(c.offsetFrames, 0u);
    EXPECT_GT(c.comparedFrames, static_cast<size_t>(rate / (rate > 1e6 ? 32 : 1) / 4));
    d->Release();
  }
}

TEST(HostSession, LoopbackMarkerGivesTheRoundTrip) {
  FakeAsioDriver* d = new FakeAsioDriver(FakeFaults{});
  Guard g;
  {
    HostSession s(d, g.guard, stdout);
    std::string error;
    ASSERT_TRUE(s.init(nullptr, error));
    CheckList checks;
    StreamSetup setup;
    setup.signal.kind = SignalKind::Marker;
    setup.wantInputs = true;
    setup.inputs = {0};
    setup.outputs = {0};
    setup.bufferFrames = 256;
    setup.keepSeconds = 3;
    Failure failure;
    ASSERT_TRUE(s.prepare(setup, checks, failure, error)) << error;
    ASSERT_TRUE(s.stream(1.3, 0, false, checks, error)) << error;
    s.dispose(checks);
    const LoopbackLatency l = measureLoopback(s.captured().data(), s.capturedFrames(), 48000, s.sentFrames());
    EXPECT_EQ(l.markersSent, 2u);
    EXPECT_EQ(l.markersFound, 2u);
    EXPECT_EQ(l.medianFrames, 512);  // the fake loops back two buffers later
  }
  d->Release();
}

int runCommand(FakeAsioDriver* d, const std::vector<std::string>& args, std::string& output) {
  const ParseResult p = parseOptions(args);
  EXPECT_TRUE(p.error.empty()) << p.error;
  Guard g;
  FILE* out = std::tmpfile();
  const int status = runOnDriver(DriverRef(d), p.options, nullptr, g.guard, out);
  std::rewind(out);
  output.clear();
  char line[512];
  while (std::fgets(line, sizeof line, out)) output += line;
  std::fclose(out);
  return status;
}

TEST(Runner, ExitStatusesAndOutput) {
  std::string out;
  EXPECT_EQ(runCommand(new FakeAsioDriver(FakeFaults{}), {"check", "-n", "30", "-q"}, out), 0) << out;
  EXPECT_NE(out.find("0 failed"), std::string::npos) << out;
  EXPECT_NE(out.find("[pass] release drops the last reference"), std::string::npos) << out;
  // The DSD probe after the stream changes rates (and so asks for resets): not the stream's.
  EXPECT_NE(out.find("requests: reset 0,"), std::string::npos) << out;

  EXPECT_EQ(
      runCommand(new FakeAsioDriver(parseFakeFaults("position,half,afterstop")), {"check", "-n", "30", "-q"}, out), 1);
  EXPECT_NE(out.find("[FAIL] switch halves alternate"), std::string::npos) << out;
  EXPECT_NE(out.find("[FAIL] sample position grows"), std::string::npos) << out;
  EXPECT_NE(out.find("[FAIL] no switch after stop returns"), std::string::npos) << out;
  EXPECT_NE(out.find("3 failed"), std::string::npos) << out;

  EXPECT_EQ(runCommand(new FakeAsioDriver(parseFakeFaults("init")), {"check", "-q"}, out), 3);
  EXPECT_EQ(runCommand(new FakeAsioDriver(parseFakeFaults("create")), {"play", "-t", "0.2", "-q"}, out), 3);
  EXPECT_EQ(runCommand(new FakeAsioDriver(FakeFaults{}), {"play", "-r", "32000", "-q"}, out), 3);  // rate refused
  EXPECT_EQ(runCommand(new FakeAsioDriver(FakeFaults{}), {"play", "-c", "5", "-q"}, out), 2);      // no such channel
  EXPECT_EQ(runCommand(new FakeAsioDriver(FakeFaults{}), {"play", "-i", "missing.wav", "-q"}, out), 4);
}

TEST(Runner, RecordsInputsAndWritesTheSummary) {
  char dir[MAX_PATH];
  ASSERT_GT(GetTempPathA(MAX_PATH, dir), 0u);
  const std::string wav = std::string(dir) + "asiohost_rec.wav", json = std::string(dir) + "asiohost_summary.json";
  std::string out;
  ASSERT_EQ(runCommand(new FakeAsioDriver(FakeFaults{}),
                       {"play", "-t", "0.5", "-q", "-o", wav, "--json", json, "-r", "44100", "-b", "441"}, out),
            0)
      << out;
  WavAudio rec;
  std::string error;
  ASSERT_TRUE(readWavFile(wav, rec, error)) << error;
  EXPECT_EQ(rec.rate, 44100u);
  EXPECT_EQ(rec.channels, 2);
  EXPECT_GE(rec.frames(), 44100u / 2 - 441);
  WavAudio summary;
  FILE* f = std::fopen(json.c_str(), "r");
  ASSERT_NE(f, nullptr);
  char text[8192] = {};
  const size_t n = std::fread(text, 1, sizeof text - 1, f);
  std::fclose(f);
  const std::string s(text, n);
  EXPECT_EQ(s.front(), '{');
  EXPECT_EQ(s.back(), '}');
  for (const char* key :
       {"\"command\":\"play\"", "\"bufferFrames\":441", "\"exitCode\":0", "\"latenessMs\"", "\"cpuUsPerPeriod\""})
    EXPECT_NE(s.find(key), std::string::npos) << key << " in " << s;
  DeleteFileA(wav.c_str());
  DeleteFileA(json.c_str());
}

TEST(CallGuard, ReportsOnlyCallsThatOverrun) {
  std::atomic<int> fired{0};
  std::string which;
  CallGuard g(150, [&](const char* call, int) {
    which = call;
    ++fired;
  });
  EXPECT_EQ(g.call("fast", [] { return 1; }), 1);
  Sleep(300);
  EXPECT_EQ(fired.load(), 0);
  g.call("slow", [] { Sleep(400); });
  EXPECT_EQ(fired.load(), 1);
  EXPECT_EQ(which, "slow");
}

}  // namespace
}  // namespace asiohost
