#include "HostDemo.h"

#include <objbase.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Asio.h"
#include "Settings.h"

namespace {

constexpr int kMaxLog = 48000 * 30;  // samples of channel 0 kept for the comparison

struct Demo {
  IASIO* driver = nullptr;
  ASIOBufferInfo infos[4]{};
  int outputs = 0, inputs = 0;
  long bufferSize = 0;
  int sampleBytes = 4;
  ASIOSampleType type = ASIOSTInt32LSB;
  volatile LONG switches = 0;
  volatile LONG resets = 0;
  volatile LONG resyncs = 0;  // lost periods the driver told of
  long long lastPosition = -1;
  bool positionsInOrder = true;
  std::vector<int32_t> played, captured;  // channel 0, as integers of the sample width
  long long phase = 0;
};

Demo* g_demo = nullptr;

int32_t toneSample(long long n, int bits) {
  // Starts off zero, so the first sample of the tone can be found in the input.
  double v = std::sin(2.0 * 3.14159265358979 * 997.0 * double(n + 1) / 48000.0) * 0.5;
  return static_cast<int32_t>(v * double((1LL << (bits - 1)) - 1));
}

void storeSample(uint8_t* p, int32_t v, int bytes) {
  for (int b = 0; b < bytes; ++b) p[b] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * b));
}
int32_t loadSample(const uint8_t* p, int bytes) {
  uint32_t u = 0;
  for (int b = 0; b < bytes; ++b) u |= uint32_t(p[b]) << (8 * b);
  int shift = 32 - 8 * bytes;
  return static_cast<int32_t>(u << shift) >> shift;
}

void onSwitch(long half, const ASIOTime* time) {
  Demo& d = *g_demo;
  ASIOSamples pos{};
  ASIOTimeStamp stamp{};
  if (time) pos = time->timeInfo.samplePosition;
  else d.driver->getSamplePosition(&pos, &stamp);
  long long position = static_cast<long long>(asioToU64(pos));
  if (d.lastPosition >= 0 && position != d.lastPosition + d.bufferSize) d.positionsInOrder = false;
  d.lastPosition = position;
  const int bits = d.sampleBytes * 8;
  for (long i = 0; i < d.bufferSize; ++i) {
    int32_t v = toneSample(d.phase + i, bits);
    for (int c = 0; c < d.outputs; ++c)
      storeSample(static_cast<uint8_t*>(d.infos[c].buffers[half]) + i * d.sampleBytes, c ? -v : v, d.sampleBytes);
    if (d.played.size() < kMaxLog) d.played.push_back(v);
    if (d.inputs > 0 && d.captured.size() < kMaxLog)
      d.captured.push_back(
          loadSample(static_cast<const uint8_t*>(d.infos[d.outputs].buffers[half]) + i * d.sampleBytes, d.sampleBytes));
  }
  d.phase += d.bufferSize;
  InterlockedIncrement(&d.switches);
}

void __cdecl bufferSwitch(int32_t half, ASIOBool) { onSwitch(half, nullptr); }
ASIOTime* __cdecl bufferSwitchTimeInfo(ASIOTime* t, int32_t half, ASIOBool) {
  onSwitch(half, t);
  return t;
}
void __cdecl rateChanged(ASIOSampleRate) {}
int32_t __cdecl asioMessage(int32_t selector, int32_t value, void*, double*) {
  if (selector == kAsioSelectorSupported) return value == kAsioResetRequest || value == kAsioResyncRequest;
  if (selector == kAsioEngineVersion) return 2;
  if (selector == kAsioSupportsTimeInfo) return 1;
  if (selector == kAsioResetRequest) InterlockedIncrement(&g_demo->resets);
  if (selector == kAsioResyncRequest) {
    InterlockedIncrement(&g_demo->resyncs);
    return 1;
  }
  return 0;
}

const char* typeName(ASIOSampleType t) {
  switch (t) {
    case ASIOSTInt16LSB: return "Int16LSB";
    case ASIOSTInt24LSB: return "Int24LSB";
    case ASIOSTInt32LSB: return "Int32LSB";
    case ASIOSTDSDInt8MSB1: return "DSDInt8MSB1";
    default: return "other";
  }
}

}  // namespace

