#include "FakeDriver.h"

#include <cstdio>
#include <cstring>

#include "Wav.h"

namespace asiohost {
namespace {

int64_t qpcNs() {
  LARGE_INTEGER c, f;
  QueryPerformanceCounter(&c);
  QueryPerformanceFrequency(&f);
  return c.QuadPart / f.QuadPart * 1000000000 + c.QuadPart % f.QuadPart * 1000000000 / f.QuadPart;
}

constexpr double kRates[] = {44100, 48000, 96000, 2822400};

}  // namespace

FakeFaults parseFakeFaults(const std::string& list) {
  FakeFaults f;
  size_t at = 0;
  while (at < list.size()) {
    size_t comma = list.find(',', at);
    if (comma == std::string::npos) comma = list.size();
    const std::string w = list.substr(at, comma - at);
    f.repeatHalf |= w == "half";
    f.skipPosition |= w == "position";
    f.backwardsTime |= w == "time";
    f.switchAfterStop |= w == "afterstop";
    f.failInit |= w == "init";
    f.failCreateBuffers |= w == "create";
    f.hangInStop |= w == "hang";
    f.pcmTypeAtDsd |= w == "dsdtype";
    f.noTimeInfo |= w == "notimeinfo";
    at = comma + 1;
  }
  return f;
}

FakeAsioDriver::FakeAsioDriver(FakeFaults faults, const CLSID& identity) : identity_(identity), faults_(faults) {}

FakeAsioDriver::~FakeAsioDriver() { disposeBuffers(); }

HRESULT STDMETHODCALLTYPE FakeAsioDriver::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, identity_)) {
    *object = this;
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE FakeAsioDriver::AddRef() { return ++refs_; }

ULONG STDMETHODCALLTYPE FakeAsioDriver::Release() {
  const ULONG n = --refs_;
  if (n == 0) delete this;
  return n;
}

ASIOBool FakeAsioDriver::init(void*) {
  initialised_ = !faults_.failInit;
  return initialised_ ? ASIOTrue : ASIOFalse;
}

void FakeAsioDriver::getDriverName(char* name) { std::strcpy(name, "Fake ASIO"); }

void FakeAsioDriver::getErrorMessage(char* string) {
  std::strcpy(string, faults_.failInit ? "no device (test fault)" : "");
}

ASIOError FakeAsioDriver::getChannels(int32_t* in, int32_t* out) {
  if (!initialised_) return ASE_NotPresent;
  if (in) *in = kChannels;
  if (out) *out = kChannels;
  return ASE_OK;
}

ASIOError FakeAsioDriver::getLatencies(int32_t* in, int32_t* out) {
  const int32_t b = bufferSize_ ? bufferSize_ : 480;
  if (in) *in = b;
  if (out) *out = b;
  return initialised_ ? ASE_OK : ASE_NotPresent;
}

ASIOError FakeAsioDriver::getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferred, int32_t* granularity) {
  const int32_t unit = isDsd() ? 28224 : static_cast<int32_t>(rate_ / 1000);
  if (minSize) *minSize = isDsd() ? unit : 2 * unit;
  if (maxSize) *maxSize = isDsd() ? 10 * unit : 100 * unit;
  if (preferred) *preferred = isDsd() ? unit : 10 * unit;
  if (granularity) *granularity = unit;
  return ASE_OK;
}

ASIOError FakeAsioDriver::canSampleRate(ASIOSampleRate r) {
  for (double k : kRates)
    if (k == r) return ASE_OK;
  return ASE_NoClock;
}

ASIOError FakeAsioDriver::getSampleRate(ASIOSampleRate* r) {
  if (r) *r = rate_;
  return ASE_OK;
}

ASIOError FakeAsioDriver::setSampleRate(ASIOSampleRate r) {
  if (canSampleRate(r) != ASE_OK) return ASE_NoClock;
  const bool changed = r != rate_;
  rate_ = r;
  // Like real drivers, a rate change asks a host that gave its callbacks for a reset.
  if (changed && callbacks_.asioMessage) callbacks_.asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
  return ASE_OK;
}

ASIOError FakeAsioDriver::getClockSources(ASIOClockSource* clocks, int32_t* count) {
  if (!clocks || !count) return ASE_InvalidParameter;
  if (*count > 0) {
    clocks[0] = ASIOClockSource{0, -1, -1, ASIOTrue, {}};
    std::strcpy(clocks[0].name, "Internal");
  }
  *count = 1;
  return ASE_OK;
}

