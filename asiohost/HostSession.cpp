#include "HostSession.h"

#include <io.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "AsioNames.h"
#include "SampleRates.h"

namespace asiohost {

std::atomic<HostSession*> HostSession::active_{nullptr};

namespace {

constexpr double kProbeRates[] = {32000,  44100,  48000,  88200,        96000,         176400,
                                  192000, 352800, 384000, tess::kDsd64, tess::kDsd128, tess::kDsd256};

uint64_t fileTimeNs(const FILETIME& f) {
  return ((static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime) * 100;
}

uint64_t threadCpuNs() {
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
  return fileTimeNs(kernel) + fileTimeNs(user);
}

uint64_t processCpuNs() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  return fileTimeNs(kernel) + fileTimeNs(user);
}

bool isDsdRate(double rate) { return rate == tess::kDsd64 || rate == tess::kDsd128 || rate == tess::kDsd256; }

std::string hz(double rate) {
  char b[32];
  std::snprintf(b, sizeof b, "%.0f Hz", rate);
  return b;
}

// Keeps the larger magnitude in a peak meter shared with the status line.
void raisePeak(std::atomic<uint32_t>& meter, double peak) {
  const uint32_t v = static_cast<uint32_t>(std::min(peak, 1.0) * 4294967295.0);
  uint32_t old = meter.load(std::memory_order_relaxed);
  while (v > old && !meter.compare_exchange_weak(old, v, std::memory_order_relaxed)) {
  }
}

// Pumps the thread's window messages while the host waits (the driver may need them).
void pumpFor(DWORD ms) {
  const ULONGLONG until = GetTickCount64() + ms;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    const ULONGLONG now = GetTickCount64();
    if (now >= until) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min<ULONGLONG>(until - now, 10)), QS_ALLINPUT);
  }
}

}  // namespace

HostSession::HostSession(IASIO* driver, CallGuard& guard, FILE* log) : driver_(driver), guard_(guard), log_(log) {
  QueryPerformanceFrequency(&qpcFrequency_);
  callbacks_.bufferSwitch = &HostSession::onBufferSwitch;
  callbacks_.sampleRateDidChange = &HostSession::onSampleRateDidChange;
  callbacks_.asioMessage = &HostSession::onAsioMessage;
  callbacks_.bufferSwitchTimeInfo = &HostSession::onBufferSwitchTimeInfo;
}

HostSession::~HostSession() {
  if (buffersCreated_) {
    CheckList ignored;
    dispose(ignored);
  }
  HostSession* self = this;
  active_.compare_exchange_strong(self, nullptr);
}

int64_t HostSession::nowNs() const {
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  const int64_t f = qpcFrequency_.QuadPart;
  return c.QuadPart / f * 1000000000 + c.QuadPart % f * 1000000000 / f;
}

bool HostSession::init(HWND sysHandle, std::string& error) {
  const ASIOBool ok = guard_.call("init", [&] { return driver_->init(sysHandle); });
  char name[128] = {};  // the published size is 32; room to spare for drivers that overrun it
  guard_.call("getDriverName", [&] { driver_->getDriverName(name); });
  name[sizeof name - 1] = 0;
  facts_.name = name;
  facts_.version = guard_.call("getDriverVersion", [&] { return driver_->getDriverVersion(); });
  if (ok != ASIOTrue) {
    char message[256] = {};
    guard_.call("getErrorMessage", [&] { driver_->getErrorMessage(message); });
    message[sizeof message - 1] = 0;
    error =
        std::string("the driver refused init") + (message[0] ? ": " + std::string(message) : " (it gave no reason)");
    return false;
  }
  return true;
}

