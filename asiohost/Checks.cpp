#include "Checks.h"

#include "SampleCodec.h"

namespace asiohost {
namespace {

std::string u64(uint64_t v) { return std::to_string(v); }

}  // namespace

size_t CheckList::passed() const {
  size_t n = 0;
  for (const CheckResult& r : results_) n += r.passed ? 1 : 0;
  return n;
}

void CheckList::print(FILE* out) const {
  for (const CheckResult& r : results_)
    std::fprintf(out, "  [%s] %s%s%s\n", r.passed ? "pass" : "FAIL", r.name.c_str(), r.detail.empty() ? "" : ": ",
                 r.detail.c_str());
  std::fprintf(out, "%zu passed, %zu failed\n", passed(), failed());
}

CheckResult checkSwitchesArrived(size_t received, size_t wanted, double waitedMs) {
  char d[128];
  std::snprintf(d, sizeof d, "%zu in %.0f ms (at least %zu wanted)", received, waitedMs, wanted);
  return {"buffer switches arrive", received >= wanted && wanted > 0, d};
}

CheckResult checkHalvesAlternate(const SwitchRecord* r, size_t n) {
  const std::string name = "switch halves alternate";
  if (n == 0) return {name, false, "no buffer switch"};
  for (size_t i = 0; i < n; ++i) {
    if (r[i].half != 0 && r[i].half != 1)
      return {name, false, "switch " + u64(i) + " carries half " + std::to_string(r[i].half)};
    if (i > 0 && r[i].half == r[i - 1].half)
      return {name, false,
              "switches " + u64(i - 1) + " and " + u64(i) + " both carry half " + std::to_string(r[i].half)};
  }
  return {name, true, u64(n) + " switches, first half " + std::to_string(r[0].half)};
}

CheckResult checkPositionsAdvance(const SwitchRecord* r, size_t n, int32_t bufferFrames) {
  const std::string name = "sample position grows by one buffer per switch";
  if (n == 0) return {name, false, "no buffer switch"};
  for (size_t i = 0; i < n; ++i) {
    if (!r[i].positionValid) return {name, false, "switch " + u64(i) + " has no valid sample position"};
    if (i == 0) continue;
    const uint64_t step = r[i].position - r[i - 1].position;
    if (r[i].position < r[i - 1].position || step != static_cast<uint64_t>(bufferFrames)) {
      const int64_t signedStep = static_cast<int64_t>(r[i].position) - static_cast<int64_t>(r[i - 1].position);
      return {name, false,
              "switch " + u64(i) + ": position " + u64(r[i].position) + " after " + u64(r[i - 1].position) + " (step " +
                  std::to_string(signedStep) + ", expected " + std::to_string(bufferFrames) + ")"};
    }
  }
  return {name, true, "from " + u64(r[0].position) + " to " + u64(r[n - 1].position)};
}

CheckResult checkTimestampsMonotonic(const SwitchRecord* r, size_t n) {
  const std::string name = "timestamps never go backwards";
  size_t valid = 0;
  const SwitchRecord* last = nullptr;
  for (size_t i = 0; i < n; ++i) {
    if (!r[i].timeValid) continue;
    ++valid;
    if (last && r[i].systemTimeNs < last->systemTimeNs)
      return {name, false,
              "switch " + u64(i) + ": system time " + u64(r[i].systemTimeNs) + " ns after " + u64(last->systemTimeNs) +
                  " ns"};
    last = &r[i];
  }
  if (valid == 0) return {name, false, "no switch carried a valid system time"};
  return {name, true, u64(valid) + " timestamps"};
}

CheckResult checkSamplePositionAgrees(const SwitchRecord* r, size_t n) {
  const std::string name = "getSamplePosition agrees with the switches";
  if (n == 0) return {name, false, "no buffer switch"};
  size_t compared = 0;
  for (size_t i = 0; i < n; ++i) {
    if (!r[i].queriedValid) return {name, false, "getSamplePosition failed in switch " + u64(i)};
    if (r[i].fromTimeInfo && r[i].positionValid) {
      ++compared;
      if (r[i].queriedPosition != r[i].position)
        return {name, false,
                "switch " + u64(i) + ": time info says " + u64(r[i].position) + ", getSamplePosition " +
                    u64(r[i].queriedPosition)};
    }
  }
  return {name, true,
          compared ? u64(compared) + " switches compared with their time info" : "answered in every switch"};
}

CheckResult checkNoSwitchAfterStop(uint64_t switchesAfterStop, double watchedMs) {
  char d[128];
  std::snprintf(d, sizeof d, "%llu switch(es) in %.0f ms after stop returned",
                static_cast<unsigned long long>(switchesAfterStop), watchedMs);
  return {"no switch after stop returns", switchesAfterStop == 0, d};
}

CheckResult checkSampleTypes(const std::vector<ChannelType>& channels, int expectedBits) {
  const std::string name = "sample types match the widths";
  if (channels.empty()) return {name, false, "no channel"};
  int32_t typeOf[2] = {-1, -1};
  for (const ChannelType& c : channels) {
    const std::string who = std::string(c.isInput ? "input " : "output ") + std::to_string(c.channel);
    const SampleFormat* f = findSampleFormat(c.type);
    if (!f) return {name, false, who + " reports unknown sample type " + std::to_string(c.type)};
    int32_t& seen = typeOf[c.isInput ? 1 : 0];
    if (seen >= 0 && seen != c.type)
      return {name, false, who + " is " + f->name + " unlike the other " + (c.isInput ? "inputs" : "outputs")};
    seen = c.type;
    if (expectedBits > 0 && !f->isDsd && f->bits != expectedBits)
      return {name, false, who + " is " + f->name + ", not " + std::to_string(expectedBits) + " bits"};
  }
  std::string d;
  for (int dir = 0; dir < 2; ++dir)
    if (typeOf[dir] >= 0)
      d += std::string(d.empty() ? "" : ", ") + (dir ? "inputs " : "outputs ") + findSampleFormat(typeOf[dir])->name;
  return {name, true, d};
}

CheckResult checkDsdTypes(const std::vector<ChannelType>& channels, double rate, bool dsdRate) {
  char name[96];
  std::snprintf(name, sizeof name, "%s rate %.0f Hz reports %s sample types", dsdRate ? "DSD" : "PCM", rate,
                dsdRate ? "DSD" : "PCM");
  if (channels.empty()) return {name, false, "no channel"};
  for (const ChannelType& c : channels) {
    const SampleFormat* f = findSampleFormat(c.type);
    if (!f || f->isDsd != dsdRate)
      return {name, false,
              std::string(c.isInput ? "input " : "output ") + std::to_string(c.channel) + " reports " +
                  (f ? f->name : ("type " + std::to_string(c.type)).c_str())};
  }
  return {name, true, findSampleFormat(channels.front().type)->name};
}

CheckResult checkBufferSizes(int32_t minSize, int32_t maxSize, int32_t preferred, int32_t granularity) {
  char d[160];
  std::snprintf(d, sizeof d, "min %d, max %d, preferred %d, granularity %d", minSize, maxSize, preferred, granularity);
  bool ok = minSize > 0 && minSize <= preferred && preferred <= maxSize;
  if (ok && granularity == -1) {  // powers of two only
    ok = (minSize & (minSize - 1)) == 0 && (maxSize & (maxSize - 1)) == 0 && (preferred & (preferred - 1)) == 0;
  } else if (ok && granularity == 0) {
    ok = minSize == maxSize;  // one fixed size
  } else if (ok) {
    ok = granularity > 0;
  }
  return {"buffer sizes are consistent", ok, d};
}

}  // namespace asiohost