ASIOError FakeAsioDriver::setClockSource(int32_t reference) { return reference == 0 ? ASE_OK : ASE_NotPresent; }

ASIOError FakeAsioDriver::getSamplePosition(ASIOSamples* pos, ASIOTimeStamp* stamp) {
  if (pos) *pos = asioFromU64(position_.load());
  if (stamp) *stamp = asioFromU64(systemTime_.load());
  return ASE_OK;
}

ASIOError FakeAsioDriver::getChannelInfo(ASIOChannelInfo* info) {
  if (!info || info->channel < 0 || info->channel >= kChannels) return ASE_InvalidParameter;
  const int dir = info->isInput ? 1 : 0;
  info->isActive = buffers_[dir][info->channel][0] ? ASIOTrue : ASIOFalse;
  info->channelGroup = 0;
  info->type = isDsd() && !faults_.pcmTypeAtDsd ? ASIOSTDSDInt8MSB1 : ASIOSTInt32LSB;
  std::snprintf(info->name, sizeof info->name, "Fake %s %d", dir ? "In" : "Out", static_cast<int>(info->channel));
  return ASE_OK;
}

ASIOError FakeAsioDriver::createBuffers(ASIOBufferInfo* infos, int32_t count, int32_t size, ASIOCallbacks* callbacks) {
  if (!initialised_ || faults_.failCreateBuffers) return ASE_NoMemory;
  if (!infos || !callbacks || count <= 0 || size <= 0 || (isDsd() && size % 32)) return ASE_InvalidParameter;
  disposeBuffers();
  const size_t half = isDsd() ? size / 8 : size * 4;
  memory_.assign(half * 2 * 2 * kChannels, 0);
  for (int32_t i = 0; i < count; ++i) {
    ASIOBufferInfo& b = infos[i];
    if (b.channelNum < 0 || b.channelNum >= kChannels) return ASE_InvalidParameter;
    const int dir = b.isInput ? 1 : 0;
    for (int h = 0; h < 2; ++h)
      b.buffers[h] = buffers_[dir][b.channelNum][h] = &memory_[((dir * kChannels + b.channelNum) * 2 + h) * half];
  }
  bufferSize_ = size;
  callbacks_ = *callbacks;
  timeInfo_ = !faults_.noTimeInfo && callbacks_.asioMessage &&
              callbacks_.asioMessage(kAsioEngineVersion, 0, nullptr, nullptr) >= 2 &&
              callbacks_.asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr) == 1;
  played_.assign(static_cast<size_t>(rate_ / (isDsd() ? 32 : 1)) * 20 * kChannels, 0);  // 20 s
  playedFrames_ = 0;
  return ASE_OK;
}

ASIOError FakeAsioDriver::disposeBuffers() {
  if (running_) stop();
  if (late_) {
    WaitForSingleObject(late_, INFINITE);
    CloseHandle(late_);
    late_ = nullptr;
  }
  std::memset(buffers_, 0, sizeof buffers_);
  memory_.clear();
  bufferSize_ = 0;
  return ASE_OK;
}

ASIOError FakeAsioDriver::start() {
  if (!bufferSize_) return ASE_InvalidMode;
  if (running_) return ASE_OK;
  position_ = 0;
  switchCount_ = 0;
  running_ = true;
  firstPumpSwitch_ = 0;
  if (faults_.firstSwitchInStart) {
    position_ = 0;
    systemTime_ = static_cast<uint64_t>(qpcNs());
    deliver(0);
    firstPumpSwitch_ = 1;
  }
  pump_ = CreateThread(nullptr, 0, &FakeAsioDriver::pumpThread, this, 0, nullptr);
  if (!pump_) {
    running_ = false;
    return ASE_HWMalfunction;
  }
  return ASE_OK;
}

ASIOError FakeAsioDriver::stop() {
  if (faults_.hangInStop) Sleep(INFINITE);
  if (!running_) return ASE_OK;
  running_ = false;
  WaitForSingleObject(pump_, INFINITE);
  CloseHandle(pump_);
  pump_ = nullptr;
  if (faults_.switchAfterStop) late_ = CreateThread(nullptr, 0, &FakeAsioDriver::lateSwitchThread, this, 0, nullptr);
  return ASE_OK;
}

DWORD WINAPI FakeAsioDriver::pumpThread(void* self) {
  static_cast<FakeAsioDriver*>(self)->runPump();
  return 0;
}

