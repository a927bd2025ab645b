// Frames per second of the period kernels for a stereo pin, beside a plain memcpy of the
// same packet bytes. The DoP runs use host buffers that carry valid markers throughout,
// the case where detection has to read every sample.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "DopDetect.h"
#include "SampleCopy.h"

using namespace tess::fmt;

namespace {

struct Stereo {
  std::vector<uint8_t> left, right, packet;
  Stereo(uint32_t s, size_t frames) : left(frames * s), right(frames * s), packet(frames * 2 * s) {
    uint32_t x = 1;
    for (size_t i = 0; i < left.size(); ++i) {
      x = x * 1664525u + 1013904223u;
      left[i] = static_cast<uint8_t>(x >> 24);
      right[i] = static_cast<uint8_t>(x >> 16);
    }
    for (size_t j = 0; j < frames; ++j) {  // DoP markers, alternating
      left[j * s + s - 1] = right[j * s + s - 1] = j & 1 ? 0xFA : 0x05;
    }
  }
};

void copyOut(benchmark::State& state, uint32_t s, bool dop) {
  const size_t frames = static_cast<size_t>(state.range(0));
  Stereo st(s, frames);
  HostOutput ch[] = {{st.left.data(), st.left.size(), 0}, {st.right.data(), st.right.size(), 1}};
  RenderPacket p{st.packet.data(), st.packet.size(), 2};
  for (auto _ : state) {
    OutputCopy r = copyOutput(p, s, ch, 2, dop);
    benchmark::DoNotOptimize(r);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * frames));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * st.packet.size()));
}

void copyIn(benchmark::State& state, uint32_t s) {
  const size_t frames = static_cast<size_t>(state.range(0));
  Stereo st(s, frames);
  HostInput ch[] = {{st.left.data(), st.left.size(), 0}, {st.right.data(), st.right.size(), 1}};
  CapturePacket p{st.packet.data(), st.packet.size(), 2};
  for (auto _ : state) {
    InputCopy r = copyInput(p, s, ch, 2);
    benchmark::DoNotOptimize(r);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * frames));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * st.packet.size()));
}

void plainMemcpy(benchmark::State& state, uint32_t s) {
  const size_t frames = static_cast<size_t>(state.range(0));
  std::vector<uint8_t> src(frames * 2 * s, 1), dst(frames * 2 * s);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size());
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * frames));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * src.size()));
}

void dopOnly(benchmark::State& state, uint32_t s) {
  const size_t frames = static_cast<size_t>(state.range(0));
  Stereo st(s, frames);
  for (auto _ : state) {
    bool l = hasDopMarkers(st.left.data(), frames, s);
    bool r = hasDopMarkers(st.right.data(), frames, s);
    benchmark::DoNotOptimize(l);
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * frames));
}

// 512 frames: a common period; 8192: a long one (also 2 x 4096 at 384 kHz stays in cache).
#define PERIODS ->Arg(512)->Arg(8192)

BENCHMARK_CAPTURE(plainMemcpy, 16bit, 2) PERIODS;
BENCHMARK_CAPTURE(copyOut, 16bit, 2, false) PERIODS;
BENCHMARK_CAPTURE(copyOut, 16bit_dop, 2, true) PERIODS;
BENCHMARK_CAPTURE(copyIn, 16bit, 2) PERIODS;
BENCHMARK_CAPTURE(plainMemcpy, 24bit, 3) PERIODS;
BENCHMARK_CAPTURE(copyOut, 24bit, 3, false) PERIODS;
BENCHMARK_CAPTURE(copyOut, 24bit_dop, 3, true) PERIODS;
BENCHMARK_CAPTURE(copyIn, 24bit, 3) PERIODS;
BENCHMARK_CAPTURE(dopOnly, 24bit, 3) PERIODS;
BENCHMARK_CAPTURE(plainMemcpy, 32bit, 4) PERIODS;
BENCHMARK_CAPTURE(copyOut, 32bit, 4, false) PERIODS;
BENCHMARK_CAPTURE(copyOut, 32bit_dop, 4, true) PERIODS;
BENCHMARK_CAPTURE(copyIn, 32bit, 4) PERIODS;
BENCHMARK_CAPTURE(dopOnly, 32bit, 4) PERIODS;

}  // namespace

BENCHMARK_MAIN();
