#include "HostHarness.h"

#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "CAsioClsFactory.h"
#include "CaBackend.h"
#include "KsBackend.h"
#include "Module.h"

namespace host {

CLSID freshClsid() {
  CLSID id{};
  CoCreateGuid(&id);
  return id;
}

const char* variantName(Variant v) { return v == Variant::CoreAudio ? "CoreAudio" : "KernelStreaming"; }

DriverRef::DriverRef(const CLSID& clsid, Variant variant) {
  // The driver's module state, as DllMain would set it up.
  static const bool attached = (tess::moduleAttach(GetModuleHandleA(nullptr)), true);
  (void)attached;
  IClassFactory* factory = nullptr;
  const tess::BackendFactory backends = variant == Variant::CoreAudio ? &tess::makeCaBackend : &tess::makeKsBackend;
  if (tess::driverClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory), backends) != S_OK) return;
  created = factory->CreateInstance(nullptr, clsid, reinterpret_cast<void**>(&driver));
  factory->Release();
}

DriverRef::~DriverRef() {
  if (driver) driver->Release();
}

namespace {

// ASIO callbacks carry no context: each live harness owns one of a few slots, and its
// callbacks are the set that reports to that slot only. A second harness (a second host)
// thus never receives the switches of a driver that another harness is streaming.
constexpr size_t kSlots = 4;
std::atomic<Harness*> g_slots[kSlots];

template <size_t Slot>
void cdeclBufferSwitch(int32_t half, ASIOBool) {
  if (Harness* h = g_slots[Slot].load()) h->onSwitch(half, nullptr);
}
template <size_t Slot>
ASIOTime* cdeclBufferSwitchTimeInfo(ASIOTime* params, int32_t half, ASIOBool) {
  if (Harness* h = g_slots[Slot].load()) h->onSwitch(half, params);
  return params;
}
template <size_t Slot>
void cdeclRateChanged(ASIOSampleRate rate) {
  Harness* h = g_slots[Slot].load();
  if (!h) return;
  h->lastRateChange = rate;
  h->rateChanges++;
}
template <size_t Slot>
int32_t cdeclMessage(int32_t selector, int32_t value, void*, double*) {
  Harness* h = g_slots[Slot].load();
  if (!h) return 0;
  switch (selector) {
    case kAsioSelectorSupported:
      return value == kAsioResetRequest || value == kAsioEngineVersion || value == kAsioResyncRequest ||
             value == kAsioSupportsTimeInfo;
    case kAsioEngineVersion: return 2;
    case kAsioSupportsTimeInfo: return h->acceptTimeInfo ? 1 : 0;
    case kAsioResetRequest: h->resetRequests++; return 1;
    case kAsioResyncRequest: h->resyncRequests++; return 1;
    default: return 0;
  }
}

template <size_t Slot>
constexpr ASIOCallbacks slotCallbacks() {
  return ASIOCallbacks{cdeclBufferSwitch<Slot>, cdeclRateChanged<Slot>, cdeclMessage<Slot>,
                       cdeclBufferSwitchTimeInfo<Slot>};
}
constexpr ASIOCallbacks kSlotCallbacks[kSlots] = {slotCallbacks<0>(), slotCallbacks<1>(), slotCallbacks<2>(),
                                                  slotCallbacks<3>()};

}  // namespace

Harness::Harness() {
  for (slot = 0; slot < kSlots; ++slot) {
    Harness* free = nullptr;
    if (g_slots[slot].compare_exchange_strong(free, this)) break;
  }
  if (slot == kSlots) {
    std::fprintf(stderr, "HostHarness: more than %u harnesses at once\n", static_cast<unsigned>(kSlots));
    std::abort();
  }
  callbacks = kSlotCallbacks[slot];
}

Harness::~Harness() { g_slots[slot].store(nullptr); }

