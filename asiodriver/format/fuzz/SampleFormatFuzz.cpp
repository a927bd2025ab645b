// Hostile shapes for the copy kernels and the DoP detector: any sample size, channel count,
// channel index and buffer length. Buffers are exact heap allocations, so the sanitizers
// see any stray access; results are checked against slow reference loops.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../tests/DopReference.h"
#include "DopDetect.h"
#include "HidReport.h"
#include "SampleCopy.h"
#include "SampleFormat.h"

using namespace tess::fmt;

namespace {

struct Reader {
  const uint8_t* p;
  size_t n;
  uint8_t byte() {
    if (!n) return 0;
    --n;
    return *p++;
  }
  uint16_t word() { return static_cast<uint16_t>(byte() | byte() << 8); }
};

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in{data, size};
  const uint32_t s = in.byte() % 6;                  // 0..5: valid ones are 2..4
  const uint32_t channels = in.byte() % 10;          // 0..9
  const size_t packetBytes = in.word() % 4096;
  const size_t count = in.byte() % 5;
  const bool dop = in.byte() & 1;

  std::vector<std::vector<uint8_t>> host(count);
  std::vector<HostOutput> outs(count);
  std::vector<HostInput> ins(count);
  std::vector<std::vector<uint8_t>> back(count);
  for (size_t c = 0; c < count; ++c) {
    size_t bytes = in.word() % 2048;
    uint32_t index = in.byte() % 11;
    host[c].resize(bytes);
    for (auto& b : host[c]) b = in.byte();
    // Steer some runs into DoP-looking markers so the detector sees long valid runs.
    if (s >= 2 && s <= 4 && (in.byte() & 3) == 0) {
      uint8_t m0 = in.byte() & 1 ? 0x05 : 0xAA;
      bool pairs = in.byte() & 1;
      for (size_t j = 0; j * s + s <= bytes; ++j) {
        bool flip = m0 != 0xAA && ((pairs ? j >> 1 : j) & 1);
        host[c][j * s + s - 1] = flip ? static_cast<uint8_t>(~m0) : m0;
      }
      if (bytes && (in.byte() & 1)) host[c][in.word() % bytes] ^= 0xFF;
    }
    back[c].assign(bytes, 0x5A);
    bool present = in.byte() % 8 != 0;
    outs[c] = {present ? host[c].data() : nullptr, bytes, index};
    ins[c] = {present ? back[c].data() : nullptr, bytes, index};
  }

  std::vector<uint8_t> packet(packetBytes, 0xEE);
  OutputCopy out = copyOutput({packet.data(), packet.size(), channels}, s, outs.data(), count, dop);
  check(out.dopMarked <= out.dopScanned && out.dopScanned <= out.channels);

  const bool shapeOk = s >= 2 && s <= 4 && channels > 0;
  const size_t stride = size_t{channels} * s;
  if (shapeOk) {
    // Every moved sample sits at its place; a channel index appearing twice is skipped here.
    for (size_t c = 0; c < count; ++c) {
      if (!outs[c].data || outs[c].indexInPin >= channels) continue;
      bool unique = true;
      for (size_t d = 0; d < count; ++d)
        if (d != c && outs[d].data && outs[d].indexInPin == outs[c].indexInPin) unique = false;
      if (!unique) continue;
      size_t frames = std::min(packetBytes / stride, host[c].size() / s);
      for (size_t j = 0; j < frames; ++j)
        check(std::memcmp(&packet[j * stride + outs[c].indexInPin * s], &host[c][j * s], s) == 0);
      if (dop && frames) {
        bool fast = hasDopMarkers(host[c].data(), frames, s);
        check(fast == referenceDopScan(host[c].data(), frames, s));
      }
    }
  }

  // Back from the packet, with a DataUsed that may be short.
  size_t used = packetBytes ? in.word() % (packetBytes + 1) : 0;
  InputCopy got = copyInput({packet.data(), used, channels}, s, ins.data(), count);
  check(got.channels <= count);
  if (shapeOk) {
    for (size_t c = 0; c < count; ++c) {
      if (!ins[c].data || ins[c].indexInPin >= channels) continue;
      size_t frames = std::min(used / stride, back[c].size() / s);
      bool unique = true;
      for (size_t d = 0; d < count; ++d)
        if (d != c && ins[d].data && ins[d].indexInPin == ins[c].indexInPin) unique = false;
      if (!unique) continue;
      for (size_t j = 0; j < frames; ++j)
        check(std::memcmp(&back[c][j * s], &packet[j * stride + ins[c].indexInPin * s], s) == 0);
      for (size_t i = frames * s; i < back[c].size(); ++i) check(back[c][i] == 0x5A);
    }
  }

  // The detector alone over the raw input, any sample size.
  const uint32_t ds = 1 + in.byte() % 4;
  size_t frames = in.n / ds;
  check(hasDopMarkers(in.p, frames, ds) == referenceDopScan(in.p, frames, ds));

  std::vector<uint8_t> report(in.byte() % 80, 0xCC);
  const uint8_t command = in.byte() % 5;  // 4 is no command
  bool built = buildHidReport(static_cast<HidCommand>(command), true, report.data(), report.size());
  check(built == (command < 4 && report.size() >= kHidCommandBytes));
  for (size_t i = built ? 5 : 0; i < report.size(); ++i) check(report[i] == (built ? 0 : 0xCC));

  std::vector<uint8_t> dsd(packetBytes);
  fillDsdSilenceIfUnwritten(dsd.data(), dsd.size(), in.byte() % 4);
  return 0;
}