void HostSession::query(CheckList& checks) {
  DriverFacts& f = facts_;
  checks.add("init and name", !f.name.empty(), "\"" + f.name + "\", version " + std::to_string(f.version));

  ASIOError rc = guard_.call("getChannels", [&] { return driver_->getChannels(&f.inputs, &f.outputs); });
  checks.add("getChannels", rc == ASE_OK && f.inputs >= 0 && f.outputs >= 0 && f.inputs + f.outputs > 0,
             asioErrorName(rc) + ", " + std::to_string(f.inputs) + " in, " + std::to_string(f.outputs) + " out");

  rc = guard_.call("getLatencies", [&] { return driver_->getLatencies(&f.inputLatency, &f.outputLatency); });
  checks.add("getLatencies", rc == ASE_OK && f.inputLatency >= 0 && f.outputLatency >= 0,
             asioErrorName(rc) + ", input " + std::to_string(f.inputLatency) + ", output " +
                 std::to_string(f.outputLatency) + " frames");

  rc = guard_.call("getBufferSize",
                   [&] { return driver_->getBufferSize(&f.minSize, &f.maxSize, &f.preferredSize, &f.granularity); });
  CheckResult sizes = checkBufferSizes(f.minSize, f.maxSize, f.preferredSize, f.granularity);
  if (rc != ASE_OK) sizes = {sizes.name, false, asioErrorName(rc)};
  checks.add(sizes);

  rc = guard_.call("getSampleRate", [&] { return driver_->getSampleRate(&f.rate); });
  checks.add("getSampleRate", rc == ASE_OK && f.rate > 0, asioErrorName(rc) + ", " + hz(f.rate));

  std::string accepted, odd;
  bool anyPcm = false;
  f.canSampleRate.clear();
  for (double rate : kProbeRates) {
    const ASIOError r = guard_.call("canSampleRate", [&] { return driver_->canSampleRate(rate); });
    f.canSampleRate.emplace_back(rate, r);
    if (r == ASE_OK) {
      accepted += (accepted.empty() ? "" : " ") + std::to_string(static_cast<long long>(rate));
      anyPcm = anyPcm || !isDsdRate(rate);
    } else if (r != ASE_NotPresent && r != ASE_NoClock) {
      odd += " " + hz(rate) + ": " + asioErrorName(r);
    }
  }
  checks.add(
      "canSampleRate over the table and DSD rates", anyPcm && odd.empty(),
      "accepted " + (accepted.empty() ? std::string("none") : accepted) + (odd.empty() ? "" : "; unexpected" + odd));

  f.channels.clear();
  std::string bad;
  for (int dir = 0; dir < 2; ++dir) {
    const int32_t count = dir ? f.inputs : f.outputs;
    for (int32_t c = 0; c < count && c < 1024; ++c) {
      ASIOChannelInfo info{};
      info.channel = c;
      info.isInput = dir ? ASIOTrue : ASIOFalse;
      const ASIOError r = guard_.call("getChannelInfo", [&] { return driver_->getChannelInfo(&info); });
      info.name[sizeof info.name - 1] = 0;
      if (r != ASE_OK || info.channel != c || (info.isInput != ASIOFalse) != (dir == 1))
        bad += std::string(bad.empty() ? "" : "; ") + (dir ? "input " : "output ") + std::to_string(c) + ": " +
               asioErrorName(r);
      f.channels.push_back(info);
    }
  }
  checks.add("getChannelInfo of every channel", bad.empty() && !f.channels.empty(),
             bad.empty() ? std::to_string(f.channels.size()) + " channels" : bad);
  std::vector<ChannelType> types;
  for (const ASIOChannelInfo& c : f.channels) types.push_back({c.isInput != ASIOFalse, c.channel, c.type});
  checks.add(checkSampleTypes(types, 0));

  ASIOClockSource clocks[32] = {};
  int32_t clockCount = 32;
  rc = guard_.call("getClockSources", [&] { return driver_->getClockSources(clocks, &clockCount); });
  f.clocks.assign(clocks, clocks + std::clamp<int32_t>(clockCount, 0, 32));
  int current = 0;
  for (ASIOClockSource& c : f.clocks) {
    c.name[sizeof c.name - 1] = 0;
    current += c.isCurrentSource ? 1 : 0;
  }
  checks.add("getClockSources", rc == ASE_OK && clockCount >= 1 && clockCount <= 32 && current == 1,
             asioErrorName(rc) + ", " + std::to_string(clockCount) + " source(s), " + std::to_string(current) +
                 " current" + (f.clocks.empty() ? "" : ", first \"" + std::string(f.clocks[0].name) + "\""));

  // Capability questions answer ASE_SUCCESS or ASE_NotPresent; an unknown selector is never a success.
  f.future.clear();
  std::string futureOdd;
  for (int32_t s : {kAsioCanTimeInfo, kAsioCanTimeCode, kAsioCanInputMonitor, kAsioCanTransport, kAsioCanInputGain,
                    kAsioCanInputMeter, kAsioCanOutputGain, kAsioCanOutputMeter, kAsioCanDoIoFormat}) {
    const ASIOError r = guard_.call("future", [&] { return driver_->future(s, nullptr); });
    f.future.emplace_back(s, r);
    if (r != ASE_SUCCESS && r != ASE_NotPresent && r != ASE_InvalidParameter)
      futureOdd += " " + futureSelectorName(s) + ": " + asioErrorName(r);
  }
  ASIOIoFormat format{};
  format.FormatType = kASIOFormatInvalid;
  rc = guard_.call("future", [&] { return driver_->future(kAsioGetIoFormat, &format); });
  f.future.emplace_back(kAsioGetIoFormat, rc);
  if (rc == ASE_SUCCESS && format.FormatType != kASIOPCMFormat && format.FormatType != kASIODSDFormat)
    futureOdd += " kAsioGetIoFormat gave format " + std::to_string(format.FormatType);
  const bool canDoIoFormat = std::any_of(f.future.begin(), f.future.end(), [](const std::pair<int32_t, int32_t>& p) {
    return p.first == kAsioCanDoIoFormat && p.second == ASE_SUCCESS;
  });
  if (canDoIoFormat) {
    ASIOIoFormat bogus{};
    bogus.FormatType = 2;  // neither PCM nor DSD
    if (guard_.call("future", [&] { return driver_->future(kAsioSetIoFormat, &bogus); }) == ASE_SUCCESS)
      futureOdd += " kAsioSetIoFormat accepted format type 2";
  }
  const ASIOError unknown = guard_.call("future", [&] { return driver_->future(0x7A5E1234, nullptr); });
  if (unknown == ASE_SUCCESS) futureOdd += " an unknown selector answered ASE_SUCCESS";
  std::string answers;
  for (const auto& p : f.future)
    if (p.second == ASE_SUCCESS) answers += (answers.empty() ? "" : " ") + futureSelectorName(p.first);
  checks.add("future selectors", futureOdd.empty(),
             futureOdd.empty() ? "supported: " + (answers.empty() ? std::string("none") : answers)
                               : "unexpected:" + futureOdd);
}

