// DoP detection: marker runs that count and near-misses that must not, a cross-check against
// a literal sample-by-sample scan, and the decisions taken from a period's verdict.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "DopDetect.h"
#include "DopReference.h"

namespace tess::fmt {
namespace {

using Bytes = std::vector<uint8_t>;

// Samples of `s` bytes whose top byte is the given marker and whose low bytes vary.
Bytes withMarkers(const std::vector<uint8_t>& markers, uint32_t s) {
  Bytes b(markers.size() * s);
  for (size_t j = 0; j < markers.size(); ++j) {
    for (uint32_t k = 0; k + 1 < s; ++k) b[j * s + k] = static_cast<uint8_t>(j * 7 + k * 13);
    b[j * s + s - 1] = markers[j];
  }
  return b;
}

std::vector<uint8_t> repeat(std::vector<uint8_t> unit, size_t n) {
  std::vector<uint8_t> m;
  while (m.size() < n) m.push_back(unit[m.size() % unit.size()]);
  return m;
}

struct MarkerCase {
  const char* name;
  std::vector<uint8_t> markers;
  bool dop;
};

TEST(DopDetect, MarkerRuns) {
  std::vector<MarkerCase> cases = {
      {"alternating from 05", repeat({0x05, 0xFA}, 512), true},
      {"alternating from FA", repeat({0xFA, 0x05}, 511), true},
      {"pairs", repeat({0x05, 0x05, 0xFA, 0xFA}, 600), true},
      {"pairs from FA", repeat({0xFA, 0xFA, 0x05, 0x05}, 5), true},
      {"constant AA", repeat({0xAA}, 300), true},
      {"one marker", {0x05}, true},
      {"one AA", {0xAA}, true},
      {"pair cut after three", {0x05, 0x05, 0xFA}, true},
      {"empty", {}, false},
      {"alternating then a repeat", {0x05, 0xFA, 0xFA, 0x05}, false},
      {"pair phase broken", {0x05, 0x05, 0xFA, 0x05}, false},
      {"constant 05", repeat({0x05}, 64), false},
      {"AA then 05", {0xAA, 0x05}, false},
      {"05 then AA", {0x05, 0xAA}, false},
      {"alternating AA and 55", repeat({0xAA, 0x55}, 8), false},
      {"not a marker", repeat({0x06, 0xF9}, 16), false},
      {"silence", repeat({0x00}, 16), false},
      {"full scale", repeat({0x7F, 0x80}, 16), false},
  };
  // A single wrong marker anywhere, including across the scan's block boundaries and in the
  // tail after the last group of four.
  for (size_t at : {size_t{1}, size_t{254}, size_t{255}, size_t{256}, size_t{257}, size_t{1021},
                    size_t{1022}}) {
    auto m = repeat({0x05, 0xFA}, 1023);
    m[at] = m[at] == 0x05 ? 0xFA : 0x05;
    cases.push_back({"one wrong marker", m, false});
  }
  for (uint32_t s : {3u, 4u})
    for (const auto& c : cases) {
      EXPECT_EQ(hasDopMarkers(withMarkers(c.markers, s).data(), c.markers.size(), s), c.dop)
          << c.name << " at " << s * 8 << " bits, " << c.markers.size() << " frames";
    }
}

// The marker is the most significant byte only: the same bytes one place lower are not DoP.
TEST(DopDetect, MarkerIsTheMostSignificantByte) {
  Bytes b(64 * 3);
  for (size_t j = 0; j < 64; ++j) b[j * 3 + 1] = j & 1 ? 0xFA : 0x05;
  EXPECT_FALSE(hasDopMarkers(b.data(), 64, 3));
  Bytes w(64 * 4);
  for (size_t j = 0; j < 64; ++j) w[j * 4 + 2] = j & 1 ? 0xFA : 0x05;
  EXPECT_FALSE(hasDopMarkers(w.data(), 64, 4));
  EXPECT_FALSE(hasDopMarkers(nullptr, 64, 4));
  EXPECT_FALSE(hasDopMarkers(w.data(), 16, 0));
  EXPECT_FALSE(hasDopMarkers(w.data(), 12, 5));
}

// Agrees with the literal scan on every marker sequence of markers drawn from the accepted
// set and one stranger, lengths 1 to 6 (all 4^6 sequences), and on random long ones.
TEST(DopDetect, AgreesWithSampleBySampleScan) {
  const uint8_t alphabet[] = {0x05, 0xFA, 0xAA, 0x42};
  for (size_t len = 1; len <= 6; ++len) {
    size_t combos = size_t{1} << (2 * len);
    for (size_t code = 0; code < combos; ++code) {
      std::vector<uint8_t> m(len);
      for (size_t j = 0; j < len; ++j) m[j] = alphabet[(code >> (2 * j)) & 3];
      for (uint32_t s : {3u, 4u}) {
        Bytes b = withMarkers(m, s);
        ASSERT_EQ(hasDopMarkers(b.data(), len, s), referenceDopScan(b.data(), len, s))
            << "code " << code << " len " << len;
      }
    }
  }
  uint32_t x = 12345;
  for (int round = 0; round < 2000; ++round) {
    std::vector<uint8_t> m = repeat(round % 3 == 0 ? std::vector<uint8_t>{0x05, 0x05, 0xFA, 0xFA}
                                    : round % 3 == 1 ? std::vector<uint8_t>{0xFA, 0x05}
                                                     : std::vector<uint8_t>{0xAA},
                                    1 + round % 700);
    x = x * 1664525u + 1013904223u;
    if (round & 1) m[(x >> 8) % m.size()] = alphabet[(x >> 4) & 3];  // maybe break it
    Bytes b = withMarkers(m, 3);
    ASSERT_EQ(hasDopMarkers(b.data(), m.size(), 3), referenceDopScan(b.data(), m.size(), 3))
        << "round " << round;
  }
}

TEST(DopDetect, DetectionRunsOnlyOnCarrierRatesAt24And32Bits) {
  struct Case {
    uint32_t width, rate;
    bool nativeDsd, applies;
  };
  for (Case c : {Case{24, 176400, false, true}, Case{24, 352800, false, true},
                 Case{32, 176400, false, true}, Case{32, 352800, false, true},
                 Case{32, 176400, true, false}, Case{32, 352800, true, false},
                 Case{16, 176400, false, false}, Case{24, 96000, false, false},
                 Case{32, 192000, false, false}, Case{24, 88200, false, false},
                 Case{24, 384000, false, false}}) {
    EXPECT_EQ(dopDetectionApplies(c.width, c.rate, c.nativeDsd), c.applies)
        << c.width << " bits at " << c.rate;
  }
}

OutputCopy verdict(uint32_t scanned, uint32_t marked) {
  OutputCopy o;
  o.dopScanned = scanned;
  o.dopMarked = marked;
  return o;
}

// The report goes out once, at the first DoP period, until stop clears the flag.
TEST(DopDetect, ReportIsSentOncePerStream) {
  bool reported = false;
  EXPECT_FALSE(takeDopReport(judgeDopPeriod(verdict(0, 0)), reported));
  EXPECT_FALSE(takeDopReport(judgeDopPeriod(verdict(2, 1)), reported));
  EXPECT_TRUE(takeDopReport(judgeDopPeriod(verdict(2, 2)), reported));
  EXPECT_TRUE(reported);
  EXPECT_FALSE(takeDopReport(DopPeriod::kDop, reported));
  EXPECT_FALSE(takeDopReport(DopPeriod::kPcm, reported));
  EXPECT_TRUE(reported) << "PCM after DoP does not withdraw the report; stop does";
  reported = false;  // what stop does after sending "off"
  EXPECT_TRUE(takeDopReport(DopPeriod::kDop, reported));
}

TEST(DopDetect, StatusFlagsFollowThePeriod) {
  struct Case {
    const char* what;
    DopPeriod period;
    uint32_t rate;
    DsdStatusFlags before, after;
    bool changed;
  };
  for (const Case& c : {
           Case{"DoP64", DopPeriod::kDop, 176400, {0, 0}, {1, 0}, true},
           Case{"DoP128", DopPeriod::kDop, 352800, {0, 0}, {1, 1}, true},
           Case{"DoP128 again", DopPeriod::kDop, 352800, {1, 1}, {1, 1}, false},
           Case{"rate fell to the DoP64 carrier", DopPeriod::kDop, 176400, {1, 1}, {1, 0}, true},
           Case{"PCM after DoP", DopPeriod::kPcm, 352800, {1, 1}, {0, 0}, true},
           Case{"PCM stays PCM", DopPeriod::kPcm, 176400, {0, 0}, {0, 0}, false},
           Case{"PCM leaves a stray DSD128 alone", DopPeriod::kPcm, 176400, {0, 1}, {0, 1}, false},
           Case{"not scanned keeps DoP", DopPeriod::kNotScanned, 96000, {1, 1}, {1, 1}, false},
       }) {
    DsdStatusFlags flags = c.before;
    EXPECT_EQ(applyDopToStatus(c.period, c.rate, flags), c.changed) << c.what;
    EXPECT_EQ(flags.dsd, c.after.dsd) << c.what;
    EXPECT_EQ(flags.dsd128, c.after.dsd128) << c.what;
  }
}

}  // namespace
}  // namespace tess::fmt
