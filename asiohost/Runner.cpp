#include "Runner.h"

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
  }
  return "?";
}

void printFigures(FILE* out, const HostSession& s) {
  const TimingFigures t = s.timing();
  const HostSession::Counters c = s.counters();
  std::fprintf(out, "Stream: %.0f Hz%s, %d frames (%.2f ms), outputs %s x%zu, inputs %s x%zu, time info %s, outputReady %s\n",
               s.streamRate(), s.dsd() ? " (native DSD)" : "", s.bufferFrames(), t.nominalPeriodMs,
               s.outputFormat() ? s.outputFormat()->name : "-", s.outputChannels().size(),
               s.inputFormat() ? s.inputFormat()->name : "-", s.inputChannels().size(), s.usedTimeInfo() ? "on" : "off",
               s.calledOutputReady() ? "called" : "not called");
  std::fprintf(out, "Switches: %llu (%llu after stop); requests: reset %llu, resync %llu, latency change %llu, buffer size %llu, overload %llu\n",
               static_cast<unsigned long long>(c.switches), static_cast<unsigned long long>(c.afterStop),
               static_cast<unsigned long long>(c.resets), static_cast<unsigned long long>(c.resyncs),
               static_cast<unsigned long long>(c.latencyChanges), static_cast<unsigned long long>(c.bufferSizeChanges),
               static_cast<unsigned long long>(c.overloads));
  std::fprintf(out, "Callback interval (ms): mean %.3f, median %.3f, p99 %.3f, max %.3f; lateness p99 %.3f, max %.3f; stalls %zu\n",
               t.intervalMs.mean, t.intervalMs.median, t.intervalMs.p99, t.intervalMs.max, t.latenessP99Ms, t.latenessMaxMs,
               t.stalls);
  std::fprintf(out, "CPU per period (us): inside callback mean %.1f, p99 %.1f, max %.1f; callback thread %.1f; whole process %.1f\n",
               t.insideUs.mean, t.insideUs.p99, t.insideUs.max, s.cpuCallbackThreadUsPerPeriod(), s.cpuProcessUsPerPeriod());
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
  const int bits = s.inputFormat()->isFloat ? 32 : s.inputFormat()->bits <= 16 ? 16 : s.inputFormat()->bits <= 24 ? 24 : 32;
  std::string error;
  if (!writeWavFile(path, w, bits, error)) {
    std::fprintf(stderr, "asiohost: %s\n", error.c_str());
    return 4;
  }
  std::fprintf(out, "Recorded %zu frames of %d input(s) to %s (%d-bit)\n", s.capturedFrames(), w.channels, path.c_str(), bits);
  return 0;
}

struct RunState {
  CheckList checks;
  std::string error;
  Comparison comparison;
  bool compared = false;
  LoopbackLatency loopback;
  bool measuredLoopback = false;
};

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
  setup.wantInputs = o.command == Command::Latency || o.command == Command::Check || !o.recordFile.empty() || !o.inputs.empty();
  if (o.command == Command::Latency) {
    if (setup.outputs.empty()) setup.outputs = {0};
    if (setup.inputs.empty()) setup.inputs = {0};
  }
  const bool keep = !o.recordFile.empty() || !o.playedFile.empty() || o.command == Command::Latency;
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
  printFigures(out, session);
  int status = 0;
  if (!o.recordFile.empty()) status = recordInputs(out, session, o.recordFile);
  if (o.command == Command::Latency) {
    const size_t ins = session.inputChannels().size();
    std::vector<int32_t> mono(ins ? session.capturedFrames() : 0);
    for (size_t f = 0; f < mono.size(); ++f) mono[f] = session.captured()[f * ins];
    st.loopback = measureLoopback(mono.data(), mono.size(), static_cast<uint32_t>(session.streamRate()), session.sentFrames());
    st.measuredLoopback = true;
    addLoopbackCheck(st, session);
  }

  const ULONG left = driver.reset();
  st.checks.add("release drops the last reference", left == 0, "Release returned " + std::to_string(left));
  if (!o.playedFile.empty()) {
    WavAudio played;
    if (!readWavFile(o.playedFile, played, st.error)) return 4;
    const std::vector<int>& map = session.outputChannels();
    const std::vector<int32_t> sent(session.sent().begin(), session.sent().begin() + session.sentFrames() * map.size());
    st.comparison = comparePlayed(sent, static_cast<int>(map.size()), map, played, static_cast<size_t>(played.rate) * 2);
    st.compared = true;
    st.checks.add("the device played what was sent", st.comparison.aligned && st.comparison.bitExact, st.comparison.summary());
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
  j.key("passed").value(static_cast<uint64_t>(st.checks.passed())).key("failed").value(static_cast<uint64_t>(st.checks.failed()));
  session.writeJson(j);
  if (st.compared) {
    const Comparison& c = st.comparison;
    j.key("comparison").beginObject().key("aligned").value(c.aligned).key("bitExact").value(c.bitExact);
    j.key("offsetFrames").value(static_cast<uint64_t>(c.offsetFrames));
    j.key("comparedFrames").value(static_cast<uint64_t>(c.comparedFrames)).key("summary").value(c.summary()).endObject();
  }
  if (st.measuredLoopback) {
    const double rate = session.streamRate();
    j.key("loopback").beginObject().key("markersSent").value(static_cast<uint64_t>(st.loopback.markersSent));
    j.key("markersFound").value(static_cast<uint64_t>(st.loopback.markersFound));
    j.key("roundTripFrames").value(st.loopback.medianFrames).key("roundTripMs").value(st.loopback.medianFrames * 1000.0 / rate);
    j.key("reportedFrames").value(session.facts().inputLatency + session.facts().outputLatency).endObject();
  }
  j.key("exitCode").value(status);
  if (!st.error.empty()) j.key("error").value(st.error);
  j.endObject();
}

}  // namespace

int runOnDriver(DriverRef driver, const Options& o, HWND sysHandle, CallGuard& guard, FILE* out) {
  RunState st;
  JsonWriter json;
  int status;
  {
    HostSession session(driver.get(), guard, out);
    status = runSteps(driver, session, o, sysHandle, out, st);
    if (status >= 2 && !st.error.empty()) std::fprintf(stderr, "asiohost: %s\n", st.error.c_str());
    if (status <= 1 || !st.checks.results().empty()) {
      std::fprintf(out, "Checks:\n");
      st.checks.print(out);
    }
    writeSummary(json, o, session, st, status);
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
