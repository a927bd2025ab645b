// The controls behind topology parts (volume level, mute, input selector), endpoint
// volume with its change callbacks, and the endpoint notifications of removal and return.
// Callbacks are made on the thread whose call changed the state, with no lock held.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "CaCom.h"
#include "CaWorld.h"

namespace tess::vdac::ca {

namespace {

// With the lock held: the control, or null when its device is gone.
Control* liveControl(const WorldRef& world, int control) {
  detail::Dac* dac = deviceOf(world.get());
  if (!dac || control < 0) return nullptr;
  Control& c = world->controls[control];
  return dac->familyRemoved(c.device) ? nullptr : &c;
}

float scalarOf(const Control& c, float db) {
  return c.maximum > c.minimum ? (db - c.minimum) / (c.maximum - c.minimum) : 1.0f;
}

class VolumeLevel final : public IAudioVolumeLevel, RefCounted {
 public:
  VolumeLevel(WorldRef world, int control) : world_(std::move(world)), control_(control) {}
  TESS_CA_IUNKNOWN
  HRESULT STDMETHODCALLTYPE GetChannelCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 2;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetLevelRange(UINT channel, float* minimum, float* maximum, float* step) override {
    if (!minimum || !maximum || !step) return E_POINTER;
    if (channel >= 2) return E_INVALIDARG;
    detail::DacGuard guard;
    const Control* c = liveControl(world_, control_);
    if (!c) return AUDCLNT_E_DEVICE_INVALIDATED;
    *minimum = c->minimum;
    *maximum = c->maximum;
    *step = c->step;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetLevel(UINT channel, float* level) override {
    if (!level) return E_POINTER;
    if (channel >= 2) return E_INVALIDARG;
    detail::DacGuard guard;
    const Control* c = liveControl(world_, control_);
    if (!c) return AUDCLNT_E_DEVICE_INVALIDATED;
    *level = c->level[channel];
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetLevel(UINT channel, float level, LPCGUID context) override {
    const float levels[2] = {level, level};
    return set(channel, channel + 1, levels, context);
  }
  HRESULT STDMETHODCALLTYPE SetLevelUniform(float level, LPCGUID context) override {
    const float levels[2] = {level, level};
    return set(0, 2, levels, context);
  }
  HRESULT STDMETHODCALLTYPE SetLevelAllChannels(float* levels, ULONG count, LPCGUID context) override {
    if (!levels) return E_POINTER;
    if (count != 2) return E_INVALIDARG;
    return set(0, 2, levels, context);
  }

 private:
  void* interfaceFor(REFIID iid) override {
    if (iid == IID_IUnknown || iid == __uuidof(IAudioVolumeLevel) || iid == __uuidof(IPerChannelDbLevel)) {
      return static_cast<IAudioVolumeLevel*>(this);
    }
    return nullptr;
  }
  // The hardware takes levels within its range only.
  HRESULT set(UINT from, UINT to, const float* levels, LPCGUID context) {
    if (to > 2 || from >= to) return E_INVALIDARG;
    {
      detail::DacGuard guard;
      Control* c = liveControl(world_, control_);
      if (!c) return AUDCLNT_E_DEVICE_INVALIDATED;
      for (UINT ch = from; ch < to; ++ch) {
        if (!(levels[ch] >= c->minimum && levels[ch] <= c->maximum)) return E_INVALIDARG;
      }
      for (UINT ch = from; ch < to; ++ch) c->level[ch] = levels[ch];
    }
    notifyControlChanged(world_, control_, context);
    return S_OK;
  }
  WorldRef world_;
  int control_;
};

class Mute final : public IAudioMute, RefCounted {
 public:
  Mute(WorldRef world, int control) : world_(std::move(world)), control_(control) {}
  TESS_CA_IUNKNOWN
  HRESULT STDMETHODCALLTYPE SetMute(WINBOOL mute, LPCGUID context) override {
    {
      detail::DacGuard guard;
      Control* c = liveControl(world_, control_);
      if (!c) return AUDCLNT_E_DEVICE_INVALIDATED;
      c->muted = mute != FALSE;
    }
    notifyControlChanged(world_, control_, context);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMute(WINBOOL* mute) override {
    if (!mute) return E_POINTER;
    detail::DacGuard guard;
    const Control* c = liveControl(world_, control_);
    if (!c) return AUDCLNT_E_DEVICE_INVALIDATED;
    *mute = c->muted;
    return S_OK;
  }

 private:
  void* interfaceFor(REFIID iid) override {
    return iid == IID_IUnknown || iid == __uuidof(IAudioMute) ? static_cast<IAudioMute*>(this) : nullptr;
  }
  WorldRef world_;
  int control_;
};

class InputSelector final : public IAudioInputSelector, RefCounted {
 public:
  InputSelector(WorldRef world, int control) : world_(std::move(world)), control_(control) {}
  TESS_CA_IUNKNOWN
  HRESULT STDMETHODCALLTYPE GetSelection(UINT* selected) override {
    if (!selected) return E_POINTER;
    detail::DacGuard guard;
    const Control* c = liveControl(world_, control_);
    if (!c) return AUDCLNT_E_DEVICE_INVALIDATED;
    *selected = c->selection;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSelection(UINT id, LPCGUID) override {
    detail::DacGuard guard;
    Control* c = liveControl(world_, control_);
    if (!c) return AUDCLNT_E_DEVICE_INVALIDATED;
    if (std::find(c->inputs.begin(), c->inputs.end(), id) == c->inputs.end()) return E_INVALIDARG;
    c->selection = id;
    return S_OK;
  }

 private:
  void* interfaceFor(REFIID iid) override {
    return iid == IID_IUnknown || iid == __uuidof(IAudioInputSelector) ? static_cast<IAudioInputSelector*>(this)
                                                                        : nullptr;
  }
  WorldRef world_;
  int control_;
};

// An endpoint's volume: its hardware volume and mute parts, or its own level where the
// hardware has no volume part.
class EndpointVolume final : public IAudioEndpointVolume, RefCounted {
 public:
  EndpointVolume(WorldRef world, int endpoint) : world_(std::move(world)), endpoint_(endpoint) {}
  TESS_CA_IUNKNOWN

  HRESULT STDMETHODCALLTYPE RegisterControlChangeNotify(IAudioEndpointVolumeCallback* callback) override {
    if (!callback) return E_POINTER;
    {
      detail::DacGuard guard;
      world_->endpoints[endpoint_].volumeCallbacks.push_back(callback);
    }
    callback->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE UnregisterControlChangeNotify(IAudioEndpointVolumeCallback* callback) override {
    if (!callback) return E_POINTER;
    {
      detail::DacGuard guard;
      auto& list = world_->endpoints[endpoint_].volumeCallbacks;
      auto it = std::find(list.begin(), list.end(), callback);
      if (it == list.end()) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
      list.erase(it);
    }
    callback->Release();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetChannelCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 2;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetMasterVolumeLevel(float db, LPCGUID context) override {
    return setLevels(0, 2, db, false, context);
  }
  HRESULT STDMETHODCALLTYPE SetMasterVolumeLevelScalar(float scalar, LPCGUID context) override {
    return setLevels(0, 2, scalar, true, context);
  }
  HRESULT STDMETHODCALLTYPE GetMasterVolumeLevel(float* db) override { return getLevel(2, false, db); }
  HRESULT STDMETHODCALLTYPE GetMasterVolumeLevelScalar(float* scalar) override { return getLevel(2, true, scalar); }
  HRESULT STDMETHODCALLTYPE SetChannelVolumeLevel(UINT channel, float db, LPCGUID context) override {
    return setLevels(channel, channel + 1, db, false, context);
  }
  HRESULT STDMETHODCALLTYPE SetChannelVolumeLevelScalar(UINT channel, float scalar, LPCGUID context) override {
    return setLevels(channel, channel + 1, scalar, true, context);
  }
  HRESULT STDMETHODCALLTYPE GetChannelVolumeLevel(UINT channel, float* db) override {
    return channel < 2 ? getLevel(channel, false, db) : E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE GetChannelVolumeLevelScalar(UINT channel, float* scalar) override {
    return channel < 2 ? getLevel(channel, true, scalar) : E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE SetMute(WINBOOL mute, LPCGUID context) override {
    const int control = world_->endpoints[endpoint_].muteControl;
    bool changed = false;
    {
      detail::DacGuard guard;
      Control* c = live(control);
      if (!c) return AUDCLNT_E_DEVICE_INVALIDATED;
      changed = c->muted != (mute != FALSE);
      c->muted = mute != FALSE;
    }
    if (changed) notifyControlChanged(world_, control, context);
    return changed ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE GetMute(WINBOOL* mute) override {
    if (!mute) return E_POINTER;
    detail::DacGuard guard;
    const Control* c = live(world_->endpoints[endpoint_].muteControl);
    if (!c) return AUDCLNT_E_DEVICE_INVALIDATED;
    *mute = c->muted;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetVolumeStepInfo(UINT* step, UINT* count) override {
    if (!step || !count) return E_POINTER;
    detail::DacGuard guard;
    const Control* c = live(world_->endpoints[endpoint_].volumeControl);
    if (!c) return AUDCLNT_E_DEVICE_INVALIDATED;
    *count = static_cast<UINT>(std::lround((c->maximum - c->minimum) / c->step)) + 1;
    *step = static_cast<UINT>(std::lround((std::max(c->level[0], c->level[1]) - c->minimum) / c->step));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE VolumeStepUp(LPCGUID context) override { return stepBy(1, context); }
  HRESULT STDMETHODCALLTYPE VolumeStepDown(LPCGUID context) override { return stepBy(-1, context); }
  HRESULT STDMETHODCALLTYPE QueryHardwareSupport(DWORD* mask) override {
    if (!mask) return E_POINTER;
    const Endpoint& e = world_->endpoints[endpoint_];
    bool hardwareVolume = false;
    for (const Topology& t : world_->topologies) {
      for (const TopoPart& p : t.parts) hardwareVolume |= p.control == e.volumeControl;
    }
    *mask = ENDPOINT_HARDWARE_SUPPORT_MUTE | (hardwareVolume ? ENDPOINT_HARDWARE_SUPPORT_VOLUME : 0);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetVolumeRange(float* minimum, float* maximum, float* step) override {
    if (!minimum || !maximum || !step) return E_POINTER;
    detail::DacGuard guard;
    const Control* c = live(world_->endpoints[endpoint_].volumeControl);
    if (!c) return AUDCLNT_E_DEVICE_INVALIDATED;
    *minimum = c->minimum;
    *maximum = c->maximum;
    *step = c->step;
    return S_OK;
  }

 private:
  void* interfaceFor(REFIID iid) override {
    return iid == IID_IUnknown || iid == __uuidof(IAudioEndpointVolume) ? static_cast<IAudioEndpointVolume*>(this)
                                                                         : nullptr;
  }
  Control* live(int control) {
    detail::Dac* dac = deviceOf(world_.get());
    if (!dac || endpointState(*dac, world_->endpoints[endpoint_]) != DEVICE_STATE_ACTIVE) return nullptr;
    return liveControl(world_, control);
  }
  // channel 2: the master level, the loudest channel's.
  HRESULT getLevel(UINT channel, bool scalar, float* out) {
    if (!out) return E_POINTER;
    detail::DacGuard guard;
    const Control* c = live(world_->endpoints[endpoint_].volumeControl);
    if (!c) return AUDCLNT_E_DEVICE_INVALIDATED;
    const float db = channel < 2 ? c->level[channel] : std::max(c->level[0], c->level[1]);
    *out = scalar ? scalarOf(*c, db) : db;
    return S_OK;
  }
  HRESULT setLevels(UINT from, UINT to, float value, bool scalar, LPCGUID context) {
    if (to > 2 || from >= to) return E_INVALIDARG;
    if (scalar && !(value >= 0.0f && value <= 1.0f)) return E_INVALIDARG;
    const int control = world_->endpoints[endpoint_].volumeControl;
    {
      detail::DacGuard guard;
      Control* c = live(control);
      if (!c) return AUDCLNT_E_DEVICE_INVALIDATED;
      const float db = scalar ? c->minimum + value * (c->maximum - c->minimum) : value;
      if (!(db >= c->minimum && db <= c->maximum)) return E_INVALIDARG;
      for (UINT ch = from; ch < to; ++ch) c->level[ch] = db;
    }
    notifyControlChanged(world_, control, context);
    return S_OK;
  }
  HRESULT stepBy(int direction, LPCGUID context) {
    float db = 0;
    {
      detail::DacGuard guard;
      const Control* c = live(world_->endpoints[endpoint_].volumeControl);
      if (!c) return AUDCLNT_E_DEVICE_INVALIDATED;
      db = std::clamp(std::max(c->level[0], c->level[1]) + direction * c->step, c->minimum, c->maximum);
    }
    return setLevels(0, 2, db, false, context);
  }
  WorldRef world_;
  int endpoint_;
};

}  // namespace

HRESULT activateControl(WorldRef world, int control, REFIID iid, void** out) {
  const Control::Kind kind = world->controls[control].kind;
  if (kind == Control::Volume && (iid == __uuidof(IAudioVolumeLevel) || iid == __uuidof(IPerChannelDbLevel))) {
    *out = static_cast<IAudioVolumeLevel*>(new (std::nothrow) VolumeLevel(std::move(world), control));
  } else if (kind == Control::Mute && iid == __uuidof(IAudioMute)) {
    *out = static_cast<IAudioMute*>(new (std::nothrow) Mute(std::move(world), control));
  } else if (kind == Control::Selector && iid == __uuidof(IAudioInputSelector)) {
    *out = static_cast<IAudioInputSelector*>(new (std::nothrow) InputSelector(std::move(world), control));
  } else {
    return E_NOINTERFACE;
  }
  return *out ? S_OK : E_OUTOFMEMORY;
}

IAudioEndpointVolume* newEndpointVolume(WorldRef world, int endpoint) {
  return new (std::nothrow) EndpointVolume(std::move(world), endpoint);
}

void notifyControlChanged(const WorldRef& world, int control, LPCGUID context) {
  struct Call {
    IAudioEndpointVolumeCallback* callback;
    bool muted;
    float master, channels[2];
  };
  std::vector<Call> calls;
  {
    detail::DacGuard guard;
    for (const Endpoint& e : world->endpoints) {
      if (e.volumeControl != control && e.muteControl != control) continue;
      const Control& volume = world->controls[e.volumeControl];
      const bool muted = e.muteControl >= 0 && world->controls[e.muteControl].muted;
      for (IAudioEndpointVolumeCallback* callback : e.volumeCallbacks) {
        callback->AddRef();
        calls.push_back({callback, muted, scalarOf(volume, std::max(volume.level[0], volume.level[1])),
                         {scalarOf(volume, volume.level[0]), scalarOf(volume, volume.level[1])}});
      }
    }
  }
  // The record's channel array has room for one channel; two are sent.
  alignas(AUDIO_VOLUME_NOTIFICATION_DATA) uint8_t storage[sizeof(AUDIO_VOLUME_NOTIFICATION_DATA) + sizeof(float)];
  auto* data = reinterpret_cast<AUDIO_VOLUME_NOTIFICATION_DATA*>(storage);
  for (const Call& call : calls) {
    data->guidEventContext = context ? *context : GUID_NULL;
    data->bMuted = call.muted;
    data->fMasterVolume = call.master;
    data->nChannels = 2;
    std::memcpy(storage + offsetof(AUDIO_VOLUME_NOTIFICATION_DATA, afChannelVolumes), call.channels,
                sizeof call.channels);
    call.callback->OnNotify(data);
    call.callback->Release();
  }
}

void announceStateChanges() {
  struct Call {
    IMMNotificationClient* client;
    std::wstring id;
    DWORD state;
  };
  std::vector<Call> calls;
  WorldRef world;
  {
    detail::DacGuard guard;
    detail::Dac* dac = guard.dac();
    if (!dac || !dac->coreAudio) return;
    world = dac->coreAudio;
    for (Endpoint& e : world->endpoints) {
      const DWORD state = endpointState(*dac, e);
      if (state == e.announcedState) continue;
      e.announcedState = state;
      for (IMMNotificationClient* client : world->notificationClients) {
        client->AddRef();
        calls.push_back({client, e.id, state});
      }
    }
  }
  for (const Call& call : calls) {
    call.client->OnDeviceStateChanged(call.id.c_str(), call.state);
    call.client->Release();
  }
}

}  // namespace tess::vdac::ca
