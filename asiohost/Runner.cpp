#include "Runner.h"

#include <psapi.h>

#include <algorithm>
#include <cmath>

#include "AsioNames.h"
#include "Compare.h"
#include "HostSession.h"
#include "Json.h"
#include "Wav.h"

namespace asiohost {
namespace {

const char* commandName(Command c) {
  switch (c) {
    case Command::List: return "list";
    case Command::Check: return "check";
    case Command::Play: return "play";
    case Command::Latency: return "latency";
    case Command::Bench: return "bench";
  }
  return "?";
}

void printFigures(FILE* out, const HostSession& s) {
  const TimingFigures t = s.timing();
  const HostSession::Counters c = s.counters();
  std::fprintf(
      out, "Stream: %.0f Hz%s, %d frames (%.2f ms), outputs %s x%zu, inputs %s x%zu, time info %s, outputReady %s\n",
      s.streamRate(), s.dsd() ? " (native DSD)" : "", s.bufferFrames(), t.nominalPeriodMs,
      s.outputFormat() ? s.outputFormat()->name : "-", s.outputChannels().size(),
      s.inputFormat() ? s.inputFormat()->name : "-", s.inputChannels().size(), s.usedTimeInfo() ? "on" : "off",
      s.calledOutputReady() ? "called" : "not called");
  std::fprintf(out,
               "Switches: %llu (%llu after stop); requests: reset %llu, resync %llu, latency change %llu, buffer size "
               "%llu, overload %llu\n",
               static_cast<unsigned long long>(c.switches), static_cast<unsigned long long>(c.afterStop),
               static_cast<unsigned long long>(c.resets), static_cast<unsigned long long>(c.resyncs),
               static_cast<unsigned long long>(c.latencyChanges), static_cast<unsigned long long>(c.bufferSizeChanges),
               static_cast<unsigned long long>(c.overloads));
  std::fprintf(
      out,
      "Callback interval (ms): mean %.3f, median %.3f, p99 %.3f, max %.3f; lateness p99 %.3f, max %.3f; stalls %zu; "
      "lost periods %zu\n",
      t.intervalMs.mean, t.intervalMs.median, t.intervalMs.p99, t.intervalMs.max, t.latenessP99Ms, t.latenessMaxMs,
      t.stalls, t.lostPeriods);
  const ClockFigures k = clockOf(s.records().data(), s.records().size(), s.streamRate());
  if (k.hostPoints) {
    char stamps[96] = "no time stamps";
    if (k.stampPoints) {
      std::snprintf(stamps, sizeof stamps, "%.2f Hz by the driver's time stamps (%+.1f ppm)", k.stampRateHz,
                    k.stampPpm);
    }
    std::fprintf(out, "Clock: positions advance at %.2f Hz by the host's clock (%+.1f ppm), %s; last position %llu\n",
                 k.hostRateHz, k.hostPpm, stamps, static_cast<unsigned long long>(k.lastPosition));
  }
  // Thread and process times tick coarsely (10 ms and more): zero over a short run means unmeasured.
  char thread[32] = "n/a", process[32] = "n/a";
  if (s.cpuCallbackThreadUsPerPeriod() > 0)
    std::snprintf(thread, sizeof thread, "%.1f", s.cpuCallbackThreadUsPerPeriod());
  if (s.cpuProcessUsPerPeriod() > 0) std::snprintf(process, sizeof process, "%.1f", s.cpuProcessUsPerPeriod());
  std::fprintf(
      out, "CPU per period (us): inside callback mean %.1f, p99 %.1f, max %.1f; callback thread %s; whole process %s\n",
      t.insideUs.mean, t.insideUs.p99, t.insideUs.max, thread, process);
}

int recordInputs(FILE* out, const HostSession& s, const std::string& path) {
  if (s.inputChannels().empty() || !s.inputFormat()) {
    std::fprintf(stderr, "asiohost: nothing to record: the driver has no input channel\n");
    return 4;
  }
  if (s.inputFormat()->isDsd) {
    std::fprintf(stderr, "asiohost: DSD inputs are not recorded to WAV\n");
    return 4;
  }
  WavAudio w;
  w.rate = static_cast<uint32_t>(s.streamRate());
  w.channels = static_cast<int>(s.inputChannels().size());
  w.samples.assign(s.captured().begin(), s.captured().begin() + s.capturedFrames() * w.channels);
  const int bits = s.inputFormat()->isFloat      ? 32
                   : s.inputFormat()->bits <= 16 ? 16
                   : s.inputFormat()->bits <= 24 ? 24
                                                 : 32;
  std::string error;
  if (!writeWavFile(path, w, bits, error)) {
    std::fprintf(stderr, "asiohost: %s\n", error.c_str());
    return 4;
  }
  std::fprintf(out, "Recorded %zu frames of %d input(s) to %s (%d-bit)\n", s.capturedFrames(), w.channels, path.c_str(),
               bits);
  return 0;
}

struct RunState {
  CheckList checks;
  std::string error;
  Comparison comparison;
  bool compared = false;
  LoopbackLatency loopback;
  bool measuredLoopback = false;
  Comparison inputComparison;  // --loopback: input 0 against output 0
  bool comparedInput = false;
};

// Input 0 against output 0 (--loopback): found after the round trip, then followed frame
// by frame; where it departs is a glitch.
void compareLoopbackInput(RunState& st, const HostSession& session) {
  const size_t outs = session.outputChannels().size(), ins = session.inputChannels().size();
  if (outs == 0 || ins == 0 || session.dsd()) {
    st.checks.add("input follows the loopback", false, "needs a PCM output and an input");
    return;
  }
  std::vector<int32_t> sent(session.sentFrames());
  for (size_t f = 0; f < sent.size(); ++f) sent[f] = session.sent()[f * outs];
  WavAudio captured;
  captured.rate = static_cast<uint32_t>(session.streamRate());
  captured.channels = 1;
  captured.samples.resize(session.capturedFrames());
  for (size_t f = 0; f < captured.samples.size(); ++f) captured.samples[f] = session.captured()[f * ins];
  // The input trails the output by the round trip: the sent stream ends that much early.
  const size_t roundTripReach = captured.rate;
  if (sent.size() > roundTripReach) sent.resize(sent.size() - roundTripReach);
  st.inputComparison = comparePlayed(sent, 1, {0}, captured, roundTripReach);
  st.comparedInput = true;
  st.checks.add("input follows the loopback", st.inputComparison.aligned && st.inputComparison.bitExact,
                st.inputComparison.summary());
}

bool isDsdRate(double r) { return r == 2822400 || r == 5644800 || r == 11289600; }

StreamSetup setupFor(const Options& o) {
  StreamSetup setup;
  setup.rate = o.rate;
  setup.bufferFrames = o.bufferFrames;
  setup.bufferMs = o.bufferMs;
  setup.outputs = o.outputs;
  setup.inputs = o.inputs;
  setup.timeInfo = o.timeInfo;
  setup.outputReady = o.outputReady;
  setup.expectBits = o.expectBits;
  // The default tone becomes a DSD tone at a DSD rate.
  setup.signal.kind = o.signal == SignalKind::Sine && isDsdRate(o.rate) ? SignalKind::Dsd : o.signal;
  setup.signal.frequency = o.frequency;
  setup.signal.levelDb = o.levelDb;
  setup.wantInputs =
      o.command == Command::Latency || o.command == Command::Check || !o.recordFile.empty() || !o.inputs.empty();
  if (o.command == Command::Latency) {
    if (setup.outputs.empty()) setup.outputs = {0};
    if (setup.inputs.empty()) setup.inputs = {0};
  }
  if (o.loopback && o.command == Command::Play) {
    setup.wantInputs = true;
    if (setup.inputs.empty()) setup.inputs = {0};
  }
  const bool keep =
      !o.recordFile.empty() || !o.playedFile.empty() || o.command == Command::Latency || (o.loopback && o.command == Command::Play);
  if (keep) setup.keepSeconds = o.command == Command::Check ? 60 : o.seconds + 1;
  return setup;
}

void addLoopbackCheck(RunState& st, const HostSession& session) {
  const LoopbackLatency& l = st.loopback;
  const double rate = session.streamRate();
  const int32_t reported = session.facts().inputLatency + session.facts().outputLatency;
  char d[256];
  std::snprintf(d, sizeof d,
                "%zu of %zu markers; round trip %.0f frames (%.2f ms), min %lld, max %lld; "
                "getLatencies: input %d + output %d = %d frames (%.2f ms)",
                l.markersFound, l.markersSent, l.medianFrames, l.medianFrames * 1000.0 / rate,
                static_cast<long long>(l.minFrames), static_cast<long long>(l.maxFrames), session.facts().inputLatency,
                session.facts().outputLatency, reported, reported * 1000.0 / rate);
  st.checks.add("loopback marker comes back", l.markersSent > 0 && l.markersFound == l.markersSent, d);
}

// The command's steps; returns the exit status. The driver is released on the way when
// the run gets that far (what the device played may be written only then).
int runSteps(DriverRef& driver, HostSession& session, const Options& o, HWND sysHandle, FILE* out, RunState& st) {
  // Files first: a bad one should not cost a driver start.
  StreamSetup setup = setupFor(o);
  WavAudio wav;
  if (o.signal == SignalKind::Wav) {
    if (!readWavFile(o.playFile, wav, st.error)) return 4;
    setup.signal.wav = &wav;
    if (setup.rate <= 0) setup.rate = wav.rate;
    if (setup.rate != wav.rate) {
      char b[256];
      std::snprintf(b, sizeof b, "%s is %u Hz but the stream runs at %.0f Hz (no resampling here)", o.playFile.c_str(),
                    wav.rate, setup.rate);
      st.error = b;
      return 4;
    }
  }
  if (!session.init(sysHandle, st.error)) return 3;
  std::fprintf(out, "Driver: \"%s\", version %d\n", session.facts().name.c_str(), session.facts().version);
  if (o.command == Command::Check) session.query(st.checks);

  Failure failure = Failure::None;
  if (!session.prepare(setup, st.checks, failure, st.error)) return static_cast<int>(failure);

  const double seconds = o.command == Command::Check ? 0 : o.seconds;
  const size_t switches = o.command == Command::Check ? static_cast<size_t>(o.switches) : 0;
  std::string streamError;
  if (!session.stream(seconds, switches, !o.quiet, st.checks, streamError))
    std::fprintf(stderr, "asiohost: %s\n", streamError.c_str());
  session.dispose(st.checks);
  if (o.command == Command::Check) session.probeDsdRates(st.checks);
  printFigures(out, session);
  int status = 0;
  if (!o.recordFile.empty()) status = recordInputs(out, session, o.recordFile);
  if (o.command == Command::Latency) {
    const size_t ins = session.inputChannels().size();
    std::vector<int32_t> mono(ins ? session.capturedFrames() : 0);
    for (size_t f = 0; f < mono.size(); ++f) mono[f] = session.captured()[f * ins];
    st.loopback =
        measureLoopback(mono.data(), mono.size(), static_cast<uint32_t>(session.streamRate()), session.sentFrames());
    st.measuredLoopback = true;
    addLoopbackCheck(st, session);
  }

  if (o.loopback && o.command == Command::Play) compareLoopbackInput(st, session);

  const ULONG left = driver.reset();
  st.checks.add("release drops the last reference", left == 0, "Release returned " + std::to_string(left));
  if (!o.playedFile.empty()) {
    WavAudio played;
    if (!readWavFile(o.playedFile, played, st.error)) return 4;
    const std::vector<int>& map = session.outputChannels();
    const std::vector<int32_t> sent(session.sent().begin(), session.sent().begin() + session.sentFrames() * map.size());
    st.comparison =
        comparePlayed(sent, static_cast<int>(map.size()), map, played, static_cast<size_t>(played.rate) * 2);
    st.compared = true;
    st.checks.add("the device played what was sent", st.comparison.aligned && st.comparison.bitExact,
                  st.comparison.summary());
    // Where the driver's position stands against the device's own count: constant (the
    // primed buffers, less what was still queued at the stop) when the driver follows
    // the device's clock, whatever its drift.
    const ClockFigures k = clockOf(session.records().data(), session.records().size(), session.streamRate());
    if (k.hostPoints) {
      const long long ahead =
          static_cast<long long>(played.frames()) - static_cast<long long>(k.lastPosition + session.bufferFrames());
      std::fprintf(out,
                   "Played: %zu frames by the device; last position + one buffer %llu: the device %+lld frames "
                   "(%+.2f buffers)\n",
                   played.frames(), static_cast<unsigned long long>(k.lastPosition + session.bufferFrames()), ahead,
                   double(ahead) / session.bufferFrames());
    }
  }
  if (status == 0 && !st.checks.allPassed()) status = 1;
  return status;
}

void writeSummary(JsonWriter& j, const Options& o, const HostSession& session, const RunState& st, int status) {
  j.beginObject().key("command").value(commandName(o.command));
  j.key("checks").beginArray();
  for (const CheckResult& r : st.checks.results())
    j.beginObject().key("name").value(r.name).key("passed").value(r.passed).key("detail").value(r.detail).endObject();
  j.endArray();
  j.key("passed")
      .value(static_cast<uint64_t>(st.checks.passed()))
      .key("failed")
      .value(static_cast<uint64_t>(st.checks.failed()));
  session.writeJson(j);
  if (st.compared) {
    const Comparison& c = st.comparison;
    j.key("comparison").beginObject().key("aligned").value(c.aligned).key("bitExact").value(c.bitExact);
    j.key("offsetFrames").value(static_cast<uint64_t>(c.offsetFrames));
    j.key("comparedFrames")
        .value(static_cast<uint64_t>(c.comparedFrames))
        .key("summary")
        .value(c.summary())
        .key("glitches")
        .value(static_cast<uint64_t>(c.glitches))
        .key("glitchFrames")
        .value(static_cast<uint64_t>(c.glitchFrames))
        .endObject();
  }
  if (st.comparedInput) {
    const Comparison& c = st.inputComparison;
    j.key("loopbackInput").beginObject().key("aligned").value(c.aligned).key("bitExact").value(c.bitExact);
    j.key("roundTripFrames").value(static_cast<uint64_t>(c.offsetFrames));
    j.key("glitches").value(static_cast<uint64_t>(c.glitches)).key("glitchFrames").value(static_cast<uint64_t>(c.glitchFrames));
    j.key("summary").value(c.summary()).endObject();
  }
  if (st.measuredLoopback) {
    const double rate = session.streamRate();
    j.key("loopback").beginObject().key("markersSent").value(static_cast<uint64_t>(st.loopback.markersSent));
    j.key("markersFound").value(static_cast<uint64_t>(st.loopback.markersFound));
    j.key("roundTripFrames")
        .value(st.loopback.medianFrames)
        .key("roundTripMs")
        .value(st.loopback.medianFrames * 1000.0 / rate);
    j.key("reportedFrames").value(session.facts().inputLatency + session.facts().outputLatency).endObject();
  }
  j.key("exitCode").value(status);
  if (!st.error.empty()) j.key("error").value(st.error);
  j.endObject();
}

struct BenchRow {
  double rate;
  int32_t frames;
  bool ran;
  std::string error;
  uint64_t switches, resets;
  TimingFigures timing;
  double threadCpuUs, processCpuUs;
  size_t failedChecks;
  std::string firstFailure;
};

// One buffer-size sweep per rate, each row a fresh createBuffers..disposeBuffers stream.
int runBench(DriverRef& driver, HostSession& session, const Options& o, HWND sysHandle, CallGuard& guard, FILE* out,
             RunState& st, JsonWriter& rowsJson) {
  if (!session.init(sysHandle, st.error)) return 3;
  const std::vector<double> rates = !o.rates.empty() ? o.rates
                                    : o.rate > 0     ? std::vector<double>{o.rate}
                                                     : std::vector<double>{48000, 384000};
  const std::vector<double> durations = o.buffersMs.empty() ? std::vector<double>{10, 5, 4, 3, 2} : o.buffersMs;
  std::fprintf(out, "Driver \"%s\": %.1f s per row, time info %s\n", session.facts().name.c_str(), o.seconds,
               o.timeInfo ? "on" : "off");
  std::fprintf(out, "%8s %9s %7s %8s %6s %6s %6s %11s %11s %10s %10s %10s  %s\n", "rate", "buffer ms", "frames",
               "switches", "lost", "stalls", "resets", "late p99 ms", "late max ms", "cb cpu us", "thread us",
               "process us", "checks");
  std::vector<BenchRow> rows;
  int status = 0;
  for (double rate : rates) {
    IASIO* d = driver.get();
    ASIOError rc = guard.call("canSampleRate", [&] { return d->canSampleRate(rate); });
    if (rc == ASE_OK) rc = guard.call("setSampleRate", [&] { return d->setSampleRate(rate); });
    int32_t minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
    if (rc == ASE_OK)
      rc = guard.call("getBufferSize", [&] { return d->getBufferSize(&minSize, &maxSize, &preferred, &granularity); });
    if (rc != ASE_OK) {
      std::fprintf(out, "%8.0f  refused: %s\n", rate, asioErrorName(rc).c_str());
      rows.push_back({rate, 0, false, asioErrorName(rc), 0, 0, {}, 0, 0, 0, {}});
      status = std::max(status, 1);
      continue;
    }
    for (int32_t frames : sweepBufferFrames(rate, durations, minSize, maxSize, granularity, o.buffersMs.empty())) {
      Options rowOptions = o;
      rowOptions.rate = rate;
      rowOptions.bufferFrames = frames;
      rowOptions.bufferMs = 0;
      rowOptions.command = Command::Play;
      StreamSetup setup = setupFor(rowOptions);
      CheckList checks;
      Failure failure;
      BenchRow row{rate, frames, false, {}, 0, 0, {}, 0, 0, 0, {}};
      std::string error;
      if (!session.prepare(setup, checks, failure, error)) {
        row.error = error;
      } else {
        row.ran = session.stream(o.seconds, 0, false, checks, error);
        if (!row.ran) row.error = error;
        session.dispose(checks);
        const HostSession::Counters c = session.counters();
        row.switches = c.switches;
        row.resets = c.resets;
        row.timing = session.timing();
        row.threadCpuUs = session.cpuCallbackThreadUsPerPeriod();
        row.processCpuUs = session.cpuProcessUsPerPeriod();
      }
      row.failedChecks = checks.failed();
      for (const CheckResult& r : checks.results())
        if (!r.passed && row.firstFailure.empty()) row.firstFailure = r.name + ": " + r.detail;
      const double ms = 1000.0 * frames / rate;
      if (!row.error.empty() && row.switches == 0) {
        std::fprintf(out, "%8.0f %9.2f %7d  failed: %s\n", rate, ms, frames, row.error.c_str());
      } else {
        const TimingFigures& t = row.timing;
        // Thread and process times tick coarsely: zero over a short row means unmeasured.
        char thread[16] = "-", process[16] = "-";
        if (row.threadCpuUs > 0) std::snprintf(thread, sizeof thread, "%.1f", row.threadCpuUs);
        if (row.processCpuUs > 0) std::snprintf(process, sizeof process, "%.1f", row.processCpuUs);
        const std::string verdict =
            row.failedChecks ? std::to_string(row.failedChecks) + " failed (" + row.firstFailure + ")" : "ok";
        std::fprintf(out, "%8.0f %9.2f %7d %8llu %6zu %6zu %6llu %11.3f %11.3f %10.1f %10s %10s  %s\n", rate, ms,
                     frames, static_cast<unsigned long long>(row.switches), t.lostPeriods, t.stalls,
                     static_cast<unsigned long long>(row.resets), t.latenessP99Ms, t.latenessMaxMs, t.insideUs.mean,
                     thread, process, verdict.c_str());
      }
      std::fflush(out);
      if (row.failedChecks || !row.error.empty()) status = std::max(status, 1);
      rows.push_back(row);
    }
  }
  rowsJson.beginArray();
  for (const BenchRow& r : rows) {
    rowsJson.beginObject().key("rate").value(r.rate).key("bufferFrames").value(r.frames);
    rowsJson.key("bufferMs").value(r.frames ? 1000.0 * r.frames / r.rate : 0.0).key("switches").value(r.switches);
    rowsJson.key("stalls").value(static_cast<uint64_t>(r.timing.stalls)).key("resetRequests").value(r.resets);
    rowsJson.key("lostPeriods").value(static_cast<uint64_t>(r.timing.lostPeriods));
    rowsJson.key("latenessP99Ms").value(r.timing.latenessP99Ms).key("latenessMaxMs").value(r.timing.latenessMaxMs);
    rowsJson.key("cpuInsideCallbackUs").value(r.timing.insideUs.mean).key("cpuCallbackThreadUs").value(r.threadCpuUs);
    rowsJson.key("cpuProcessUs").value(r.processCpuUs).key("failedChecks").value(static_cast<uint64_t>(r.failedChecks));
    if (!r.error.empty()) rowsJson.key("error").value(r.error);
    rowsJson.endObject();
  }
  rowsJson.endArray();
  const ULONG left = driver.reset();
  if (left != 0) {
    std::fprintf(out, "Release returned %lu, not 0\n", static_cast<unsigned long>(left));
    status = std::max(status, 1);
  }
  return status;
}

// What the process holds, for the soak: where new handles land (handles are reused
// lowest-first, so a leaked one moves it up; the handle count is 0 under some Wines),
// the handle count, private bytes and the process heap's blocks in use.
struct ProcessFigures {
  uintptr_t handleWatermark = 0;
  DWORD handleCount = 0;
  uint64_t privateBytes = 0;
  uint64_t heapBytes = 0, heapBlocks = 0;
};

ProcessFigures measureProcess() {
  ProcessFigures f;
  HANDLE batch[32];
  for (HANDLE& h : batch) {
    h = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    f.handleWatermark = std::max(f.handleWatermark, reinterpret_cast<uintptr_t>(h));
  }
  for (HANDLE h : batch)
    if (h) CloseHandle(h);
  GetProcessHandleCount(GetCurrentProcess(), &f.handleCount);
  PROCESS_MEMORY_COUNTERS_EX m{};
  if (K32GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&m), sizeof m))
    f.privateBytes = m.PrivateUsage;
  // The process heap's blocks in use (HeapSummary is missing from some Wines).
  HANDLE heap = GetProcessHeap();
  if (HeapLock(heap)) {
    PROCESS_HEAP_ENTRY e{};
    while (HeapWalk(heap, &e)) {
      if (e.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
        f.heapBytes += e.cbData;
        ++f.heapBlocks;
      }
    }
    HeapUnlock(heap);
  }
  return f;
}

