#include "CaAudioClient.h"

#include <algorithm>
#include <cstring>

namespace tess::vdac::ca {

namespace {

constexpr REFERENCE_TIME kMaximumPeriod = 5'000'000;  // 500 ms
constexpr DWORD kKnownStreamFlags = AUDCLNT_STREAMFLAGS_EVENTCALLBACK | AUDCLNT_STREAMFLAGS_NOPERSIST;

// A plain PCM record may end before cbSize; any other declares its length there.
size_t formatSize(const WAVEFORMATEX* format) {
  return format->wFormatTag == WAVE_FORMAT_PCM ? 16 : sizeof(WAVEFORMATEX) + format->cbSize;
}

bool parse(const WAVEFORMATEX* format, WaveFields& out) {
  return parseWaveFormat(reinterpret_cast<const uint8_t*>(format), formatSize(format), out);
}

// The endpoint's mix format (the store's value when it is a well-formed extensible one).
std::vector<uint8_t> mixFormat(const Endpoint& endpoint) {
  auto it = endpoint.properties.find(keyOf(kKeyMixFormat));
  WaveFields f;
  if (it != endpoint.properties.end() && it->second.type == VT_BLOB && it->second.blob.size() >= 40 &&
      parseWaveFormat(it->second.blob.data(), it->second.blob.size(), f) && f.extensible) {
    return std::vector<uint8_t>(it->second.blob.begin(), it->second.blob.begin() + 40);
  }
  return extensibleFormat(2, 48000, 32, 32, true);
}

WAVEFORMATEX* taskCopy(const std::vector<uint8_t>& bytes) {
  auto* out = static_cast<WAVEFORMATEX*>(CoTaskMemAlloc(bytes.size()));
  if (out) std::memcpy(out, bytes.data(), bytes.size());
  return out;
}

}  // namespace

AudioClient::AudioClient(WorldRef world, int endpoint)
    : world_(std::move(world)), endpoint_(endpoint), render_(world_->endpoints[endpoint].render) {}

AudioClient::~AudioClient() {
  detail::DacGuard guard;
  detail::Dac* dac = deviceOf(world_.get());
  if (dac && pin_) {
    detachEvents();
    dac->closeObject(pin_);  // what is queued ends here, while the slots still exist
  }
}

void* AudioClient::interfaceFor(REFIID iid) {
  return iid == IID_IUnknown || iid == __uuidof(IAudioClient) ? static_cast<IAudioClient*>(this) : nullptr;
}

detail::Pin* AudioClient::livePin(detail::Dac*& dac) {
  dac = deviceOf(world_.get());
  if (!dac || !pin_) return nullptr;
  detail::HandleObject* object = dac->find(pin_, detail::ObjectKind::Pin);
  if (!object || object->dead || dac->familyRemoved(dac->filters[object->pin->filter].device)) return nullptr;
  return object->pin.get();
}

bool AudioClient::endpointGone() {
  detail::Dac* dac = deviceOf(world_.get());
  return !dac || endpointState(*dac, endpoint()) != DEVICE_STATE_ACTIVE;
}

void AudioClient::detachEvents() {
  for (Slot& slot : slots_) slot.ov.hEvent = nullptr;
}

size_t AudioClient::slotsInState(SlotState s) const {
  return static_cast<size_t>(std::count_if(slots_.begin(), slots_.end(), [s](const Slot& x) { return x.state == s; }));
}

void AudioClient::collectCompleted() {
  for (auto it = order_.begin(); it != order_.end();) {
    Slot& slot = slots_[*it];
    if (slot.state == SlotState::Queued && slot.ov.Internal != detail::kStatusPending) {
      const bool recorded = !render_ && slot.ov.Internal == detail::kStatusSuccess;
      slot.state = recorded ? SlotState::Filled : SlotState::Free;
      if (!recorded) {
        it = order_.erase(it);
        continue;
      }
    }
    ++it;
  }
}

void AudioClient::queueSlot(detail::Dac& dac, detail::Pin& pin, size_t index, uint32_t frames) {
  Slot& slot = slots_[index];
  slot.header = KSSTREAM_HEADER{};
  slot.header.Size = sizeof(KSSTREAM_HEADER);
  slot.header.Data = slot.data.data();
  slot.header.FrameExtent = static_cast<ULONG>(slot.data.size());
  slot.header.DataUsed = render_ ? frames * format_.blockAlign : 0;
  slot.ov = OVERLAPPED{};
  slot.ov.hEvent = event_;
  slot.state = SlotState::Queued;
  order_.push_back(index);
  dac.enqueue(pin, &slot.header, &slot.ov, render_, render_ ? frames : bufferFrames_);
}

HRESULT AudioClient::Initialize(AUDCLNT_SHAREMODE mode, DWORD flags, REFERENCE_TIME duration,
                                REFERENCE_TIME periodicity, const WAVEFORMATEX* format, LPCGUID) {
  detail::DacGuard guard;
  if (initialized_) return AUDCLNT_E_ALREADY_INITIALIZED;
  if (!format) return E_POINTER;
  if (mode != AUDCLNT_SHAREMODE_SHARED && mode != AUDCLNT_SHAREMODE_EXCLUSIVE) return E_INVALIDARG;
  if (flags & ~kKnownStreamFlags) return E_INVALIDARG;
  if (endpointGone()) return AUDCLNT_E_DEVICE_INVALIDATED;
  if (mode == AUDCLNT_SHAREMODE_SHARED) return AUDCLNT_E_EXCLUSIVE_MODE_ONLY;
  if (!(flags & AUDCLNT_STREAMFLAGS_EVENTCALLBACK)) return E_INVALIDARG;
  WaveFields fields;
  if (!parse(format, fields) || !acceptsExclusive(endpoint().formats, fields)) return AUDCLNT_E_UNSUPPORTED_FORMAT;
  const CoreAudioShape& shape = world_->shape;
  if (duration == 0 && periodicity == 0) duration = periodicity = shape.defaultPeriod;
  if (duration != periodicity) return AUDCLNT_E_BUFDURATION_PERIOD_NOT_EQUAL;
  if (periodicity < shape.minimumPeriod || periodicity > kMaximumPeriod) return AUDCLNT_E_INVALID_DEVICE_PERIOD;

  detail::Dac* dac = deviceOf(world_.get());
  const Endpoint& e = endpoint();
  if (e.filter < 0) return AUDCLNT_E_ENDPOINT_CREATE_FAILED;
  detail::FilterDevice& filter = dac->filters[e.filter];
  if (filter.instances[e.pinId] >= filter.shape.pins[e.pinId].instances.possibleCount) {
    return AUDCLNT_E_DEVICE_IN_USE;
  }
  const uint32_t frames =
      static_cast<uint32_t>((uint64_t(periodicity) * fields.rate + 5'000'000) / 10'000'000) + shape.bufferFramesExtra;
  for (Slot& slot : slots_) slot.data.assign(size_t{frames} * fields.blockAlign, 0);
  const StreamFormat stream = streamFormatOf(fields);
  const auto* raw = reinterpret_cast<const uint8_t*>(format);
  pin_ = dac->openPin(e.filter, e.pinId, stream, std::vector<uint8_t>(raw, raw + formatSize(format)));
  if (!pin_) return E_OUTOFMEMORY;
  detail::Pin& pin = *dac->find(pin_, detail::ObjectKind::Pin)->pin;
  dac->setPinState(pin, kStateAcquire);
  dac->setPinState(pin, kStatePause);
  format_ = fields;
  bufferFrames_ = frames;
  period_ = periodicity;
  initialized_ = true;
  return S_OK;
}

HRESULT AudioClient::GetBufferSize(UINT32* frames) {
  if (!frames) return E_POINTER;
  detail::DacGuard guard;
  if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
  *frames = bufferFrames_;
  return S_OK;
}

HRESULT AudioClient::GetStreamLatency(REFERENCE_TIME* latency) {
  if (!latency) return E_POINTER;
  detail::DacGuard guard;
  if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
  *latency = period_;
  return S_OK;
}

HRESULT AudioClient::GetCurrentPadding(UINT32* frames) {
  if (!frames) return E_POINTER;
  detail::DacGuard guard;
  if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
  detail::Dac* dac;
  if (!livePin(dac)) return AUDCLNT_E_DEVICE_INVALIDATED;
  collectCompleted();
  // Render: what was written and has not played; capture: what was recorded and not read.
  *frames = static_cast<UINT32>(slotsInState(render_ ? SlotState::Queued : SlotState::Filled)) * bufferFrames_;
  return S_OK;
}

HRESULT AudioClient::IsFormatSupported(AUDCLNT_SHAREMODE mode, const WAVEFORMATEX* format, WAVEFORMATEX** closest) {
  if (!format) return E_POINTER;
  if (closest) *closest = nullptr;
  if (mode != AUDCLNT_SHAREMODE_SHARED && mode != AUDCLNT_SHAREMODE_EXCLUSIVE) return E_INVALIDARG;
  if (mode == AUDCLNT_SHAREMODE_SHARED && !closest) return E_POINTER;
  detail::DacGuard guard;
  if (endpointGone()) return AUDCLNT_E_DEVICE_INVALIDATED;
  WaveFields fields;
  const bool parsed = parse(format, fields);
  if (mode == AUDCLNT_SHAREMODE_EXCLUSIVE) {
    return parsed && acceptsExclusive(endpoint().formats, fields) ? S_OK : AUDCLNT_E_UNSUPPORTED_FORMAT;
  }
  // Shared mode runs at the mix format only; anything else is answered with it.
  const std::vector<uint8_t> mix = mixFormat(endpoint());
  WaveFields mixFields;
  parseWaveFormat(mix.data(), mix.size(), mixFields);
  if (parsed && fields.tag == mixFields.tag && fields.channels == mixFields.channels && fields.rate == mixFields.rate &&
      fields.containerBits == mixFields.containerBits && fields.validBits == mixFields.validBits) {
    return S_OK;
  }
  *closest = taskCopy(mix);
  return *closest ? S_FALSE : E_OUTOFMEMORY;
}

HRESULT AudioClient::GetMixFormat(WAVEFORMATEX** format) {
  if (!format) return E_POINTER;
  *format = nullptr;
  detail::DacGuard guard;
  if (endpointGone()) return AUDCLNT_E_DEVICE_INVALIDATED;
  *format = taskCopy(mixFormat(endpoint()));
  return *format ? S_OK : E_OUTOFMEMORY;
}

HRESULT AudioClient::GetDevicePeriod(REFERENCE_TIME* defaultPeriod, REFERENCE_TIME* minimumPeriod) {
  if (!defaultPeriod && !minimumPeriod) return E_POINTER;
  detail::DacGuard guard;
  if (endpointGone()) return AUDCLNT_E_DEVICE_INVALIDATED;
  if (defaultPeriod) *defaultPeriod = world_->shape.defaultPeriod;
  if (minimumPeriod) *minimumPeriod = world_->shape.minimumPeriod;
  return S_OK;
}

HRESULT AudioClient::Start() {
  detail::DacGuard guard;
  if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
  detail::Dac* dac;
  detail::Pin* pin = livePin(dac);
  if (!pin) return AUDCLNT_E_DEVICE_INVALIDATED;
  if (running_) return AUDCLNT_E_NOT_STOPPED;
  if (!event_) return AUDCLNT_E_EVENTHANDLE_NOT_SET;
  collectCompleted();
  for (size_t i : order_) slots_[i].ov.hEvent = event_;  // queued before the event was set
  if (!render_) {
    for (size_t i = 0; i < kCaptureSlots; ++i) {
      if (slots_[i].state == SlotState::Free) queueSlot(*dac, *pin, i, bufferFrames_);
    }
  }
  dac->setPinState(*pin, kStateRun);
  running_ = true;
  // The device takes the period written before Start into its own buffer: the client's
  // buffer is free again at once.
  if (render_ && slotsInState(SlotState::Queued) < kRenderSlots) SetEvent(event_);
  return S_OK;
}

HRESULT AudioClient::Stop() {
  detail::DacGuard guard;
  if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
  detail::Dac* dac;
  detail::Pin* pin = livePin(dac);
  if (!pin) return AUDCLNT_E_DEVICE_INVALIDATED;
  if (!running_) return S_FALSE;
  dac->setPinState(*pin, kStatePause);  // what is queued stays, to play on the next Start
  running_ = false;
  return S_OK;
}

HRESULT AudioClient::Reset() {
  detail::DacGuard guard;
  if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
  detail::Dac* dac;
  detail::Pin* pin = livePin(dac);
  if (!pin) return AUDCLNT_E_DEVICE_INVALIDATED;
  if (running_) return AUDCLNT_E_NOT_STOPPED;
  if (held_ >= 0) return AUDCLNT_E_BUFFER_OPERATION_PENDING;
  detachEvents();
  dac->cancelQueue(*pin, detail::kStatusCancelled);
  for (Slot& slot : slots_) slot.state = SlotState::Free;
  order_.clear();
  capturedFrames_ = 0;
  return S_OK;
}

HRESULT AudioClient::SetEventHandle(HANDLE event) {
  if (!event || event == INVALID_HANDLE_VALUE) return E_INVALIDARG;
  detail::DacGuard guard;
  if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
  event_ = event;
  return S_OK;
}

HRESULT AudioClient::GetService(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  {
    detail::DacGuard guard;
    if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
    detail::Dac* dac;
    if (!livePin(dac)) return AUDCLNT_E_DEVICE_INVALIDATED;
  }
  if (iid == __uuidof(IAudioRenderClient) || iid == __uuidof(IAudioCaptureClient)) {
    const bool wantsRender = iid == __uuidof(IAudioRenderClient);
    if (wantsRender != render_) return AUDCLNT_E_WRONG_ENDPOINT_TYPE;
    *out = wantsRender ? static_cast<void*>(newRenderService(this)) : static_cast<void*>(newCaptureService(this));
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  return E_NOINTERFACE;
}

HRESULT AudioClient::renderGetBuffer(UINT32 frames, BYTE** data) {
  if (!data) return E_POINTER;
  *data = nullptr;
  detail::DacGuard guard;
  detail::Dac* dac;
  if (!livePin(dac)) return AUDCLNT_E_DEVICE_INVALIDATED;
  if (held_ >= 0) return AUDCLNT_E_OUT_OF_ORDER;
  if (frames == 0) return S_OK;
  if (frames != bufferFrames_) return AUDCLNT_E_BUFFER_SIZE_ERROR;
  collectCompleted();
  // Before Start the device takes nothing yet: one period may wait for it.
  const size_t room = running_ ? kRenderSlots : 1;
  if (slotsInState(SlotState::Queued) >= room) return AUDCLNT_E_BUFFER_TOO_LARGE;
  for (size_t i = 0; i < kRenderSlots; ++i) {
    if (slots_[i].state != SlotState::Free) continue;
    slots_[i].state = SlotState::Held;
    held_ = static_cast<int>(i);
    *data = slots_[i].data.data();
    return S_OK;
  }
  return AUDCLNT_E_BUFFER_TOO_LARGE;
}

HRESULT AudioClient::renderReleaseBuffer(UINT32 frames, DWORD flags) {
  detail::DacGuard guard;
  if (flags & ~DWORD{AUDCLNT_BUFFERFLAGS_SILENT}) return E_INVALIDARG;
  if (held_ < 0) return AUDCLNT_E_OUT_OF_ORDER;
  if (frames > bufferFrames_) return AUDCLNT_E_INVALID_SIZE;
  if (frames != 0 && frames != bufferFrames_) return AUDCLNT_E_BUFFER_SIZE_ERROR;
  const size_t index = static_cast<size_t>(held_);
  held_ = -1;
  slots_[index].state = SlotState::Free;
  detail::Dac* dac;
  detail::Pin* pin = livePin(dac);
  if (!pin) return AUDCLNT_E_DEVICE_INVALIDATED;
  if (frames == 0) return S_OK;
  if (flags & AUDCLNT_BUFFERFLAGS_SILENT) std::memset(slots_[index].data.data(), 0, slots_[index].data.size());
  queueSlot(*dac, *pin, index, frames);
  return S_OK;
}

HRESULT AudioClient::captureGetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64* devicePosition,
                                      UINT64* qpcPosition) {
  if (!data || !frames || !flags) return E_POINTER;
  *data = nullptr;
  *frames = 0;
  *flags = 0;
  detail::DacGuard guard;
  detail::Dac* dac;
  if (!livePin(dac)) return AUDCLNT_E_DEVICE_INVALIDATED;
  if (held_ >= 0) return AUDCLNT_E_OUT_OF_ORDER;
  collectCompleted();
  if (order_.empty() || slots_[order_.front()].state != SlotState::Filled) return AUDCLNT_S_BUFFER_EMPTY;
  Slot& slot = slots_[order_.front()];
  slot.state = SlotState::Held;
  held_ = static_cast<int>(order_.front());
  *data = slot.data.data();
  *frames = slot.header.DataUsed / format_.blockAlign;
  if (devicePosition) *devicePosition = capturedFrames_;
  if (qpcPosition) *qpcPosition = static_cast<UINT64>(detail::nowTicks());
  return S_OK;
}

HRESULT AudioClient::captureReleaseBuffer(UINT32 frames) {
  detail::DacGuard guard;
  if (held_ < 0) return AUDCLNT_E_OUT_OF_ORDER;
  Slot& slot = slots_[static_cast<size_t>(held_)];
  const uint32_t packetFrames = slot.header.DataUsed / format_.blockAlign;
  if (frames != 0 && frames != packetFrames) return AUDCLNT_E_INVALID_SIZE;
  const size_t index = static_cast<size_t>(held_);
  held_ = -1;
  detail::Dac* dac;
  detail::Pin* pin = livePin(dac);
  if (frames == 0) {
    slot.state = SlotState::Filled;  // read again by the next GetBuffer
    return pin ? S_OK : AUDCLNT_E_DEVICE_INVALIDATED;
  }
  order_.pop_front();
  slot.state = SlotState::Free;
  capturedFrames_ += packetFrames;
  if (!pin) return AUDCLNT_E_DEVICE_INVALIDATED;
  if (running_) queueSlot(*dac, *pin, index, bufferFrames_);
  return S_OK;
}

HRESULT AudioClient::captureNextPacketSize(UINT32* frames) {
  if (!frames) return E_POINTER;
  *frames = 0;
  detail::DacGuard guard;
  detail::Dac* dac;
  if (!livePin(dac)) return AUDCLNT_E_DEVICE_INVALIDATED;
  collectCompleted();
  if (!order_.empty() && slots_[order_.front()].state == SlotState::Filled) {
    *frames = slots_[order_.front()].header.DataUsed / format_.blockAlign;
  }
  return S_OK;
}

IAudioClient* newAudioClient(WorldRef world, int endpoint) {
  return new (std::nothrow) AudioClient(std::move(world), endpoint);
}

}  // namespace tess::vdac::ca