int runHostDemo(const CLSID& clsid, int seconds) {
  Demo demo;
  g_demo = &demo;
  HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid, reinterpret_cast<void**>(&demo.driver));
  if (FAILED(hr) || !demo.driver) {
    std::printf("  CoCreateInstance failed: 0x%08lX\n", static_cast<unsigned long>(hr));
    return 1;
  }
  IASIO* d = demo.driver;
  int failures = 0;
  auto check = [&](bool ok, const char* what) {
    std::printf("  [%s] %s\n", ok ? "ok" : "FAILED", what);
    failures += ok ? 0 : 1;
  };
  char name[32] = {};
  d->getDriverName(name);
  check(d->init(nullptr) == ASIOTrue, "init");
  std::printf("  driver \"%s\", version %d\n", name, static_cast<int>(d->getDriverVersion()));
  int32_t in = 0, out = 0;
  check(d->getChannels(&in, &out) == ASE_OK, "getChannels");
  std::printf("  channels: %d in, %d out\n  rates:", static_cast<int>(in), static_cast<int>(out));
  for (double r : {32000.0, 44100.0, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0, 352800.0, 384000.0, 2822400.0,
                   5644800.0, 11289600.0})
    if (d->canSampleRate(r) == ASE_OK) std::printf(" %.0f", r);
  std::printf("\n");
  check(d->setSampleRate(48000.0) == ASE_OK, "setSampleRate(48000)");
  int32_t mn = 0, mx = 0, pref = 0, gran = 0;
  check(d->getBufferSize(&mn, &mx, &pref, &gran) == ASE_OK, "getBufferSize");
  std::printf("  buffer sizes: min %d, max %d, preferred %d, granularity %d\n", int(mn), int(mx), int(pref), int(gran));
  ASIOChannelInfo info{};
  info.channel = 0;
  d->getChannelInfo(&info);
  demo.type = info.type;
  demo.sampleBytes = info.type == ASIOSTInt16LSB ? 2 : info.type == ASIOSTInt24LSB ? 3 : 4;
  std::printf("  output 0: \"%s\", %s\n", info.name, typeName(info.type));

  demo.outputs = out > 2 ? 2 : int(out);
  demo.inputs = in > 2 ? 2 : int(in);
  for (int c = 0; c < demo.outputs; ++c) demo.infos[c] = ASIOBufferInfo{ASIOFalse, c, {nullptr, nullptr}};
  for (int c = 0; c < demo.inputs; ++c) demo.infos[demo.outputs + c] = ASIOBufferInfo{ASIOTrue, c, {nullptr, nullptr}};
  demo.bufferSize = 480;  // 10 ms: a host's choice within min..max
  demo.played.reserve(kMaxLog);
  demo.captured.reserve(kMaxLog);
  ASIOCallbacks callbacks{bufferSwitch, rateChanged, asioMessage, bufferSwitchTimeInfo};
  check(d->createBuffers(demo.infos, demo.outputs + demo.inputs, demo.bufferSize, &callbacks) == ASE_OK, "createBuffers");
  int32_t li = 0, lo = 0;
  d->getLatencies(&li, &lo);
  std::printf("  latencies: input %d, output %d frames\n", int(li), int(lo));
  check(d->start() == ASE_OK, "start");
  Sleep(static_cast<DWORD>(seconds) * 1000);
  {
    tess::CStatusBlockMapping block;
    if (block.attach(tess::BlockSide::ControlPanel)) {
      tess::StatusBlockView v = block.view();
      std::printf("  status block while running: state %u, %u bits, %u Hz, buffer %u, DSD %u\n", v.state(),
                  v.field(offsetof(tess::StatusBlockLayout, widthInUse)), v.field(offsetof(tess::StatusBlockLayout, rate)),
                  v.field(offsetof(tess::StatusBlockLayout, buffer)), v.field(offsetof(tess::StatusBlockLayout, dsd)));
      check(v.state() == tess::kStateRunning, "the status block shows RUNNING");
    }
  }
  check(d->stop() == ASE_OK, "stop");
  long expected = long(48000L * seconds / demo.bufferSize);
  std::printf("  %ld buffer switches in %d s (about %ld expected)\n", long(demo.switches), seconds, expected);
  check(demo.switches > expected * 8 / 10, "buffer switches keep the device's pace");
  check(demo.positionsInOrder, "sample positions grow by one buffer per switch");
  check(demo.resets == 0, "no reset request");

  // With the device looping back, the input of each switch is the output of the switch as
  // many buffers before it as the driver's latencies add up to (two through pins, three
  // through Core Audio clients). On a loaded machine the device may lose periods: their input is silence,
  // or (when one side lost more than the other) the delay changes; the driver tells of
  // lost periods with resync requests, and the input must never change silently.
  if (demo.inputs > 0) {
    const size_t b = static_cast<size_t>(demo.bufferSize), buffers = demo.captured.size() / b;
    const size_t playedBuffers = demo.played.size() / b;
    const size_t roundTrip = static_cast<size_t>(li + lo) / b;
    size_t exact = 0, silent = 0, shifts = 0, wrong = 0, delay = roundTrip;
    auto sameAs = [&](const int32_t* in, size_t j) {
      return j < playedBuffers && std::memcmp(in, &demo.played[j * b], b * sizeof(int32_t)) == 0;
    };
    for (size_t i = roundTrip; i < buffers; ++i) {
      const int32_t* in = &demo.captured[i * b];
      if (i >= delay && sameAs(in, i - delay)) {
        ++exact;
        continue;
      }
      if (std::all_of(in, in + b, [](int32_t v) { return v == 0; })) {
        ++silent;
        continue;
      }
      size_t found = 0;
      for (size_t d2 = 1; d2 <= 16 && d2 <= i && !found; ++d2)
        if (sameAs(in, i - d2)) found = d2;
      if (found) {
        ++shifts;
        delay = found;
      } else {
        ++wrong;
      }
    }
    std::printf("  loopback: input is the output %zu buffers later (as the latencies say), bit for bit in %zu "
                "buffers; lost periods: %zu silent, %zu changes of delay; resync requests %ld; %zu buffers of "
                "neither\n",
                roundTrip, exact, silent, shifts, long(demo.resyncs), wrong);
    check(roundTrip >= 2 && exact > 0 && wrong == 0 && shifts <= size_t(demo.resyncs) &&
              (silent == 0 || demo.resyncs > 0),
          "captured audio equals the played audio the reported latencies later, bit for bit (lost periods told)");
  } else {
    std::printf("  no loopback input to compare\n");
  }
  check(d->disposeBuffers() == ASE_OK, "disposeBuffers");
  d->Release();
  g_demo = nullptr;
  return failures ? 1 : 0;
}
