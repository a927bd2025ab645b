#include "Options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace asiohost {
namespace {

bool toDouble(const std::string& s, double& out) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(s.c_str(), &end);
  if (errno || *end || !std::isfinite(v)) return false;
  out = v;
  return true;
}

bool toInt(const std::string& s, int& out) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (errno || *end || v < -2147483647L || v > 2147483647L) return false;
  out = static_cast<int>(v);
  return true;
}

bool toOnOff(const std::string& s, bool& out) {
  if (s == "on" || s == "yes" || s == "1") return out = true, true;
  if (s == "off" || s == "no" || s == "0") return out = false, true;
  return false;
}

// "0,1" or "0-3" or "2"
bool toChannelList(const std::string& s, std::vector<int>& out) {
  out.clear();
  size_t at = 0;
  while (at <= s.size()) {
    const size_t comma = s.find(',', at);
    const std::string item = s.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    const size_t dash = item.find('-');
    int from, to;
    if (dash == std::string::npos) {
      if (!toInt(item, from)) return false;
      to = from;
    } else if (!toInt(item.substr(0, dash), from) || !toInt(item.substr(dash + 1), to)) {
      return false;
    }
    if (from < 0 || to < from || to > 1023) return false;
    for (int c = from; c <= to; ++c) {
      if (std::find(out.begin(), out.end(), c) != out.end()) return false;  // each channel once
      out.push_back(c);
    }
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  return !out.empty();
}

// "48000,384000"
bool toNumberList(const std::string& s, std::vector<double>& out) {
  out.clear();
  size_t at = 0;
  for (;;) {
    const size_t comma = s.find(',', at);
    double v;
    if (!toDouble(s.substr(at, comma == std::string::npos ? std::string::npos : comma - at), v) || v <= 0) return false;
    out.push_back(v);
    if (comma == std::string::npos) return true;
    at = comma + 1;
  }
}

}  // namespace

const char* helpText() {
  return "Usage: asiohost COMMAND [options]\n"
         "\n"
         "An ASIO host for testing drivers: conformance checks, streaming, timing figures.\n"
         "\n"
         "Commands:\n"
         "  list                  list the installed ASIO drivers (both registry views)\n"
         "  check                 conformance run: queries, buffer switches, invariants\n"
         "  play                  stream a signal, record the inputs, print figures\n"
         "  latency               loopback round trip of a marker (output 0 to input 0)\n"
         "  bench                 sweep buffer sizes at one or more rates; print a table\n"
         "\n"
         "Options:\n"
         "  -d, --driver NAME     driver as listed (default: the only installed one)\n"
         "  -r, --rate HZ         sample rate; 2822400/5644800/11289600 stream native DSD\n"
         "  -b, --buffer FRAMES   buffer size in frames (default: the driver's preferred)\n"
         "      --buffer-ms MS    buffer size as a duration\n"
         "  -t, --seconds S       streaming time (play: 5, latency: 3, bench: 3 per row)\n"
         "  -n, --switches N      buffer switches of the conformance run (default 200)\n"
         "  -s, --signal KIND     sine, silence, wav, dsd, dop, marker (default sine)\n"
         "  -f, --frequency HZ    tone frequency (default 1000)\n"
         "  -l, --level DB        tone level in dBFS (default -6)\n"
         "  -i, --in FILE         WAV file to play (implies --signal wav)\n"
         "  -o, --out FILE        record the inputs to this WAV file\n"
         "  -c, --channels LIST   output channels, e.g. 0,1 or 0-1 (default all)\n"
         "      --inputs LIST     input channels to record (default all)\n"
         "      --time-info on|off       ask for bufferSwitchTimeInfo (default on)\n"
         "      --output-ready on|off|auto  call outputReady after each switch\n"
         "                               (default auto: when the driver supports it)\n"
         "      --expect-bits N   check that PCM channels carry N-bit samples\n"
         "      --compare FILE    WAV of what the device played, compared with what was sent\n"
         "                        (default: $TESSALINE_VIRTUAL_DEVICE_WAV when set)\n"
         "      --rates LIST      bench: rates to sweep (default --rate, else 48000,384000)\n"
         "      --buffers-ms LIST bench: buffer durations (default 10,5,4,3,2 and the minimum)\n"
         "      --cycles N        create, init, createBuffers, start, stop, dispose and release\n"
         "                        the driver N times (a few switches each, or -t), then print\n"
         "                        handle and memory figures\n"
         "      --loopback        play: input 0 carries output 0 back; count where it departs\n"
         "      --json FILE       write a JSON summary (- for standard output)\n"
         "      --timeout-ms MS   limit of every wait on the driver (default 5000)\n"
         "  -q, --quiet           no live status line\n"
         "  -h, --help            this text\n"
         "\n"
         "Exit status: 0 success, 1 a check failed or the comparison differed, 2 bad command\n"
         "line, 3 driver problem (missing, cannot be created, refused, timed out), 4 file problem.\n";
}

