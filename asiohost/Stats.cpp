#include "Stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

namespace asiohost {

Distribution distributionOf(std::vector<double> v) {
  Distribution d;
  d.count = v.size();
  if (v.empty()) return d;
  std::sort(v.begin(), v.end());
  double sum = 0;
  for (double x : v) sum += x;
  d.mean = sum / v.size();
  const size_t mid = v.size() / 2;
  d.median = v.size() % 2 ? v[mid] : (v[mid - 1] + v[mid]) / 2;
  // Nearest rank: the smallest value with at least 99 % of the values at or below it.
  const size_t rank = static_cast<size_t>(std::ceil(0.99 * v.size()));
  d.p99 = v[rank - 1];
  d.min = v.front();
  d.max = v.back();
  return d;
}

TimingFigures timingOf(const SwitchRecord* r, size_t n, double nominalPeriodMs) {
  TimingFigures t;
  t.nominalPeriodMs = nominalPeriodMs;
  std::vector<double> intervals, inside;
  intervals.reserve(n);
  inside.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    inside.push_back(r[i].insideNs / 1e3);
    if (i == 0) continue;
    const double ms = (r[i].arrivalNs - r[i - 1].arrivalNs) / 1e6;
    intervals.push_back(ms);
    if (ms > 2 * nominalPeriodMs) ++t.stalls;
  }
  t.intervalMs = distributionOf(std::move(intervals));
  t.insideUs = distributionOf(std::move(inside));
  if (n > 1 && nominalPeriodMs > 0) {
    const double periods = (r[n - 1].arrivalNs - r[0].arrivalNs) / 1e6 / nominalPeriodMs;
    const double elapsed = std::floor(periods + 0.25) + 1;  // whole periods, with room for jitter
    if (elapsed > static_cast<double>(n)) t.lostPeriods = static_cast<size_t>(elapsed) - n;
  }
  if (t.intervalMs.count) {
    t.latenessP99Ms = t.intervalMs.p99 - nominalPeriodMs;
    t.latenessMaxMs = t.intervalMs.max - nominalPeriodMs;
  }
  return t;
}

namespace {

// Slope of y over x by least squares, centred so that nanosecond clocks keep their
// precision; 0 when x does not vary.
double slopeOf(const std::vector<double>& x, const std::vector<double>& y) {
  const size_t n = x.size();
  if (n < 3) return 0;
  double mx = 0, my = 0;
  for (size_t i = 0; i < n; ++i) mx += x[i], my += y[i];
  mx /= n, my /= n;
  double sxx = 0, sxy = 0;
  for (size_t i = 0; i < n; ++i) sxx += (x[i] - mx) * (x[i] - mx), sxy += (x[i] - mx) * (y[i] - my);
  return sxx > 0 ? sxy / sxx : 0;
}

}  // namespace

ClockFigures clockOf(const SwitchRecord* r, size_t n, double nominalRate) {
  ClockFigures c;
  std::vector<double> arrival, stamp, position, stampedPosition;
  for (size_t i = 0; i < n; ++i) {
    if (!r[i].positionValid) continue;
    arrival.push_back(r[i].arrivalNs / 1e9);
    position.push_back(static_cast<double>(r[i].position));
    c.lastPosition = r[i].position;
    if (!r[i].timeValid) continue;
    stamp.push_back(r[i].systemTimeNs / 1e9);
    stampedPosition.push_back(static_cast<double>(r[i].position));
  }
  const auto ppm = [nominalRate](double hz) { return nominalRate > 0 ? (hz / nominalRate - 1) * 1e6 : 0; };
  c.hostRateHz = slopeOf(arrival, position);
  if (c.hostRateHz > 0) c.hostPoints = arrival.size(), c.hostPpm = ppm(c.hostRateHz);
  c.stampRateHz = slopeOf(stamp, stampedPosition);
  if (c.stampRateHz > 0) c.stampPoints = stamp.size(), c.stampPpm = ppm(c.stampRateHz);
  return c;
}

}  // namespace asiohost

namespace asiohost {
namespace {

void appendPeaks(std::string& s, const char* label, const std::vector<double>& peaks) {
  if (peaks.empty()) return;
  s += label;
  for (double p : peaks) {
    char b[16];
    if (p < 0)
      std::snprintf(b, sizeof b, " dsd");
    else if (p <= 0)
      std::snprintf(b, sizeof b, " -inf");
    else
      std::snprintf(b, sizeof b, " %.1f", 20.0 * std::log10(p));
    s += b;
  }
}

}  // namespace

std::string statusLine(double seconds, uint64_t switches, const std::vector<double>& outputPeaks,
                       const std::vector<double>& inputPeaks, uint64_t resets) {
  char head[96];
  std::snprintf(head, sizeof head, "%6.1f s  switches %llu", seconds, static_cast<unsigned long long>(switches));
  std::string s = head;
  appendPeaks(s, "  out dBFS", outputPeaks);
  appendPeaks(s, "  in dBFS", inputPeaks);
  s += "  resets " + std::to_string(resets);
  return s;
}

}  // namespace asiohost

namespace asiohost {

std::vector<int32_t> sweepBufferFrames(double rate, const std::vector<double>& durationsMs, int32_t minSize,
                                       int32_t maxSize, int32_t granularity, bool withMinimum) {
  std::vector<int32_t> out;
  if (minSize <= 0 || maxSize < minSize) return out;
  auto fit = [&](double frames) {
    int64_t f = std::llround(frames);
    if (granularity > 0) {
      f = minSize + std::llround(static_cast<double>(f - minSize) / granularity) * granularity;
    } else if (granularity == -1) {  // powers of two: the nearest one
      int64_t p = 1;
      while (p * 2 <= f) p *= 2;
      f = (f - p < 2 * p - f) ? p : 2 * p;
    }
    return static_cast<int32_t>(std::clamp<int64_t>(f, minSize, maxSize));
  };
  for (double ms : durationsMs) out.push_back(fit(ms * rate / 1000.0));
  if (withMinimum) out.push_back(minSize);
  std::sort(out.begin(), out.end(), std::greater<int32_t>());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

}  // namespace asiohost