void Harness::makeInfos(int32_t numOutputs, int32_t numInputs) {
  outputs = numOutputs;
  inputs = numInputs;
  infos.clear();
  for (int32_t c = 0; c < numOutputs; ++c) infos.push_back(ASIOBufferInfo{ASIOFalse, c, {nullptr, nullptr}});
  for (int32_t c = 0; c < numInputs; ++c) infos.push_back(ASIOBufferInfo{ASIOTrue, c, {nullptr, nullptr}});
}

ASIOError Harness::create(IASIO* d, int32_t size, uint32_t hostHalfBytes) {
  driver = d;
  bufferSize = size;
  halfBytes = hostHalfBytes;
  // Room for a few thousand switches of logs, allocated before streaming starts.
  inputLog.assign(size_t{hostHalfBytes} * 512, 0);
  outputLog.assign(static_cast<size_t>(outputs), std::vector<uint8_t>(size_t{hostHalfBytes} * 512, 0));
  return d->createBuffers(infos.data(), static_cast<int32_t>(infos.size()), size, &callbacks);
}

bool Harness::waitForSwitches(uint32_t count, DWORD timeoutMs) const {
  DWORD start = GetTickCount();
  while (switchCount.load() < count) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(5);
  }
  return true;
}

void Harness::onSwitch(int32_t half, const ASIOTime* time) {
  if (stopCalled.load()) ++switchesAfterStop;
  uint32_t n = switchCount.load();
  if (n < kMaxSwitches) {
    Switch& s = switches[n];
    s.half = half;
    s.flags = time ? time->timeInfo.flags : 0;
    s.sampleRate = time ? time->timeInfo.sampleRate : 0;
    ASIOSamples pos{}, stamp{};
    if (time) {
      pos = time->timeInfo.samplePosition;
      stamp = time->timeInfo.systemTime;
    } else {
      driver->getSamplePosition(&pos, &stamp);
    }
    s.position = asioToU64(pos);
    s.systemTime = asioToU64(stamp);
  }
  // Inputs: channel 0 into the log.
  size_t logged = inputLogBytes.load();
  if (inputs > 0 && logged + halfBytes <= inputLog.size()) {
    const ASIOBufferInfo& in = infos[static_cast<size_t>(outputs)];
    std::memcpy(inputLog.data() + logged, in.buffers[half], halfBytes);
    inputLogBytes.store(logged + halfBytes);
  }
  // Outputs: a running counter per channel, little-endian, sampleBytes wide.
  size_t written = outputLogBytes.load();
  if (writePattern) {
    uint64_t frame0 = framesWritten.load();
    uint32_t samples = halfBytes / sampleBytes;
    for (int32_t c = 0; c < outputs; ++c) {
      auto* dst = static_cast<uint8_t*>(infos[static_cast<size_t>(c)].buffers[half]);
      for (uint32_t i = 0; i < samples; ++i) {
        uint64_t v = (frame0 + i) * 2 + static_cast<uint64_t>(c) + 1;
        for (uint32_t b = 0; b < sampleBytes; ++b) dst[i * sampleBytes + b] = static_cast<uint8_t>(v >> (8 * b));
      }
      if (written + halfBytes <= outputLog[static_cast<size_t>(c)].size())
        std::memcpy(outputLog[static_cast<size_t>(c)].data() + written, dst, halfBytes);
    }
    framesWritten.store(frame0 + samples);
    if (outputs > 0 && written + halfBytes <= outputLog.front().size()) outputLogBytes.store(written + halfBytes);
  }
  if (slowSwitchEvery && n % slowSwitchEvery == slowSwitchEvery - 1) Sleep(slowSwitchMs);
  if (callOutputReady) driver->outputReady();
  if (stopInSwitch && n == 2) stopInSwitchResult = driver->stop();
  switchCount.store(n + 1);
  if (releaseInSwitch && n == 3) driver->Release();  // the driver is not touched after this
}

}  // namespace host
