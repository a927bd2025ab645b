// Figures of a run: callback intervals against the nominal period, time inside the callback.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Checks.h"

namespace asiohost {

struct Distribution {
  size_t count = 0;
  double mean = 0, median = 0, p99 = 0, min = 0, max = 0;
};
Distribution distributionOf(std::vector<double> values);

struct TimingFigures {
  double nominalPeriodMs = 0;
  Distribution intervalMs;   // between consecutive switch arrivals
  double latenessP99Ms = 0;  // interval minus the nominal period
  double latenessMaxMs = 0;
  size_t stalls = 0;      // intervals longer than two periods: the double buffer ran dry
  // Periods that passed without a switch: the periods elapsed between the first and the
  // last switch (by arrival time) beyond the switches that came.
  size_t lostPeriods = 0;
  Distribution insideUs;  // host time spent inside the callback
};
TimingFigures timingOf(const SwitchRecord* r, size_t n, double nominalPeriodMs);

// The stream's rate as the host sees it: the sample positions fitted (least squares)
// against the host's clock at each switch's arrival and against the driver's time stamps,
// in frames per second and in parts per million off the nominal rate. A driver that
// follows the device's clock shows the device's rate in both, and the two agree.
struct ClockFigures {
  size_t hostPoints = 0, stampPoints = 0;  // switches each fit used (0: no figure)
  double hostRateHz = 0, hostPpm = 0;
  double stampRateHz = 0, stampPpm = 0;
  uint64_t lastPosition = 0;
};
ClockFigures clockOf(const SwitchRecord* r, size_t n, double nominalRate);

}  // namespace asiohost

namespace asiohost {

// The live status line: elapsed time, switches, peak level per channel (dBFS), resets.
std::string statusLine(double seconds, uint64_t switches, const std::vector<double>& outputPeaks,
                       const std::vector<double>& inputPeaks, uint64_t resets);

}  // namespace asiohost

namespace asiohost {

// Buffer sizes (frames) of a sweep: each duration rounded to the driver's granularity,
// kept within min..max, largest first, without repeats, ending at the driver's minimum
// when the durations do not reach it and `withMinimum` is set.
std::vector<int32_t> sweepBufferFrames(double rate, const std::vector<double>& durationsMs, int32_t minSize,
                                       int32_t maxSize, int32_t granularity, bool withMinimum);

}  // namespace asiohost