// Each DSD rate the driver accepts must switch the channels to a one-bit DSD type. Run after
// the PCM stream: a driver may keep a DSD-forced width until its next init.
void HostSession::probeDsdRates(CheckList& checks) {
  const DriverFacts& f = facts_;
  ASIOError rc;
  const bool ioFormats = std::any_of(f.future.begin(), f.future.end(), [](const std::pair<int32_t, int32_t>& p) {
    return p.first == kAsioCanDoIoFormat && p.second == ASE_SUCCESS;
  });
  for (const auto& p : f.canSampleRate) {
    if (!isDsdRate(p.first) || p.second != ASE_OK) continue;
    if (ioFormats) {
      ASIOIoFormat dsdFormat{};
      dsdFormat.FormatType = kASIODSDFormat;
      guard_.call("future", [&] { return driver_->future(kAsioSetIoFormat, &dsdFormat); });
    }
    const double rate = p.first;
    rc = guard_.call("setSampleRate", [&] { return driver_->setSampleRate(rate); });
    std::vector<ChannelType> dsdTypes;
    if (rc == ASE_OK && queryChannelTypes(dsdTypes)) {
      checks.add(checkDsdTypes(dsdTypes, rate, true));
    } else {
      checks.add(checkDsdTypes({}, rate, true).name, false, "setSampleRate gave " + asioErrorName(rc));
    }
  }
  // Back to PCM at the rate the driver had.
  if (ioFormats) {
    ASIOIoFormat pcm{};
    pcm.FormatType = kASIOPCMFormat;
    guard_.call("future", [&] { return driver_->future(kAsioSetIoFormat, &pcm); });
  }
  const double back = streamRate_ > 0 && !dsd_ ? streamRate_ : f.rate;
  if (back > 0) guard_.call("setSampleRate", [&] { return driver_->setSampleRate(back); });
}

bool HostSession::queryChannelTypes(std::vector<ChannelType>& types) {
  types.clear();
  int32_t inputs = 0, outputs = 0;
  if (guard_.call("getChannels", [&] { return driver_->getChannels(&inputs, &outputs); }) != ASE_OK) return false;
  for (int dir = 0; dir < 2; ++dir)
    for (int32_t c = 0; c < (dir ? inputs : outputs) && c < 1024; ++c) {
      ASIOChannelInfo info{};
      info.channel = c;
      info.isInput = dir ? ASIOTrue : ASIOFalse;
      if (guard_.call("getChannelInfo", [&] { return driver_->getChannelInfo(&info); }) != ASE_OK) return false;
      types.push_back({dir == 1, c, info.type});
    }
  return true;
}