void printProcess(FILE* out, const char* when, const ProcessFigures& f) {
  std::fprintf(out,
               "%-22s handle watermark %6llu, handle count %5lu, private %8.1f KiB, heap in use %8.1f KiB in %llu "
               "blocks\n",
               when, static_cast<unsigned long long>(f.handleWatermark), static_cast<unsigned long>(f.handleCount),
               f.privateBytes / 1024.0, f.heapBytes / 1024.0, static_cast<unsigned long long>(f.heapBlocks));
}

}  // namespace

int runCycles(const InstalledDriver& installed, const Options& o, HWND sysHandle, CallGuard& guard, FILE* out) {
  Options play = o;
  play.command = Command::Play;
  const StreamSetup setup = setupFor(play);
  const double seconds = o.seconds > 0 ? o.seconds : 0;
  std::fprintf(out, "Cycles: %d x (create, init, createBuffers, start, %s, stop, disposeBuffers, release)\n",
               o.cycles, seconds > 0 ? "stream" : "8 switches");
  const ProcessFigures start = measureProcess();
  ProcessFigures warm;
  int status = 0;
  size_t failedCycles = 0, refusedReleases = 0;
  for (int i = 0; i < o.cycles; ++i) {
    std::string error;
    DriverRef driver = guard.call("CoCreateInstance", [&] { return createDriver(installed, error); });
    if (!driver) {
      std::fprintf(stderr, "asiohost: cycle %d: %s\n", i + 1, error.c_str());
      return 3;
    }
    {
      HostSession session(driver.get(), guard, out);
      CheckList checks;
      Failure failure = Failure::None;
      bool ok = session.init(sysHandle, error) && session.prepare(setup, checks, failure, error);
      if (ok) {
        ok = session.stream(seconds, seconds > 0 ? 0 : 8, false, checks, error);
        session.dispose(checks);
      }
      if (!ok || !checks.allPassed()) {
        if (failedCycles++ == 0) std::fprintf(out, "cycle %d failed: %s\n", i + 1, error.c_str());
        status = 1;
      }
    }
    if (driver.reset() != 0) ++refusedReleases;
    if (i == 0) warm = measureProcess();
  }
  const ProcessFigures end = measureProcess();
  printProcess(out, "before the first cycle", start);
  printProcess(out, "after the first cycle", warm);
  printProcess(out, "after the last cycle", end);
  const long long handleGrowth =
      static_cast<long long>(end.handleWatermark) - static_cast<long long>(warm.handleWatermark);
  const double privateGrowth = (static_cast<double>(end.privateBytes) - static_cast<double>(warm.privateBytes)) / 1024.0;
  const double heapGrowth = (static_cast<double>(end.heapBytes) - static_cast<double>(warm.heapBytes)) / 1024.0;
  std::fprintf(out,
               "Growth after the first cycle: handle watermark %+lld, private %+.1f KiB, heap in use %+.1f KiB; "
               "failed cycles %zu, releases that did not drop the last reference %zu\n",
               handleGrowth, privateGrowth, heapGrowth, failedCycles, refusedReleases);
  if (refusedReleases) status = 1;
  return status;
}