ParseResult parseOptions(const std::vector<std::string>& args) {
  ParseResult r;
  Options& o = r.options;
  bool haveCommand = false, signalGiven = false;
  auto fail = [&r](const std::string& e) {
    r.error = e;
    return r;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    std::string a = args[i], value;
    bool inlineValue = false;
    if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      const size_t eq = a.find('=');
      if (eq != std::string::npos) {
        value = a.substr(eq + 1);
        a = a.substr(0, eq);
        inlineValue = true;
      }
    }
    if (a == "-h" || a == "--help") {
      r.help = true;
      return r;
    }
    if (a.empty() || a[0] != '-') {
      if (haveCommand) return fail("unexpected argument '" + a + "'");
      if (a == "list")
        o.command = Command::List;
      else if (a == "check")
        o.command = Command::Check;
      else if (a == "play")
        o.command = Command::Play;
      else if (a == "latency")
        o.command = Command::Latency;
      else if (a == "bench")
        o.command = Command::Bench;
      else
        return fail("unknown command '" + a + "' (list, check, play, latency or bench)");
      haveCommand = true;
      continue;
    }
    static const char* const kFlags[] = {"-q", "--quiet", "--loopback"};
    const bool isFlag = a == kFlags[0] || a == kFlags[1] || a == kFlags[2];
    if (isFlag) {
      if (inlineValue) return fail("option '" + a + "' takes no value");
      if (a == "--loopback") o.loopback = true;
      else o.quiet = true;
      continue;
    }
    static const char* const kValued[] = {"-d",
                                          "--driver",
                                          "-r",
                                          "--rate",
                                          "-b",
                                          "--buffer",
                                          "--buffer-ms",
                                          "-t",
                                          "--seconds",
                                          "-n",
                                          "--switches",
                                          "-s",
                                          "--signal",
                                          "-f",
                                          "--frequency",
                                          "-l",
                                          "--level",
                                          "-i",
                                          "--in",
                                          "-o",
                                          "--out",
                                          "--compare",
                                          "--json",
                                          "-c",
                                          "--channels",
                                          "--inputs",
                                          "--time-info",
                                          "--rates",
                                          "--buffers-ms",
                                          "--output-ready",
                                          "--expect-bits",
                                          "--timeout-ms",
                                          "--cycles"};
    bool known = false;
    for (const char* k : kValued) known = known || a == k;
    if (!known) return fail("unknown option '" + a + "'");
    if (!inlineValue) {
      if (i + 1 >= args.size()) return fail("option '" + a + "' needs a value");
      value = args[++i];
    }
    const std::string bad = "invalid value '" + value + "' for " + a;
    if (a == "-d" || a == "--driver") {
      if (value.empty()) return fail(bad);
      o.driver = value;
    } else if (a == "-r" || a == "--rate") {
      if (!toDouble(value, o.rate) || o.rate <= 0) return fail(bad);
    } else if (a == "-b" || a == "--buffer") {
      if (!toInt(value, o.bufferFrames) || o.bufferFrames <= 0) return fail(bad);
    } else if (a == "--buffer-ms") {
      if (!toDouble(value, o.bufferMs) || o.bufferMs <= 0 || o.bufferMs > 10000) return fail(bad);
    } else if (a == "-t" || a == "--seconds") {
      if (!toDouble(value, o.seconds) || o.seconds <= 0 || o.seconds > 86400) return fail(bad);
    } else if (a == "-n" || a == "--switches") {
      if (!toInt(value, o.switches) || o.switches < 4 || o.switches > 1000000) return fail(bad + " (4 to 1000000)");
    } else if (a == "-s" || a == "--signal") {
      if (!signalFromName(value, o.signal)) return fail(bad + " (sine, silence, wav, dsd, dop or marker)");
      signalGiven = true;
    } else if (a == "-f" || a == "--frequency") {
      if (!toDouble(value, o.frequency) || o.frequency <= 0) return fail(bad);
    } else if (a == "-l" || a == "--level") {
      if (!toDouble(value, o.levelDb) || o.levelDb > 0) return fail(bad + " (dBFS, at most 0)");
    } else if (a == "-i" || a == "--in") {
      if (value.empty()) return fail(bad);
      o.playFile = value;
    } else if (a == "-o" || a == "--out") {
      if (value.empty()) return fail(bad);
      o.recordFile = value;
    } else if (a == "--compare") {
      if (value.empty()) return fail(bad);
      o.playedFile = value;
    } else if (a == "--json") {
      if (value.empty()) return fail(bad);
      o.jsonFile = value;
    } else if (a == "--cycles") {
      if (!toInt(value, o.cycles) || o.cycles < 1 || o.cycles > 1000000) return fail(bad + " (1 to 1000000)");
    } else if (a == "-c" || a == "--channels") {
      if (!toChannelList(value, o.outputs)) return fail(bad);
    } else if (a == "--rates") {
      if (!toNumberList(value, o.rates)) return fail(bad);
    } else if (a == "--buffers-ms") {
      if (!toNumberList(value, o.buffersMs)) return fail(bad);
    } else if (a == "--inputs") {
      if (!toChannelList(value, o.inputs)) return fail(bad);
    } else if (a == "--time-info") {
      if (!toOnOff(value, o.timeInfo)) return fail(bad + " (on or off)");
    } else if (a == "--output-ready") {
      bool on;
      if (value == "auto")
        o.outputReady = OutputReadyMode::Auto;
      else if (toOnOff(value, on))
        o.outputReady = on ? OutputReadyMode::On : OutputReadyMode::Off;
      else
        return fail(bad + " (on, off or auto)");
    } else if (a == "--expect-bits") {
      if (!toInt(value, o.expectBits) || (o.expectBits != 16 && o.expectBits != 24 && o.expectBits != 32))
        return fail(bad + " (16, 24 or 32)");
    } else if (a == "--timeout-ms") {
      if (!toInt(value, o.timeoutMs) || o.timeoutMs < 100 || o.timeoutMs > 600000)
        return fail(bad + " (100 to 600000)");
    }
  }
  if (!haveCommand) return fail("no command given (list, check, play, latency or bench); see --help");
  if (!o.playFile.empty()) {
    if (signalGiven && o.signal != SignalKind::Wav)
      return fail("--in plays a WAV file; it cannot go with --signal " + std::string(signalName(o.signal)));
    o.signal = SignalKind::Wav;
  } else if (o.signal == SignalKind::Wav) {
    return fail("--signal wav needs --in FILE");
  }
  if (o.bufferFrames > 0 && o.bufferMs > 0) return fail("give --buffer or --buffer-ms, not both");
  if (o.command == Command::Latency) {
    if (signalGiven && o.signal != SignalKind::Marker) return fail("latency plays its own marker signal");
    o.signal = SignalKind::Marker;
  }
  // A soak cycle streams a few switches unless a time is given.
  if (o.seconds < 0) o.seconds = o.cycles > 0 ? 0 : o.command == Command::Latency || o.command == Command::Bench ? 3 : 5;
  return r;
}

}  // namespace asiohost
