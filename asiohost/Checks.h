// The invariants a host relies on, judged from what the host recorded during a run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace asiohost {

struct CheckResult {
  std::string name;
  bool passed;
  std::string detail;
};

class CheckList {
 public:
  void add(CheckResult r) { results_.push_back(std::move(r)); }
  void add(const std::string& name, bool passed, const std::string& detail = {}) {
    results_.push_back({name, passed, detail});
  }
  const std::vector<CheckResult>& results() const { return results_; }
  size_t passed() const;
  size_t failed() const { return results_.size() - passed(); }
  bool allPassed() const { return failed() == 0; }
  // One line per check, then "N passed, N failed".
  void print(FILE* out) const;

 private:
  std::vector<CheckResult> results_;
};

// What the host saw in one buffer switch.
struct SwitchRecord {
  int32_t half = 0;
  bool positionValid = false;  // the driver gave a sample position for this switch
  bool timeValid = false;      // ... and a system time
  bool fromTimeInfo = false;   // position and time came with the time info record
  bool queriedValid = false;   // getSamplePosition inside the switch succeeded
  uint64_t position = 0;
  uint64_t systemTimeNs = 0;
  uint64_t queriedPosition = 0;
  int64_t arrivalNs = 0;  // host clock at entry
  int64_t insideNs = 0;   // host time spent inside the switch
};

CheckResult checkSwitchesArrived(size_t received, size_t wanted, double waitedMs);
CheckResult checkHalvesAlternate(const SwitchRecord* r, size_t n);
CheckResult checkPositionsAdvance(const SwitchRecord* r, size_t n, int32_t bufferFrames);
CheckResult checkTimestampsMonotonic(const SwitchRecord* r, size_t n);
CheckResult checkSamplePositionAgrees(const SwitchRecord* r, size_t n);
CheckResult checkNoSwitchAfterStop(uint64_t switchesAfterStop, double watchedMs);

struct ChannelType {
  bool isInput;
  int32_t channel;
  int32_t type;
};
// Every channel reports a sample type the host knows, one per direction, and, when
// `expectedBits` is non-zero, of that width.
CheckResult checkSampleTypes(const std::vector<ChannelType>& channels, int expectedBits);
// At a DSD rate every channel must report a one-bit DSD type; at a PCM rate none may.
CheckResult checkDsdTypes(const std::vector<ChannelType>& channels, double rate, bool dsdRate);

// Buffer sizes as getBufferSize reported them.
CheckResult checkBufferSizes(int32_t minSize, int32_t maxSize, int32_t preferred, int32_t granularity);

}  // namespace asiohost