bool HostSession::prepare(const StreamSetup& setup, CheckList& checks, Failure& failure, std::string& error) {
  failure = Failure::Driver;
  outFormat_ = inFormat_ = nullptr;  // nothing of an earlier stream carries over
  bufferFrames_ = 0;
  // The rate: DSD rates go with the DSD I/O format where the driver has one.
  double rate = setup.rate;
  ASIOError rc;
  if (rate > 0) {
    const bool wantDsd = isDsdRate(rate);
    if (guard_.call("future", [&] { return driver_->future(kAsioCanDoIoFormat, nullptr); }) == ASE_SUCCESS) {
      ASIOIoFormat format{};
      format.FormatType = wantDsd ? kASIODSDFormat : kASIOPCMFormat;
      rc = guard_.call("future", [&] { return driver_->future(kAsioSetIoFormat, &format); });
      if (rc != ASE_SUCCESS && wantDsd) {
        error = "the driver refused the DSD I/O format: " + asioErrorName(rc);
        return false;
      }
    }
    rc = guard_.call("canSampleRate", [&] { return driver_->canSampleRate(rate); });
    if (rc != ASE_OK) {
      error = "the driver cannot run at " + hz(rate) + ": canSampleRate gave " + asioErrorName(rc);
      return false;
    }
    rc = guard_.call("setSampleRate", [&] { return driver_->setSampleRate(rate); });
    if (rc != ASE_OK) {
      error = "setSampleRate(" + hz(rate) + ") failed: " + asioErrorName(rc);
      return false;
    }
  }
  double current = 0;
  rc = guard_.call("getSampleRate", [&] { return driver_->getSampleRate(&current); });
  if (rate > 0) {
    checks.add("getSampleRate reports the rate set", rc == ASE_OK && current == rate,
               asioErrorName(rc) + ", " + hz(current));
  } else if (rc != ASE_OK || current <= 0) {
    error = "the driver has no sample rate (getSampleRate gave " + asioErrorName(rc) + "); choose one with --rate";
    return false;
  }
  if (rate <= 0) rate = current;
  streamRate_ = rate;
  dsd_ = isDsdRate(rate);

  // Buffer size.
  int32_t minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
  rc = guard_.call("getBufferSize",
                   [&] { return driver_->getBufferSize(&minSize, &maxSize, &preferred, &granularity); });
  if (rc != ASE_OK) {
    error = "getBufferSize failed: " + asioErrorName(rc);
    return false;
  }
  facts_.minSize = minSize, facts_.maxSize = maxSize, facts_.preferredSize = preferred,
  facts_.granularity = granularity;
  int32_t frames = setup.bufferFrames;
  if (frames <= 0 && setup.bufferMs > 0) frames = static_cast<int32_t>(std::lround(setup.bufferMs * rate / 1000.0));
  if (frames <= 0) frames = preferred;
  if (frames <= 0) {
    error = "the driver reports no usable buffer size (preferred " + std::to_string(preferred) + ")";
    return false;
  }
  if (dsd_ && frames % 32 != 0) {
    failure = Failure::Usage;
    error = "at a DSD rate the buffer must hold a multiple of 32 samples (got " + std::to_string(frames) + ")";
    return false;
  }
  bufferFrames_ = frames;

  // Channels.
  int32_t inputs = 0, outputs = 0;
  rc = guard_.call("getChannels", [&] { return driver_->getChannels(&inputs, &outputs); });
  if (rc != ASE_OK) {
    error = "getChannels failed: " + asioErrorName(rc);
    return false;
  }
  facts_.inputs = inputs, facts_.outputs = outputs;
  outChannels_ = setup.outputs;
  if (outChannels_.empty())
    for (int c = 0; c < outputs; ++c) outChannels_.push_back(c);
  inChannels_.clear();
  if (setup.wantInputs) {
    inChannels_ = setup.inputs;
    if (inChannels_.empty())
      for (int c = 0; c < inputs; ++c) inChannels_.push_back(c);
  }
  for (int c : outChannels_)
    if (c >= outputs) {
      failure = Failure::Usage;
      error = "output channel " + std::to_string(c) + " does not exist (the driver has " + std::to_string(outputs) +
              " outputs)";
      return false;
    }
  for (int c : inChannels_)
    if (c >= inputs) {
      failure = Failure::Usage;
      error = "input channel " + std::to_string(c) + " does not exist (the driver has " + std::to_string(inputs) +
              " inputs)";
      return false;
    }
  if (outChannels_.empty() && inChannels_.empty()) {
    error = "no channel to stream";
    return false;
  }

  // Sample types of the chosen channels: one per direction, known to the host.
  std::vector<ChannelType> types;
  for (int dir = 0; dir < 2; ++dir)
    for (int c : dir ? inChannels_ : outChannels_) {
      ASIOChannelInfo info{};
      info.channel = c;
      info.isInput = dir ? ASIOTrue : ASIOFalse;
      rc = guard_.call("getChannelInfo", [&] { return driver_->getChannelInfo(&info); });
      if (rc != ASE_OK) {
        error = std::string("getChannelInfo(") + (dir ? "input " : "output ") + std::to_string(c) +
                ") failed: " + asioErrorName(rc);
        return false;
      }
      types.push_back({dir == 1, c, info.type});
    }
  CheckResult typeCheck = checkSampleTypes(types, setup.expectBits);
  typeCheck.name = "streamed " + typeCheck.name;
  checks.add(typeCheck);
  checks.add(checkDsdTypes(types, rate, dsd_));
  for (const ChannelType& t : types) {
    const SampleFormat* f = findSampleFormat(t.type);
    if (!f) {
      error = "channel reports sample type " + std::to_string(t.type) + ", which this host cannot handle";
      return false;
    }
    (t.isInput ? inFormat_ : outFormat_) = f;
  }
  if ((outFormat_ && outFormat_->isDsd != dsd_) || (inFormat_ && inFormat_->isDsd != dsd_)) {
    error = std::string("the driver reports ") + (outFormat_ ? outFormat_->name : inFormat_->name) + " samples at " +
            hz(rate);
    return false;
  }

  // The signal and the host's own buffers, all before the first switch.
  SignalSpec sig = setup.signal;
  sig.rate = static_cast<uint32_t>(rate);
  sig.channels = static_cast<int>(std::max<size_t>(outChannels_.size(), 1));
  if (dsd_ && sig.kind != SignalKind::Dsd && sig.kind != SignalKind::Silence) sig.kind = SignalKind::Dsd;
  std::string signalError;
  signal_ = makeSignal(sig, signalError);
  if (!signal_) {
    failure = Failure::Usage;
    error = signalError;
    return false;
  }
  scratch_.assign(static_cast<size_t>(frames), 0);
  dsdScratch_.assign(static_cast<size_t>(frames) / 8 + 1, 0);
  const size_t framesPerSwitch = dsd_ ? frames / 32 : frames;
  const double deviceRate = dsd_ ? rate / 32 : rate;
  keepFrames_ = static_cast<size_t>(std::ceil(setup.keepSeconds * deviceRate / framesPerSwitch)) * framesPerSwitch;
  sent_.assign(keepFrames_ * outChannels_.size(), 0);
  captured_.assign(inFormat_ && !inFormat_->isDsd ? keepFrames_ * inChannels_.size() : 0, 0);
  sentFrames_ = capturedFrames_ = 0;
  outPeaks_.reset(new std::atomic<uint32_t>[outChannels_.size() + 1]());
  inPeaks_.reset(new std::atomic<uint32_t>[inChannels_.size() + 1]());
  timeInfoWanted_ = setup.timeInfo;

  // createBuffers: outputs first, then inputs, as most hosts order them.
  bufferInfos_.clear();
  for (int c : outChannels_) bufferInfos_.push_back({ASIOFalse, c, {nullptr, nullptr}});
  for (int c : inChannels_) bufferInfos_.push_back({ASIOTrue, c, {nullptr, nullptr}});
  active_.store(this);
  rc = guard_.call("createBuffers", [&] {
    return driver_->createBuffers(bufferInfos_.data(), static_cast<int32_t>(bufferInfos_.size()), frames, &callbacks_);
  });
  if (rc != ASE_OK) {
    error = "createBuffers(" + std::to_string(bufferInfos_.size()) + " channels, " + std::to_string(frames) +
            " frames) failed: " + asioErrorName(rc);
    return false;
  }
  buffersCreated_ = true;
  for (const ASIOBufferInfo& b : bufferInfos_)
    if (!b.buffers[0] || !b.buffers[1]) {
      error = std::string("createBuffers returned no buffer for ") + (b.isInput ? "input " : "output ") +
              std::to_string(b.channelNum);
      return false;
    }
  // Latencies once buffers exist (drivers report them for the buffer size in use).
  guard_.call("getLatencies", [&] { return driver_->getLatencies(&facts_.inputLatency, &facts_.outputLatency); });

  // outputReady: a driver that supports it answers ASE_OK already now.
  const ASIOError ready = guard_.call("outputReady", [&] { return driver_->outputReady(); });
  callOutputReady_ =
      setup.outputReady == OutputReadyMode::On || (setup.outputReady == OutputReadyMode::Auto && ready == ASE_OK);
  failure = Failure::None;
  return true;
}

