// An IASIO implementation for the host's tests: two outputs and two inputs of Int32LSB at
// 44100/48000/96000 Hz and native DSD64, switches paced by the host clock, inputs looped back
// from the outputs two buffers later, and faults that break what hosts rely on.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "Asio.h"

namespace asiohost {

struct FakeFaults {
  bool failInit = false;
  bool failCreateBuffers = false;
  bool repeatHalf = false;       // switch 5 carries the same half as switch 4
  bool skipPosition = false;     // the position jumps by two buffers at switch 5
  bool backwardsTime = false;    // switch 5's system time lies before switch 4's
  bool switchAfterStop = false;  // one more switch 20 ms after stop returned
  bool hangInStop = false;       // stop never returns
  bool pcmTypeAtDsd = false;     // DSD rates keep reporting Int32LSB
  bool noTimeInfo = false;       // always plain bufferSwitch, whatever the host says
  bool firstSwitchInStart = false;  // switch 0 comes on the thread that calls start, the rest on the pump
};

// Faults from a comma-separated list: "half,position,time,afterstop,init,create,hang,dsdtype,notimeinfo".
FakeFaults parseFakeFaults(const std::string& list);

class FakeAsioDriver : public IASIO {
 public:
  explicit FakeAsioDriver(FakeFaults faults, const CLSID& identity = CLSID{});
  virtual ~FakeAsioDriver();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  ASIOBool init(void* sysHandle) override;
  void getDriverName(char* name) override;
  int32_t getDriverVersion() override { return 7; }
  void getErrorMessage(char* string) override;
  ASIOError start() override;
  ASIOError stop() override;
  ASIOError getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) override;
  ASIOError getLatencies(int32_t* inputLatency, int32_t* outputLatency) override;
  ASIOError getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize, int32_t* granularity) override;
  ASIOError canSampleRate(ASIOSampleRate sampleRate) override;
  ASIOError getSampleRate(ASIOSampleRate* sampleRate) override;
  ASIOError setSampleRate(ASIOSampleRate sampleRate) override;
  ASIOError getClockSources(ASIOClockSource* clocks, int32_t* numSources) override;
  ASIOError setClockSource(int32_t reference) override;
  ASIOError getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) override;
  ASIOError getChannelInfo(ASIOChannelInfo* info) override;
  ASIOError createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels, int32_t bufferSize,
                          ASIOCallbacks* callbacks) override;
  ASIOError disposeBuffers() override;
  ASIOError controlPanel() override { return ASE_NotPresent; }
  ASIOError future(int32_t selector, void* opt) override;
  ASIOError outputReady() override { return ASE_OK; }

  // What the outputs carried, one interleaved frame per sample of both outputs (Int32 as
  // sent; at DSD64 the 32-bit containers of four DSD bytes), as far as kept.
  const std::vector<int32_t>& played() const { return played_; }
  size_t playedFrames() const { return playedFrames_; }
  double rate() const { return rate_; }
  // Writes played() as a 32-bit WAV; at DSD64 the containers run at the 88200 Hz carrier.
  bool writePlayed(const std::string& path) const;

  static constexpr int kChannels = 2;

 private:
  static DWORD WINAPI pumpThread(void* self);
  static DWORD WINAPI lateSwitchThread(void* self);
  void runPump();
  void deliver(int32_t half);
  bool isDsd() const { return rate_ == 2822400; }

  std::atomic<ULONG> refs_{1};
  CLSID identity_;
  FakeFaults faults_;
  double rate_ = 48000;
  bool initialised_ = false;
  uint64_t firstPumpSwitch_ = 0;
  int32_t bufferSize_ = 0;
  ASIOCallbacks callbacks_{};
  bool timeInfo_ = false;
  // Per channel (outputs 0-1, inputs 0-1): the two halves, or null when not created.
  void* buffers_[2][kChannels][2] = {};
  std::vector<uint8_t> memory_;
  HANDLE pump_ = nullptr, late_ = nullptr;
  std::atomic<bool> running_{false};
  std::atomic<uint64_t> position_{0}, systemTime_{0};
  uint64_t switchCount_ = 0;
  std::vector<int32_t> played_;
  size_t playedFrames_ = 0;
};

}  // namespace asiohost