int runOnDriver(DriverRef driver, const Options& o, HWND sysHandle, CallGuard& guard, FILE* out) {
  RunState st;
  JsonWriter json;
  int status;
  {
    HostSession session(driver.get(), guard, out);
    if (o.command == Command::Bench) {
      JsonWriter rows;
      status = runBench(driver, session, o, sysHandle, guard, out, st, rows);
      if (status >= 2 && !st.error.empty()) std::fprintf(stderr, "asiohost: %s\n", st.error.c_str());
      json.beginObject().key("command").value("bench").key("driver").value(session.facts().name);
      json.key("secondsPerRow").value(o.seconds).key("exitCode").value(status);
      if (!st.error.empty()) json.key("error").value(st.error);
      json.key("rows");
      json.raw(rows.text().empty() ? "[]" : rows.text());
      json.endObject();
    } else {
      status = runSteps(driver, session, o, sysHandle, out, st);
      if (status >= 2 && !st.error.empty()) std::fprintf(stderr, "asiohost: %s\n", st.error.c_str());
      if (status <= 1 || !st.checks.results().empty()) {
        std::fprintf(out, "Checks:\n");
        st.checks.print(out);
      }
      writeSummary(json, o, session, st, status);
    }
  }
  if (!o.jsonFile.empty()) {
    if (o.jsonFile == "-") {
      std::fprintf(out, "%s\n", json.text().c_str());
    } else {
      FILE* f = std::fopen(o.jsonFile.c_str(), "w");
      const bool written = f && std::fputs(json.text().c_str(), f) >= 0;
      const bool closed = f && std::fclose(f) == 0;
      if (!written || !closed) {
        std::fprintf(stderr, "asiohost: cannot write %s\n", o.jsonFile.c_str());
        if (status == 0) status = 4;
      }
    }
  }
  return status;
}

}  // namespace asiohost