void ASIO_CALLBACK HostSession::onBufferSwitch(int32_t half, ASIOBool) {
  if (HostSession* s = active_.load()) s->handleSwitch(half, nullptr);
}

ASIOTime* ASIO_CALLBACK HostSession::onBufferSwitchTimeInfo(ASIOTime* time, int32_t half, ASIOBool) {
  if (HostSession* s = active_.load()) s->handleSwitch(half, time);
  return nullptr;
}

void ASIO_CALLBACK HostSession::onSampleRateDidChange(ASIOSampleRate) {
  if (HostSession* s = active_.load()) s->rateChanges_.fetch_add(1);
}

int32_t ASIO_CALLBACK HostSession::onAsioMessage(int32_t selector, int32_t value, void*, double*) {
  HostSession* s = active_.load();
  switch (selector) {
    case kAsioSelectorSupported:
      return value == kAsioEngineVersion || value == kAsioResetRequest || value == kAsioResyncRequest ||
                     value == kAsioLatenciesChanged || value == kAsioBufferSizeChange || value == kAsioOverload ||
                     (value == kAsioSupportsTimeInfo && s && s->timeInfoWanted_)
                 ? 1
                 : 0;
    case kAsioEngineVersion: return 2;
    case kAsioSupportsTimeInfo: return s && s->timeInfoWanted_ ? 1 : 0;
    case kAsioResetRequest:
      if (s) s->resets_.fetch_add(1);
      return 1;
    case kAsioResyncRequest:
      if (s) s->resyncs_.fetch_add(1);
      return 1;
    case kAsioLatenciesChanged:
      if (s) s->latencyChanges_.fetch_add(1);
      return 1;
    case kAsioBufferSizeChange:
      if (s) s->bufferSizeChanges_.fetch_add(1);
      return 0;  // this host does not change its buffers on the fly
    case kAsioOverload:
      if (s) s->overloads_.fetch_add(1);
      return 1;
  }
  return 0;
}