DWORD WINAPI FakeAsioDriver::lateSwitchThread(void* self) {
  Sleep(20);
  static_cast<FakeAsioDriver*>(self)->deliver(0);
  return 0;
}

void FakeAsioDriver::runPump() {
  const double periodNs = 1e9 * bufferSize_ / rate_;
  const int64_t t0 = qpcNs();
  int32_t half = static_cast<int32_t>(firstPumpSwitch_ & 1);
  for (uint64_t n = firstPumpSwitch_; running_; ++n) {
    while (running_ && qpcNs() < t0 + static_cast<int64_t>(n * periodNs)) Sleep(1);
    if (!running_) break;
    uint64_t pos = n * bufferSize_;
    int64_t time = qpcNs();
    int32_t h = half;
    if (n == 5 && faults_.repeatHalf) h ^= 1;
    if (n >= 5 && faults_.skipPosition) pos += 2 * bufferSize_;
    if (n == 5 && faults_.backwardsTime) time -= 1000000000;
    position_ = pos;
    systemTime_ = static_cast<uint64_t>(time);
    deliver(h);
    half ^= 1;
  }
}

// Inputs loop the outputs back two buffers later; then the host's switch; then what the host
// wrote counts as played.
void FakeAsioDriver::deliver(int32_t half) {
  const size_t perSwitch = isDsd() ? bufferSize_ / 32 : bufferSize_;
  const size_t delay = 2 * perSwitch;
  for (int c = 0; c < kChannels; ++c) {
    int32_t* in = static_cast<int32_t*>(buffers_[1][c][half]);
    if (!in) continue;
    for (size_t k = 0; k < perSwitch; ++k) {
      const size_t frame = playedFrames_ + k;
      in[k] = frame >= delay && frame - delay < playedFrames_ ? played_[(frame - delay) * kChannels + c] : 0;
    }
  }
  if (timeInfo_ && callbacks_.bufferSwitchTimeInfo) {
    ASIOTime t{};
    t.timeInfo.speed = 1.0;
    t.timeInfo.samplePosition = asioFromU64(position_);
    t.timeInfo.systemTime = asioFromU64(systemTime_);
    t.timeInfo.sampleRate = rate_;
    t.timeInfo.flags = kSystemTimeValid | kSamplePositionValid | kSampleRateValid;
    callbacks_.bufferSwitchTimeInfo(&t, half, ASIOTrue);
  } else {
    callbacks_.bufferSwitch(half, ASIOTrue);
  }
  ++switchCount_;
  for (size_t k = 0; k < perSwitch && playedFrames_ + k < played_.size() / kChannels; ++k)
    for (int c = 0; c < kChannels; ++c) {
      const uint8_t* out = static_cast<const uint8_t*>(buffers_[0][c][half]);
      int32_t v = 0;
      if (out) std::memcpy(&v, out + 4 * k, 4);
      played_[(playedFrames_ + k) * kChannels + c] = v;
    }
  playedFrames_ = std::min(played_.size() / kChannels, playedFrames_ + perSwitch);
}

ASIOError FakeAsioDriver::future(int32_t selector, void* opt) {
  switch (selector) {
    case kAsioCanTimeInfo: return ASE_SUCCESS;
    case kAsioCanDoIoFormat: return ASE_SUCCESS;
    case kAsioGetIoFormat:
      if (!opt) return ASE_InvalidParameter;
      static_cast<ASIOIoFormat*>(opt)->FormatType = isDsd() ? kASIODSDFormat : kASIOPCMFormat;
      return ASE_SUCCESS;
    case kAsioSetIoFormat: {
      if (!opt) return ASE_InvalidParameter;
      const int32_t type = static_cast<ASIOIoFormat*>(opt)->FormatType;
      return type == kASIOPCMFormat || type == kASIODSDFormat ? ASE_SUCCESS : ASE_NotPresent;
    }
  }
  return selector >= kAsioEnableTimeCodeRead && selector <= kAsioCanOutputMeter ? ASE_NotPresent : ASE_InvalidParameter;
}

bool FakeAsioDriver::writePlayed(const std::string& path) const {
  WavAudio w;
  w.rate = static_cast<uint32_t>(isDsd() ? rate_ / 32 : rate_);
  w.channels = kChannels;
  w.samples.assign(played_.begin(), played_.begin() + playedFrames_ * kChannels);
  std::string error;
  return writeWavFile(path, w, 32, error);
}

}  // namespace asiohost
