// One ASIO host session against one driver object: the conformance queries, buffer
// creation, streaming with the host's callbacks, and what the host recorded meanwhile.
// Every driver call goes through the CallGuard, so none can hang the host unnoticed.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Asio.h"
#include "CallGuard.h"
#include "Checks.h"
#include "Json.h"
#include "Options.h"
#include "SampleCodec.h"
#include "Signals.h"
#include "Stats.h"

namespace asiohost {

struct DriverFacts {
  std::string name;
  int32_t version = 0;
  int32_t inputs = 0, outputs = 0;
  int32_t inputLatency = 0, outputLatency = 0;
  int32_t minSize = 0, maxSize = 0, preferredSize = 0, granularity = 0;
  double rate = 0;
  std::vector<std::pair<double, int32_t>> canSampleRate;  // rate, result
  std::vector<ASIOChannelInfo> channels;
  std::vector<ASIOClockSource> clocks;
  std::vector<std::pair<int32_t, int32_t>> future;  // selector, result
};

struct StreamSetup {
  double rate = 0;       // 0: keep the driver's
  int bufferFrames = 0;  // 0: bufferMs, else the preferred size
  double bufferMs = 0;
  std::vector<int> outputs;  // empty: every output
  std::vector<int> inputs;   // empty: every input (when inputs are wanted)
  bool wantInputs = false;
  bool timeInfo = true;
  OutputReadyMode outputReady = OutputReadyMode::Auto;
  SignalSpec signal;       // rate and channels are filled in by prepare
  double keepSeconds = 0;  // how much of the sent and captured streams to keep
  int expectBits = 0;
};

// Codes for what went wrong, matching the program's exit statuses.
enum class Failure { None = 0, Checks = 1, Usage = 2, Driver = 3, File = 4 };

class HostSession {
 public:
  HostSession(IASIO* driver, CallGuard& guard, FILE* log);
  ~HostSession();
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  // init, name and version. False when the driver refuses.
  bool init(HWND sysHandle, std::string& error);
  // Everything a host asks before streaming, with the checks on the answers.
  void query(CheckList& checks);
  // At each DSD rate the driver accepts, the channels must report a one-bit DSD type.
  void probeDsdRates(CheckList& checks);
  // Rate, buffer size, createBuffers, sample types. False with `failure` and a message.
  bool prepare(const StreamSetup& setup, CheckList& checks, Failure& failure, std::string& error);
  // start, stream until `seconds` passed and `switches` arrived, stop, watch for late switches.
  bool stream(double seconds, size_t switches, bool showStatus, CheckList& checks, std::string& error);
  void dispose(CheckList& checks);

  const DriverFacts& facts() const { return facts_; }
  const std::vector<SwitchRecord>& records() const { return records_; }
  TimingFigures timing() const;
  int32_t bufferFrames() const { return bufferFrames_; }
  double streamRate() const { return streamRate_; }
  bool dsd() const { return dsd_; }
  const std::vector<int>& outputChannels() const { return outChannels_; }
  const std::vector<int>& inputChannels() const { return inChannels_; }
  const SampleFormat* outputFormat() const { return outFormat_; }
  const SampleFormat* inputFormat() const { return inFormat_; }
  bool usedTimeInfo() const { return usedTimeInfo_.load(); }
  bool calledOutputReady() const { return callOutputReady_; }
  // What was sent (interleaved left-justified PCM; at DSD rates the 32-bit device containers)
  // and what came in (PCM inputs), as far as kept.
  const std::vector<int32_t>& sent() const { return sent_; }
  size_t sentFrames() const { return sentFrames_; }
  const std::vector<int32_t>& captured() const { return captured_; }
  size_t capturedFrames() const { return capturedFrames_; }

  struct Counters {
    uint64_t switches, afterStop, resets, resyncs, latencyChanges, bufferSizeChanges, overloads, rateChanges;
  };
  Counters counters() const;
  double cpuCallbackThreadUsPerPeriod() const { return threadCpuUsPerPeriod_; }
  double cpuProcessUsPerPeriod() const { return processCpuUsPerPeriod_; }

  void writeJson(JsonWriter& j) const;

 private:
  static void ASIO_CALLBACK onBufferSwitch(int32_t half, ASIOBool direct);
  static ASIOTime* ASIO_CALLBACK onBufferSwitchTimeInfo(ASIOTime* time, int32_t half, ASIOBool direct);
  static void ASIO_CALLBACK onSampleRateDidChange(ASIOSampleRate rate);
  static int32_t ASIO_CALLBACK onAsioMessage(int32_t selector, int32_t value, void* message, double* opt);
  void handleSwitch(int32_t half, const ASIOTime* time);
  void renderOutputs(int32_t half);
  void readInputs(int32_t half);
  bool queryChannelTypes(std::vector<ChannelType>& types);
  int64_t nowNs() const;
  std::vector<double> takePeaks(std::atomic<uint32_t>* peaks, size_t n, bool dsd);

  IASIO* driver_;
  CallGuard& guard_;
  FILE* log_;
  DriverFacts facts_;
  LARGE_INTEGER qpcFrequency_{};

  // Set up by prepare, read by the callbacks.
  bool buffersCreated_ = false;
  bool dsd_ = false;
  double streamRate_ = 0;
  int32_t bufferFrames_ = 0;
  std::vector<ASIOBufferInfo> bufferInfos_;
  std::vector<int> outChannels_, inChannels_;
  const SampleFormat* outFormat_ = nullptr;
  const SampleFormat* inFormat_ = nullptr;
  ASIOCallbacks callbacks_{};
  bool timeInfoWanted_ = true;
  std::atomic<bool> usedTimeInfo_{false};
  bool callOutputReady_ = false;
  std::unique_ptr<Signal> signal_;
  std::vector<int32_t> scratch_;
  std::vector<uint8_t> dsdScratch_;
  std::vector<int32_t> sent_, captured_;
  size_t keepFrames_ = 0, sentFrames_ = 0, capturedFrames_ = 0;
  std::vector<SwitchRecord> records_;  // capacity reserved by prepare; never grown in the callback
  std::unique_ptr<std::atomic<uint32_t>[]> outPeaks_, inPeaks_;

  // Shared with the callback thread.
  std::atomic<uint64_t> switches_{0}, afterStop_{0}, resets_{0}, resyncs_{0}, latencyChanges_{0}, bufferSizeChanges_{0},
      overloads_{0}, rateChanges_{0};
  std::atomic<bool> stopReturned_{false};
  std::atomic<bool> streaming_{false};
  bool streamEnded_ = false;
  Counters endOfStream_{};
  // Callback-thread CPU, sampled on the thread that delivers the switches: a driver may
  // deliver the first on the thread that called start and the rest on its own, so the
  // figure spans only samples of one thread.
  uint64_t threadCpuFirst_ = 0, threadCpuLast_ = 0, threadCpuFirstSwitch_ = 0, threadCpuLastSwitch_ = 0;
  DWORD threadCpuThread_ = 0;
  double threadCpuUsPerPeriod_ = 0, processCpuUsPerPeriod_ = 0;

  static std::atomic<HostSession*> active_;
};

}  // namespace asiohost