// The hot path: no allocation, no lock; everything it writes was sized by prepare.
void HostSession::handleSwitch(int32_t half, const ASIOTime* time) {
  const int64_t entered = nowNs();
  if (stopReturned_.load()) {
    afterStop_.fetch_add(1);
    return;
  }
  if (!streaming_.load(std::memory_order_acquire)) return;
  const uint64_t n = switches_.load(std::memory_order_relaxed);
  SwitchRecord r;
  r.half = half;
  r.arrivalNs = entered;
  ASIOSamples pos{};
  ASIOTimeStamp stamp{};
  r.queriedValid = driver_->getSamplePosition(&pos, &stamp) == ASE_OK;
  r.queriedPosition = asioToU64(pos);
  if (time) {
    usedTimeInfo_ = true;
    r.fromTimeInfo = true;
    r.positionValid = (time->timeInfo.flags & kSamplePositionValid) != 0;
    r.timeValid = (time->timeInfo.flags & kSystemTimeValid) != 0;
    r.position = asioToU64(time->timeInfo.samplePosition);
    r.systemTimeNs = asioToU64(time->timeInfo.systemTime);
  } else {
    r.positionValid = r.timeValid = r.queriedValid;
    r.position = r.queriedPosition;
    r.systemTimeNs = asioToU64(stamp);
  }
  if (half == 0 || half == 1) {
    renderOutputs(half);
    readInputs(half);
  }
  if (callOutputReady_) driver_->outputReady();
  // Thread CPU now and then: the call itself costs more than a sample of it is worth.
  const DWORD thread = GetCurrentThreadId();
  if (n == 0 || (n & 15) == 0 || thread != threadCpuThread_) {
    const uint64_t cpu = threadCpuNs();
    if (n == 0 || thread != threadCpuThread_) {  // a new baseline on each new thread
      threadCpuThread_ = thread;
      threadCpuFirst_ = cpu;
      threadCpuFirstSwitch_ = n;
    }
    threadCpuLast_ = cpu;
    threadCpuLastSwitch_ = n;
  }
  r.insideNs = nowNs() - entered;
  if (records_.size() < records_.capacity()) records_.push_back(r);
  switches_.store(n + 1, std::memory_order_release);
}

void HostSession::renderOutputs(int32_t half) {
  const size_t outs = outChannels_.size();
  if (!outFormat_) return;
  for (size_t i = 0; i < outs; ++i) {
    void* dst = bufferInfos_[i].buffers[half];
    if (dsd_) {
      const size_t bytes = static_cast<size_t>(bufferFrames_) / 8;
      signal_->renderDsd(static_cast<int>(i), dsdScratch_.data(), bytes);
      encodeDsd(*outFormat_, dsdScratch_.data(), dst, bytes);
      const size_t containers = bytes / 4;
      for (size_t k = 0; k < containers && sentFrames_ + k < keepFrames_; ++k) {
        const uint8_t* b = &dsdScratch_[4 * k];
        sent_[(sentFrames_ + k) * outs + i] =
            static_cast<int32_t>(b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24);
      }
      raisePeak(outPeaks_[i], 0);
    } else {
      signal_->renderPcm(static_cast<int>(i), scratch_.data(), bufferFrames_);
      raisePeak(outPeaks_[i], peakOf(scratch_.data(), bufferFrames_));
      encodePcm(*outFormat_, scratch_.data(), dst, bufferFrames_);
      if (sentFrames_ < keepFrames_) {
        // Keep what the device will receive: the samples as the buffer's type carries them.
        decodePcm(*outFormat_, dst, scratch_.data(), bufferFrames_);
        for (int32_t k = 0; k < bufferFrames_ && sentFrames_ + k < keepFrames_; ++k)
          sent_[(sentFrames_ + k) * outs + i] = scratch_[k];
      }
    }
  }
  const size_t advance = dsd_ ? static_cast<size_t>(bufferFrames_) / 32 : static_cast<size_t>(bufferFrames_);
  sentFrames_ = std::min(keepFrames_, sentFrames_ + advance);
}

void HostSession::readInputs(int32_t half) {
  const size_t ins = inChannels_.size();
  if (!inFormat_ || inFormat_->isDsd || ins == 0) return;
  const size_t base = outChannels_.size();
  for (size_t i = 0; i < ins; ++i) {
    decodePcm(*inFormat_, bufferInfos_[base + i].buffers[half], scratch_.data(), bufferFrames_);
    for (int32_t k = 0; k < bufferFrames_ && capturedFrames_ + k < keepFrames_; ++k)
      captured_[(capturedFrames_ + k) * ins + i] = scratch_[k];
    raisePeak(inPeaks_[i], peakOf(scratch_.data(), bufferFrames_));
  }
  capturedFrames_ = std::min(keepFrames_, capturedFrames_ + static_cast<size_t>(bufferFrames_));
}

std::vector<double> HostSession::takePeaks(std::atomic<uint32_t>* peaks, size_t n, bool dsd) {
  std::vector<double> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = dsd ? -1.0 : peaks[i].exchange(0) / 4294967295.0;
  return v;
}

