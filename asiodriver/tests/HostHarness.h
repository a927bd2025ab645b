// A host-like harness for the driver tests: creates the driver object in-process through
// its class factory, plays the host's callbacks (on the driver's pump thread) and keeps
// what it saw in preallocated logs.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Asio.h"

namespace host {

// A distinct class identifier per test run, as registration would make.
CLSID freshClsid();

// The two variants of the driver, as their DLLs' class objects make them.
enum class Variant { KernelStreaming, CoreAudio };
const char* variantName(Variant v);

// The driver object created through the variant's class object / CreateInstance.
struct DriverRef {
  IASIO* driver = nullptr;
  HRESULT created = E_FAIL;
  explicit DriverRef(const CLSID& clsid, Variant variant = Variant::KernelStreaming);
  ~DriverRef();
  IASIO* operator->() const { return driver; }
};

struct Switch {
  int32_t half;
  uint64_t position;
  uint64_t systemTime;
  uint32_t flags;  // time-info flags (0 for plain bufferSwitch)
  double sampleRate;  // time-info rate (0 for plain bufferSwitch)
};

struct Harness {
  Harness();
  ~Harness();

  // Host behaviour.
  bool acceptTimeInfo = true;
  bool callOutputReady = false;  // call outputReady at the end of each switch
  uint32_t sampleBytes = 4;      // bytes per host sample of the output pattern (1 byte per 8 DSD bits: use 1)
  bool writePattern = true;      // fill outputs with a running counter
  bool stopInSwitch = false;     // call stop() from inside the third switch
  bool releaseInSwitch = false;  // drop the host's reference inside the fourth switch
  uint32_t slowSwitchEvery = 0;  // every n-th switch takes slowSwitchMs (a host under load)
  DWORD slowSwitchMs = 0;
  std::atomic<int32_t> stopInSwitchResult{1};
  // Set by a test just before it calls stop: switches that begin after it are counted.
  std::atomic<bool> stopCalled{false};
  std::atomic<uint32_t> switchesAfterStop{0};

  // Buffers: outputs then inputs, as given to createBuffers.
  std::vector<ASIOBufferInfo> infos;
  int32_t outputs = 0, inputs = 0;
  int32_t bufferSize = 0;
  uint32_t halfBytes = 0;  // bytes of one host half of one channel
  // The callbacks that report to this harness alone (each live harness has its own set).
  ASIOCallbacks callbacks{};
  size_t slot = 0;
  IASIO* driver = nullptr;

  void makeInfos(int32_t numOutputs, int32_t numInputs);
  ASIOError create(IASIO* d, int32_t size, uint32_t hostHalfBytes);

  // What happened (written by the pump thread).
  static constexpr size_t kMaxSwitches = 4096;
  Switch switches[kMaxSwitches];
  std::atomic<uint32_t> switchCount{0};
  std::atomic<uint32_t> resetRequests{0};
  std::atomic<uint32_t> resyncRequests{0};
  std::atomic<uint32_t> rateChanges{0};
  std::atomic<double> lastRateChange{0};
  std::atomic<uint64_t> framesWritten{0};
  // Input channel 0's bytes as delivered, switch after switch.
  std::vector<uint8_t> inputLog;
  std::atomic<size_t> inputLogBytes{0};
  // Output channel bytes written by the pattern, per output channel.
  std::vector<std::vector<uint8_t>> outputLog;
  std::atomic<size_t> outputLogBytes{0};

  bool waitForSwitches(uint32_t count, DWORD timeoutMs) const;

  void onSwitch(int32_t half, const ASIOTime* time);
};

}  // namespace host
