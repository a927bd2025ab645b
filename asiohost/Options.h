// Command line of the ASIO test host.
#pragma once

#include <string>
#include <vector>

#include "Signals.h"

namespace asiohost {

enum class Command { List, Check, Play, Latency, Bench };
enum class OutputReadyMode { Auto, On, Off };

struct Options {
  Command command = Command::Check;
  std::string driver;    // empty: the only installed driver
  double rate = 0;       // 0: the driver's current rate
  int bufferFrames = 0;  // 0: from bufferMs, else the driver's preferred size
  double bufferMs = 0;
  double seconds = -1;  // < 0: the command's default
  int switches = 200;   // buffer switches of the conformance run
  SignalKind signal = SignalKind::Sine;
  double frequency = 1000;
  double levelDb = -6;
  std::string playFile;      // WAV to play (signal wav)
  std::string recordFile;    // WAV to record the inputs to
  std::string playedFile;    // WAV the device wrote of what it played, to compare with
  std::string jsonFile;      // summary; "-" for standard output
  std::vector<int> outputs;  // empty: every output
  std::vector<int> inputs;   // empty: every input (when recording)
  bool timeInfo = true;
  OutputReadyMode outputReady = OutputReadyMode::Auto;
  int expectBits = 0;             // check the PCM sample width
  int timeoutMs = 5000;           // limit of every wait on the driver
  bool quiet = false;             // no live status line
  std::vector<double> rates;      // bench: rates to sweep (empty: --rate, else 48000 and 384000)
  std::vector<double> buffersMs;  // bench: buffer durations (empty: 10, 5, 4, 3, 2 ms and the minimum)
  int cycles = 0;                 // > 0: create..release the driver this many times (soak)
  bool loopback = false;          // play: input 0 loops output 0 back; count its glitches
};

struct ParseResult {
  Options options;
  bool help = false;
  std::string error;  // non-empty: the command line is wrong
};

ParseResult parseOptions(const std::vector<std::string>& args);
const char* helpText();

}  // namespace asiohost