bool HostSession::stream(double seconds, size_t wanted, bool showStatus, CheckList& checks, std::string& error) {
  const double periodMs = 1000.0 * bufferFrames_ / streamRate_;
  const size_t expected = std::max(wanted, static_cast<size_t>(std::ceil(seconds * 1000.0 / periodMs)));
  records_.clear();
  records_.reserve(expected + expected / 4 + 256);
  // Counters cover this stream only: requests made while setting up (a rate change asks
  // for a reset, for one) belong to no stream.
  switches_ = 0;
  afterStop_ = 0;
  resets_ = resyncs_ = latencyChanges_ = bufferSizeChanges_ = overloads_ = rateChanges_ = 0;
  streamEnded_ = false;
  stopReturned_ = false;
  threadCpuFirst_ = threadCpuLast_ = threadCpuFirstSwitch_ = threadCpuLastSwitch_ = 0;
  threadCpuThread_ = 0;
  threadCpuUsPerPeriod_ = processCpuUsPerPeriod_ = 0;
  streaming_.store(true, std::memory_order_release);
  const bool tty = _isatty(_fileno(stderr)) != 0;

  const uint64_t processStart = processCpuNs();
  const int64_t started = nowNs();
  const ASIOError rc = guard_.call("start", [&] { return driver_->start(); });
  checks.add("start", rc == ASE_OK, asioErrorName(rc));
  if (rc != ASE_OK) {
    streaming_ = false;
    error = "start failed: " + asioErrorName(rc);
    return false;
  }
  // Wait for the time and the switches, but never longer than the stream could need plus
  // the time limit, and never longer than the time limit without a single switch.
  const double limitMs = std::max(seconds * 1000.0, wanted * periodMs * 2.0) + guard_.timeoutMs();
  uint64_t lastCount = 0;
  int64_t lastProgress = started, lastStatus = started;
  bool stalled = false;
  for (;;) {
    pumpFor(10);
    const int64_t now = nowNs();
    const uint64_t count = switches_.load();
    const double elapsedMs = (now - started) / 1e6;
    if (count != lastCount) lastCount = count, lastProgress = now;
    if (count >= wanted && elapsedMs >= seconds * 1000.0) break;
    if (elapsedMs > limitMs) break;
    if ((now - lastProgress) / 1e6 > guard_.timeoutMs()) {
      stalled = true;
      break;
    }
    if (showStatus && (now - lastStatus) / 1e6 >= (tty ? 200 : 1000)) {
      lastStatus = now;
      const std::string line =
          statusLine(elapsedMs / 1000.0, count, takePeaks(outPeaks_.get(), outChannels_.size(), dsd_),
                     takePeaks(inPeaks_.get(), inChannels_.size(), false), resets_.load());
      std::fprintf(stderr, tty ? "\r%s  " : "%s\n", line.c_str());
      std::fflush(stderr);
    }
  }
  const double waitedMs = (nowNs() - started) / 1e6;
  if (showStatus && tty) std::fprintf(stderr, "\n");
  const ASIOError stopRc = guard_.call("stop", [&] { return driver_->stop(); });
  stopReturned_.store(true);
  streaming_.store(false);
  const uint64_t processEnd = processCpuNs();
  checks.add("stop", stopRc == ASE_OK, asioErrorName(stopRc));
  // Late switches would land in this window.
  const double watchMs = std::max(100.0, 4 * periodMs);
  pumpFor(static_cast<DWORD>(watchMs));

  // What this stream received; later calls (a rate change asks for a reset) do not count.
  streamEnded_ = false;
  endOfStream_ = counters();
  streamEnded_ = true;
  const uint64_t got = switches_.load();
  if (got > 1) {
    processCpuUsPerPeriod_ = (processEnd - processStart) / 1e3 / got;
    if (threadCpuLastSwitch_ > threadCpuFirstSwitch_ && threadCpuLast_ >= threadCpuFirst_)
      threadCpuUsPerPeriod_ =
          (threadCpuLast_ - threadCpuFirst_) / 1e3 / static_cast<double>(threadCpuLastSwitch_ - threadCpuFirstSwitch_);
  }
  // Without a count to wait for, at least half of what the period promises must arrive.
  checks.add(checkSwitchesArrived(got, wanted ? wanted : std::max<size_t>(1, expected / 2), waitedMs));
  const SwitchRecord* r = records_.data();
  const size_t n = records_.size();
  checks.add(checkHalvesAlternate(r, n));
  checks.add(checkPositionsAdvance(r, n, bufferFrames_));
  checks.add(checkTimestampsMonotonic(r, n));
  checks.add(checkSamplePositionAgrees(r, n));
  checks.add(checkNoSwitchAfterStop(afterStop_.load(), watchMs));
  if (stalled || got == 0) {
    char b[160];
    std::snprintf(b, sizeof b, "the driver delivered %llu buffer switch(es), then none for %d ms",
                  static_cast<unsigned long long>(got), guard_.timeoutMs());
    error = b;
    return false;
  }
  return true;
}

