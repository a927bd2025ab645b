#include "AudioDeviceManager.h"

#include <propvarutil.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>

#include "EndpointKeys.h"
#include "Player.h"
#include "SystemClass.h"
#include "TopologyWalk.h"

using namespace endpoint;

namespace {

template <typename T>
void releaseAndClear(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

// Copies a property by its type; another type leaves the destination unchanged.
void copyString(IPropertyStore* store, const PROPERTYKEY& key, wchar_t* out, size_t size) {
  PROPVARIANT value;
  ::PropVariantInit(&value);
  if (SUCCEEDED(store->GetValue(key, &value)) && value.vt == VT_LPWSTR && value.pwszVal) {
    std::wcsncpy(out, value.pwszVal, size - 1);
    out[size - 1] = 0;
  }
  ::PropVariantClear(&value);
}

void copyUInt(IPropertyStore* store, const PROPERTYKEY& key, uint32_t* out) {
  PROPVARIANT value;
  ::PropVariantInit(&value);
  if (SUCCEEDED(store->GetValue(key, &value)) && value.vt == VT_UI4) *out = value.ulVal;
  ::PropVariantClear(&value);
}

// A blob of at most `size` bytes; true when one was copied.
bool copyBlob(IPropertyStore* store, const PROPERTYKEY& key, void* out, size_t size) {
  PROPVARIANT value;
  ::PropVariantInit(&value);
  bool copied = false;
  if (SUCCEEDED(store->GetValue(key, &value)) && value.vt == VT_BLOB && value.blob.pBlobData) {
    std::memcpy(out, value.blob.pBlobData, value.blob.cbSize < size ? value.blob.cbSize : size);
    copied = true;
  }
  ::PropVariantClear(&value);
  return copied;
}

void upperCase(wchar_t* text) {
  for (; *text; ++text) *text = static_cast<wchar_t>(std::towupper(*text));
}

// One write of the format under a key: the store is opened for it and released after.
HRESULT writeFormat(IMMDevice* device, const PROPERTYKEY& key, const WAVEFORMATEXTENSIBLE& format) {
  IPropertyStore* store = nullptr;
  HRESULT hr = device->OpenPropertyStore(STGM_READWRITE, &store);
  if (FAILED(hr) || !store) return FAILED(hr) ? hr : E_FAIL;
  PROPVARIANT value;
  ::PropVariantInit(&value);
  value.vt = VT_BLOB;
  value.blob.cbSize = sizeof format;
  value.blob.pBlobData = reinterpret_cast<BYTE*>(const_cast<WAVEFORMATEXTENSIBLE*>(&format));
  hr = store->SetValue(key, value);  // the store copies the value; ours is not freed
  store->Release();
  return hr;
}

}  // namespace

void CAudioDeviceManager::EndpointRecord::ReleaseControls() {
  for (int i = 0; i < kControlSlots; ++i) {
    releaseAndClear(levels[i]);
    releaseAndClear(mutes[i]);
  }
  releaseAndClear(selector);
}

CAudioDeviceManager::CAudioDeviceManager(HWND window) : m_hWnd(window) {
  const tess::SystemClass system = tess::querySystemClass();
  if (system.ok) {
    m_systemClass = system.systemClass;
    m_x86 = system.x86;
    m_build = system.build;
  }
  m_pPlayer = Player::Create(window);
}

CAudioDeviceManager::~CAudioDeviceManager() {
  ReleaseBindings();
  ReleasePlayer();
}

void CAudioDeviceManager::ReleasePlayer() {
  if (m_pPlayer) m_pPlayer->Release();
  m_pPlayer = nullptr;
}

HRESULT CAudioDeviceManager::BindEndpoints(uint16_t vendorId, uint16_t productId, uint16_t interfaceNumber,
                                           BindResult* result) {
  if (!result) return E_POINTER;
  if (m_bound) return S_OK;
  *result = BindResult{};
  if (!tess::isEndpointCapable(m_systemClass)) {
    // Legacy systems: kernel-streaming filters only; the ASIO page may still exist.
    result->asioAvailable = true;
    return S_OK;
  }
  m_vendorId = vendorId;
  m_productId = productId;
  ReleaseBindings();
  wchar_t pattern[32];
  std::swprintf(pattern, 32, L"VID_%04X&PID_%04X&MI_%02X", vendorId, productId, interfaceNumber);
  result->renderFound = SUCCEEDED(BindDirection(eRender, pattern));
  result->captureFound = SUCCEEDED(BindDirection(eCapture, pattern));
  result->asioAvailable = result->renderFound;
  if (!result->renderFound && !result->captureFound) return E_FAIL;
  m_bound = true;
  return S_OK;
}

void CAudioDeviceManager::ReleaseBindings() {
  m_bound = false;
  for (int i = 0; i < m_renderCount; ++i) m_render[i].ReleaseControls();
  for (int i = 0; i < m_captureCount; ++i) m_capture[i].ReleaseControls();
  if (m_pPlayer) {
    m_pPlayer->ReleaseEndpointVolume(eRender);
    m_pPlayer->ReleaseEndpointVolume(eCapture);
  }
  for (auto& r : m_render) r = EndpointRecord{};
  for (auto& r : m_capture) r = EndpointRecord{};
  m_renderCount = 0;
  m_captureCount = 0;
}

IMMDevice* CAudioDeviceManager::Endpoint(EDataFlow flow, UINT index) const {
  IMMDeviceCollection* collection = m_pPlayer ? m_pPlayer->Collection(flow) : nullptr;
  IMMDevice* device = nullptr;
  if (!collection || FAILED(collection->Item(index, &device))) return nullptr;
  return device;
}

void CAudioDeviceManager::ReadEndpointProperties(IMMDevice* device, EndpointRecord& record) {
  LPWSTR id = nullptr;
  if (SUCCEEDED(device->GetId(&id)) && id) {
    std::wcsncpy(record.id, id, 259);
    ::CoTaskMemFree(id);
  }
  IPropertyStore* store = nullptr;
  if (FAILED(device->OpenPropertyStore(STGM_READ, &store)) || !store) return;
  copyString(store, kKeyFriendlyName, record.friendlyName, 260);
  copyString(store, kKeyDeviceDesc, record.description, 260);
  copyUInt(store, kKeyPhysicalSpeakers, &record.physicalSpeakers);
  copyUInt(store, kKeyFullRangeSpeakers, &record.fullRangeSpeakers);
  copyBlob(store, kKeyDeviceFormat, &record.format, sizeof record.format);
  store->Release();
}

HRESULT CAudioDeviceManager::BindDirection(EDataFlow flow, const wchar_t* pattern) {
  if (!m_pPlayer || !m_pPlayer->Enumerator()) return E_FAIL;
  UINT count = 0;
  int& bound = flow == eRender ? m_renderCount : m_captureCount;
  EndpointRecord* records = flow == eRender ? m_render : m_capture;
  bound = 0;
  bool captureVolumeBound = false;
  if (FAILED(m_pPlayer->EnumerateActive(flow, &count))) return E_FAIL;
  wchar_t wanted[32];
  std::wcsncpy(wanted, pattern, 31);
  wanted[31] = 0;
  upperCase(wanted);
  for (UINT e = 0; e < count && bound < kMaxEndpoints; ++e) {
    IMMDevice* device = Endpoint(flow, e);
    if (!device) continue;
    wchar_t instance[260] = L"<Device not available>";
    IPropertyStore* store = nullptr;
    if (SUCCEEDED(device->OpenPropertyStore(STGM_READ, &store)) && store) {
      copyString(store, kKeyInstanceId, instance, 260);
      store->Release();
    }
    upperCase(instance);
    if (!std::wcsstr(instance, wanted)) {
      device->Release();
      continue;
    }
    EndpointRecord& record = records[bound];
    record = EndpointRecord{};
    ReadEndpointProperties(device, record);
    const HRESULT walk = flow == eRender ? RenderControlWalk(device, record) : CaptureControlWalk(device, record);
    if (FAILED(walk)) {
      record.ReleaseControls();
      record = EndpointRecord{};
      device->Release();
      continue;
    }
    ReadLevelRanges(record);
    // The callback listens where the pages take their levels from: the first render endpoint
    // and the first line input (the record page's volume endpoint). Registering each later
    // line input would leave the slot on the last one, whose changes the page never shows.
    if (flow == eRender ? bound == 0 : IsEqualGUID(record.jackSubtype, kNodeLineConnector) && !captureVolumeBound) {
      m_pPlayer->RegisterEndpointVolume(device, flow);
      if (flow == eCapture) captureVolumeBound = true;
    }
    record.index = e;
    ++bound;
    device->Release();
  }
  return bound ? S_OK : E_FAIL;
}

void CAudioDeviceManager::ReadLevelRanges(EndpointRecord& record) {
  for (int slot = 0; slot < kControlSlots; ++slot) {
    record.channelCount[slot] = 0;
    if (IAudioVolumeLevel* control = record.levels[slot]) {
      for (UINT ch = 0; ch < kMaxChannels; ++ch) {
        float level = 0;
        if (FAILED(control->GetLevelRange(ch, &record.minLevel[slot][ch], &record.maxLevel[slot][ch],
                                          &record.step[slot][ch])) ||
            FAILED(control->GetLevel(ch, &level)))
          break;
        ++record.channelCount[slot];
      }
    }
    if (IAudioMute* mute = record.mutes[slot]) {
      BOOL muted = FALSE;
      mute->GetMute(&muted);
    }
  }
}

HRESULT CAudioDeviceManager::RenderControlWalk(IMMDevice* device, EndpointRecord& record) {
  return endpoint::walkRenderControls(device, &record.levels[0], &record.mutes[0]);
}

HRESULT CAudioDeviceManager::CaptureControlWalk(IMMDevice* device, EndpointRecord& record) {
  return endpoint::walkCaptureControls(device, &record.jackSubtype, &record.mutes[0], &record.levels[0],
                                       &record.selector, &record.selectorSourceId);
}

// Formats -------------------------------------------------------------------------------------

HRESULT CAudioDeviceManager::GetFormat(EDataFlow flow, EndpointRecord& record, EndpointFormat* format) {
  if (!format) return E_POINTER;
  IMMDevice* device = Endpoint(flow, record.index);
  if (!device) return E_FAIL;
  IPropertyStore* store = nullptr;
  HRESULT hr = device->OpenPropertyStore(STGM_READ, &store);
  device->Release();
  if (FAILED(hr) || !store) return FAILED(hr) ? hr : E_FAIL;
  WAVEFORMATEXTENSIBLE read{};
  const bool got = copyBlob(store, kKeyDeviceFormat, &read, sizeof read);
  store->Release();
  if (!got) return E_FAIL;
  record.format = read;
  format->channels = read.Format.nChannels;
  format->rate = read.Format.nSamplesPerSec;
  format->bits = read.Format.wBitsPerSample;
  format->channelMask = read.Format.cbSize >= 22 ? read.dwChannelMask : 0;
  return S_OK;
}

HRESULT CAudioDeviceManager::SetFormat(EDataFlow flow, EndpointRecord& record, uint32_t rate, uint16_t bits) {
  IMMDevice* device = Endpoint(flow, record.index);
  if (!device) return E_FAIL;
  // From the format Windows stored, so that its tag and extension size stay as they were.
  WAVEFORMATEXTENSIBLE format = record.format;
  format.Format.nChannels = 2;
  format.Format.nSamplesPerSec = rate;
  format.Format.wBitsPerSample = bits;
  format.Format.nBlockAlign = static_cast<WORD>(bits / 8 * 2);
  format.Format.nAvgBytesPerSec = format.Format.nBlockAlign * rate;
  format.Samples.wValidBitsPerSample = bits;
  format.dwChannelMask = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
  format.SubFormat = kSubtypePcm;
  HRESULT hr = writeFormat(device, kKeyDeviceFormat, format);
  if (SUCCEEDED(hr)) {
    format.Format.wBitsPerSample = 32;
    format.Samples.wValidBitsPerSample = 32;
    format.Format.nBlockAlign = 8;
    format.Format.nAvgBytesPerSec = 8 * rate;
    format.SubFormat = kSubtypeFloat;
    hr = writeFormat(device, kKeyMixFormat, format);
  }
  if (SUCCEEDED(hr) && (m_systemClass == 6 || m_systemClass == 7 || m_systemClass == 10)) {
    hr = writeFormat(device, kKeyEngineFormat3, format);
    if (SUCCEEDED(hr)) hr = writeFormat(device, kKeyEngineFormat2, format);
    if (SUCCEEDED(hr) && flow == eRender) hr = writeFormat(device, kKeyRenderFormat3, format);
  }
  if (SUCCEEDED(hr)) record.format = format;
  device->Release();
  return hr;
}

HRESULT CAudioDeviceManager::GetPlaybackFormat(EndpointFormat* format) {
  if (m_renderCount < 1) return E_FAIL;
  return GetFormat(eRender, m_render[0], format);
}

HRESULT CAudioDeviceManager::SetPlaybackFormat(uint32_t rate, uint16_t bits) {
  if (m_renderCount < 1) return E_FAIL;
  return SetFormat(eRender, m_render[0], rate, bits);
}

HRESULT CAudioDeviceManager::GetCaptureFormat(int index, EndpointFormat* format) {
  if (index < 0 || index >= m_captureCount) return E_FAIL;
  return GetFormat(eCapture, m_capture[index], format);
}

HRESULT CAudioDeviceManager::SetCaptureFormat(int index, uint32_t rate, uint16_t bits) {
  if (index < 0 || index >= m_captureCount) return E_FAIL;
  return SetFormat(eCapture, m_capture[index], rate, bits);
}

// Levels and mute -----------------------------------------------------------------------------

HRESULT CAudioDeviceManager::GetLevels(EndpointRecord& record, ChannelLevels* levels) {
  if (!levels) return E_FAIL;
  IAudioVolumeLevel* control = record.levels[0];
  levels->read = false;
  if (!control) return S_OK;  // no level control: nothing to show
  float values[2] = {};
  for (UINT ch = 0; ch < 2; ++ch) {
    HRESULT hr = control->GetLevelRange(ch, &levels->minLevel, &levels->maxLevel, &levels->step);
    if (SUCCEEDED(hr)) hr = control->GetLevel(ch, &values[ch]);
    if (FAILED(hr)) return hr;
  }
  levels->left = values[0];
  levels->right = values[1];
  levels->read = true;
  return S_OK;
}

HRESULT CAudioDeviceManager::GuardedSetLevel(IAudioVolumeLevel* control, UINT channel, float value) {
  float minLevel = 0, maxLevel = 0, step = 0;
  HRESULT hr = control->GetLevelRange(channel, &minLevel, &maxLevel, &step);
  if (FAILED(hr)) return hr;
  if (value < minLevel || value > maxLevel) return S_FALSE;  // outside the current range: not set
  return control->SetLevel(channel, value, nullptr);
}

HRESULT CAudioDeviceManager::SetLevels(EndpointRecord& record, float left, float right) {
  IAudioVolumeLevel* control = record.levels[0];
  if (!control) return E_FAIL;
  const float wanted[2] = {left, right};
  HRESULT result = S_OK;
  for (UINT ch = 0; ch < 2; ++ch) {
    float v = wanted[ch];
    if (ch < record.channelCount[0]) {
      if (v < record.minLevel[0][ch]) v = record.minLevel[0][ch];
      if (v > record.maxLevel[0][ch]) v = record.maxLevel[0][ch];
    }
    const HRESULT hr = GuardedSetLevel(control, ch, v);
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  return result;
}

HRESULT CAudioDeviceManager::GetPlaybackLevels(ChannelLevels* levels) {
  if (m_renderCount < 1) return E_FAIL;
  return GetLevels(m_render[0], levels);
}

HRESULT CAudioDeviceManager::SetPlaybackLevels(float left, float right) {
  if (m_renderCount < 1) return E_FAIL;
  return SetLevels(m_render[0], left, right);
}

HRESULT CAudioDeviceManager::GetCaptureLevels(int index, ChannelLevels* levels) {
  if (index < 0 || index >= m_captureCount) return E_FAIL;
  return GetLevels(m_capture[index], levels);
}

HRESULT CAudioDeviceManager::SetCaptureLevels(int index, float left, float right) {
  if (index < 0 || index >= m_captureCount) return E_FAIL;
  return SetLevels(m_capture[index], left, right);
}

HRESULT CAudioDeviceManager::GetPlaybackMute(BOOL* mute) {
  if (m_renderCount < 1 || !m_render[0].mutes[0] || !mute) return E_FAIL;
  return m_render[0].mutes[0]->GetMute(mute);
}

HRESULT CAudioDeviceManager::SetPlaybackMute(BOOL mute) {
  if (m_renderCount < 1 || !m_render[0].mutes[0]) return E_FAIL;
  return m_render[0].mutes[0]->SetMute(mute, nullptr);
}

HRESULT CAudioDeviceManager::GetCaptureMute(int index, BOOL* mute) {
  if (index < 0 || index >= m_captureCount || !m_capture[index].mutes[0] || !mute) return E_FAIL;
  return m_capture[index].mutes[0]->GetMute(mute);
}

HRESULT CAudioDeviceManager::SetCaptureMute(int index, BOOL mute) {
  if (index < 0 || index >= m_captureCount || !m_capture[index].mutes[0]) return E_FAIL;
  return m_capture[index].mutes[0]->SetMute(mute, nullptr);
}

HRESULT CAudioDeviceManager::GetSelectedCaptureEndpoint(int* index) {
  if (!index || m_captureCount < 1 || !m_capture[0].selector) return E_FAIL;
  UINT selected = 0;
  const HRESULT hr = m_capture[0].selector->GetSelection(&selected);
  if (FAILED(hr)) return hr;
  *index = 0;
  for (int i = 0; i < m_captureCount; ++i) {
    if (m_capture[i].selectorSourceId == selected) {
      *index = i;
      break;
    }
  }
  return S_OK;
}

GUID CAudioDeviceManager::CaptureJackSubtype(int index) const {
  if (index < 0 || index >= m_captureCount) return GUID{};
  return m_capture[index].jackSubtype;
}
