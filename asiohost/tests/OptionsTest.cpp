#include <gtest/gtest.h>

#include <sstream>

#include "Options.h"

namespace asiohost {
namespace {

std::vector<std::string> split(const std::string& s) {
  std::istringstream in(s);
  std::vector<std::string> v;
  for (std::string w; in >> w;) v.push_back(w);
  return v;
}

TEST(Options, ParsesTheUsualForms) {
  ParseResult r =
      parseOptions(split("play -d Tessaline --rate=176400 -b 441 -t 2.5 -s dop -c 0-1 --inputs 1 "
                         "--time-info off --output-ready on --json - -o rec.wav --expect-bits 24 -q"));
  ASSERT_TRUE(r.error.empty()) << r.error;
  const Options& o = r.options;
  EXPECT_EQ(o.command, Command::Play);
  EXPECT_EQ(o.driver, "Tessaline");
  EXPECT_EQ(o.rate, 176400);
  EXPECT_EQ(o.bufferFrames, 441);
  EXPECT_EQ(o.seconds, 2.5);
  EXPECT_EQ(o.signal, SignalKind::Dop);
  EXPECT_EQ(o.outputs, (std::vector<int>{0, 1}));
  EXPECT_EQ(o.inputs, (std::vector<int>{1}));
  EXPECT_FALSE(o.timeInfo);
  EXPECT_EQ(o.outputReady, OutputReadyMode::On);
  EXPECT_EQ(o.jsonFile, "-");
  EXPECT_EQ(o.recordFile, "rec.wav");
  EXPECT_EQ(o.expectBits, 24);
  EXPECT_TRUE(o.quiet);

  r = parseOptions(split("play --in song.wav"));
  ASSERT_TRUE(r.error.empty()) << r.error;
  EXPECT_EQ(r.options.signal, SignalKind::Wav);
  EXPECT_EQ(r.options.seconds, 5);
  r = parseOptions(split("latency"));
  EXPECT_EQ(r.options.signal, SignalKind::Marker);
  EXPECT_EQ(r.options.seconds, 3);
  r = parseOptions(split("bench --rates 48000,384000 --buffers-ms 10,2.5"));
  ASSERT_TRUE(r.error.empty()) << r.error;
  EXPECT_EQ(r.options.command, Command::Bench);
  EXPECT_EQ(r.options.rates, (std::vector<double>{48000, 384000}));
  EXPECT_EQ(r.options.buffersMs, (std::vector<double>{10, 2.5}));
  EXPECT_EQ(r.options.seconds, 3);
  EXPECT_TRUE(parseOptions(split("check --help")).help);
  EXPECT_TRUE(parseOptions(split("-h")).help);
}

TEST(Options, RejectsBadCommandLinesWithAReason) {
  struct Case {
    const char* line;
    const char* reason;
  } cases[] = {
      {"", "no command"},
      {"stream", "unknown command 'stream'"},
      {"play extra", "unexpected argument 'extra'"},
      {"play --rate", "needs a value"},
      {"play --rate abc", "invalid value 'abc' for --rate"},
      {"play --rate -48000", "invalid value"},
      {"play --buffer 0", "invalid value '0' for --buffer"},
      {"play --buffer 12x", "invalid value"},
      {"play --signal square", "sine, silence"},
      {"play --signal wav", "needs --in FILE"},
      {"play --signal sine --in a.wav", "cannot go with --signal sine"},
      {"play --channels 3-1", "invalid value '3-1'"},
      {"play --channels 0,,1", "invalid value"},
      {"play --channels 0,1,0-1", "invalid value '0,1,0-1'"},
      {"play --time-info maybe", "on or off"},
      {"play --level 3", "at most 0"},
      {"play --expect-bits 20", "16, 24 or 32"},
      {"play --buffer 480 --buffer-ms 10", "not both"},
      {"play --bogus 1", "unknown option '--bogus'"},
      {"play -q=1", "unknown option"},
      {"play --quiet=yes", "takes no value"},
      {"latency --signal sine", "own marker"},
      {"check --timeout-ms 5", "100 to 600000"},
      {"bench --rates 48000,", "invalid value '48000,'"},
      {"bench --buffers-ms 0", "invalid value '0'"},
  };
  for (const Case& c : cases) {
    const ParseResult r = parseOptions(split(c.line));
    EXPECT_NE(r.error.find(c.reason), std::string::npos) << "'" << c.line << "' -> '" << r.error << "'";
  }
}

}  // namespace
}  // namespace asiohost