void HostSession::dispose(CheckList& checks) {
  if (!buffersCreated_) return;
  const ASIOError rc = guard_.call("disposeBuffers", [&] { return driver_->disposeBuffers(); });
  buffersCreated_ = false;
  checks.add("disposeBuffers", rc == ASE_OK, asioErrorName(rc));
}

TimingFigures HostSession::timing() const {
  return timingOf(records_.data(), records_.size(), streamRate_ > 0 ? 1000.0 * bufferFrames_ / streamRate_ : 0);
}

HostSession::Counters HostSession::counters() const {
  if (!streaming_.load() && streamEnded_) return endOfStream_;
  return {switches_.load(),       afterStop_.load(),         resets_.load(),    resyncs_.load(),
          latencyChanges_.load(), bufferSizeChanges_.load(), overloads_.load(), rateChanges_.load()};
}

void HostSession::writeJson(JsonWriter& j) const {
  const DriverFacts& f = facts_;
  j.key("driver").beginObject();
  j.key("name").value(f.name).key("version").value(f.version);
  j.key("inputs").value(f.inputs).key("outputs").value(f.outputs);
  j.key("inputLatency").value(f.inputLatency).key("outputLatency").value(f.outputLatency);
  j.key("bufferSize").beginObject().key("min").value(f.minSize).key("max").value(f.maxSize);
  j.key("preferred").value(f.preferredSize).key("granularity").value(f.granularity).endObject();
  j.key("canSampleRate").beginArray();
  for (const auto& p : f.canSampleRate)
    j.beginObject().key("rate").value(p.first).key("result").value(asioErrorName(p.second)).endObject();
  j.endArray();
  j.key("channels").beginArray();
  for (const ASIOChannelInfo& c : f.channels) {
    const SampleFormat* sf = findSampleFormat(c.type);
    j.beginObject().key("input").value(c.isInput != ASIOFalse).key("channel").value(c.channel);
    j.key("name").value(std::string(c.name)).key("type").value(sf ? sf->name : std::to_string(c.type).c_str());
    j.key("group").value(c.channelGroup).key("active").value(c.isActive != ASIOFalse).endObject();
  }
  j.endArray();
  j.key("clockSources").beginArray();
  for (const ASIOClockSource& c : f.clocks)
    j.beginObject()
        .key("index")
        .value(c.index)
        .key("name")
        .value(std::string(c.name))
        .key("current")
        .value(c.isCurrentSource != ASIOFalse)
        .endObject();
  j.endArray();
  j.key("future").beginObject();
  for (const auto& p : f.future) j.key(futureSelectorName(p.first)).value(asioErrorName(p.second));
  j.endObject();
  j.endObject();

  if (bufferFrames_ > 0) {
    const Counters c = counters();
    const TimingFigures t = timing();
    j.key("stream").beginObject();
    j.key("rate").value(streamRate_).key("bufferFrames").value(bufferFrames_).key("dsd").value(dsd_);
    j.key("periodMs").value(t.nominalPeriodMs);
    j.key("outputType")
        .value(outFormat_ ? outFormat_->name : "none")
        .key("inputType")
        .value(inFormat_ ? inFormat_->name : "none");
    j.key("outputs").beginArray();
    for (int ch : outChannels_) j.value(ch);
    j.endArray().key("inputs").beginArray();
    for (int ch : inChannels_) j.value(ch);
    j.endArray();
    j.key("timeInfo").value(usedTimeInfo_.load()).key("outputReady").value(callOutputReady_);
    j.key("latencyFrames")
        .beginObject()
        .key("input")
        .value(f.inputLatency)
        .key("output")
        .value(f.outputLatency)
        .endObject();
    j.key("switches").value(c.switches).key("switchesAfterStop").value(c.afterStop);
    j.key("resetRequests").value(c.resets).key("resyncRequests").value(c.resyncs);
    j.key("latencyChanges").value(c.latencyChanges).key("bufferSizeChanges").value(c.bufferSizeChanges);
    j.key("overloads").value(c.overloads).key("sampleRateChanges").value(c.rateChanges);
    j.key("intervalMs").beginObject().key("mean").value(t.intervalMs.mean).key("median").value(t.intervalMs.median);
    j.key("p99").value(t.intervalMs.p99).key("max").value(t.intervalMs.max).endObject();
    j.key("latenessMs").beginObject().key("p99").value(t.latenessP99Ms).key("max").value(t.latenessMaxMs).endObject();
    j.key("stalls").value(static_cast<uint64_t>(t.stalls));
    j.key("lostPeriods").value(static_cast<uint64_t>(t.lostPeriods));
    j.key("cpuUsPerPeriod").beginObject().key("insideCallbackMean").value(t.insideUs.mean);
    j.key("insideCallbackP99").value(t.insideUs.p99).key("insideCallbackMax").value(t.insideUs.max);
    j.key("callbackThread").value(threadCpuUsPerPeriod_).key("process").value(processCpuUsPerPeriod_).endObject();
    j.endObject();
  }
}

}  // namespace asiohost
