// Helpers for driving the virtual DAC's Core Audio face as a client program would.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <mmdeviceapi.h>
#include <audioclient.h>
#include <propsys.h>

#include <string>
#include <vector>

#include "DeviceSeam.h"

namespace cakit {

// Owns one reference.
template <typename T>
class Com {
 public:
  Com() = default;
  Com(Com&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  ~Com() { reset(); }
  T** put() {
    reset();
    return &p_;
  }
  void** putVoid() { return reinterpret_cast<void**>(put()); }
  void reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

inline constexpr PROPERTYKEY kHardwarePath{{0xB3F8FA53, 0x0004, 0x438E, {0x90, 0x03, 0x51, 0xA4, 0x6E, 0x13, 0x9B, 0xFC}}, 2};
inline constexpr PROPERTYKEY kFriendlyName{{0xA45C254E, 0xDF1C, 0x4EFD, {0x80, 0x20, 0x67, 0xD1, 0x46, 0xA8, 0x50, 0xE0}}, 14};
inline constexpr PROPERTYKEY kDeviceFormat{{0xF19F064D, 0x082C, 0x4E27, {0xBC, 0x73, 0x68, 0x82, 0xA1, 0xBB, 0x8E, 0x4C}}, 0};

// The enumerator through the device seam.
inline HRESULT enumerator(Com<IMMDeviceEnumerator>& out) {
  return tess::devices().coCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_INPROC_SERVER,
                                          __uuidof(IMMDeviceEnumerator), out.putVoid());
}

inline std::wstring textProperty(IMMDevice* device, const PROPERTYKEY& key) {
  Com<IPropertyStore> store;
  if (FAILED(device->OpenPropertyStore(STGM_READ, store.put()))) return L"";
  PROPVARIANT value;
  PropVariantInit(&value);
  std::wstring text;
  if (SUCCEEDED(store->GetValue(key, &value)) && value.vt == VT_LPWSTR) text = value.pwszVal;
  PropVariantClear(&value);
  return text;
}

struct EndpointInfo {
  std::wstring id, hardwarePath, friendlyName;
  DWORD state = 0;
};

inline std::vector<EndpointInfo> listEndpoints(EDataFlow flow, DWORD states = DEVICE_STATE_ACTIVE) {
  std::vector<EndpointInfo> list;
  Com<IMMDeviceEnumerator> e;
  Com<IMMDeviceCollection> collection;
  if (FAILED(enumerator(e)) || FAILED(e->EnumAudioEndpoints(flow, states, collection.put()))) return list;
  UINT count = 0;
  collection->GetCount(&count);
  for (UINT i = 0; i < count; ++i) {
    Com<IMMDevice> device;
    if (FAILED(collection->Item(i, device.put()))) continue;
    EndpointInfo info;
    LPWSTR id = nullptr;
    if (SUCCEEDED(device->GetId(&id))) info.id = id;
    CoTaskMemFree(id);
    device->GetState(&info.state);
    info.hardwarePath = textProperty(device.get(), kHardwarePath);
    info.friendlyName = textProperty(device.get(), kFriendlyName);
    list.push_back(info);
  }
  return list;
}

// The first active endpoint of the direction whose hardware path names the DAC.
inline HRESULT dacEndpoint(EDataFlow flow, Com<IMMDevice>& out, int which = 0) {
  Com<IMMDeviceEnumerator> e;
  Com<IMMDeviceCollection> collection;
  HRESULT hr = enumerator(e);
  if (SUCCEEDED(hr)) hr = e->EnumAudioEndpoints(flow, DEVICE_STATE_ACTIVE, collection.put());
  if (FAILED(hr)) return hr;
  UINT count = 0;
  collection->GetCount(&count);
  for (UINT i = 0; i < count; ++i) {
    if (FAILED(collection->Item(i, out.put()))) continue;
    if (textProperty(out.get(), kHardwarePath).find(L"VID_1209&PID_0007&MI_01") != std::wstring::npos && which-- == 0) {
      return S_OK;
    }
  }
  out.reset();
  return E_FAIL;
}

// A WAVEFORMATEXTENSIBLE of integer PCM.
inline WAVEFORMATEXTENSIBLE pcm(DWORD rate, WORD container, WORD valid, WORD channels = 2) {
  WAVEFORMATEXTENSIBLE f{};
  f.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  f.Format.nChannels = channels;
  f.Format.nSamplesPerSec = rate;
  f.Format.wBitsPerSample = container;
  f.Format.nBlockAlign = static_cast<WORD>(container / 8 * channels);
  f.Format.nAvgBytesPerSec = f.Format.nBlockAlign * rate;
  f.Format.cbSize = 22;
  f.Samples.wValidBitsPerSample = valid;
  f.dwChannelMask = 3;
  f.SubFormat = GUID{0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
  return f;
}

inline REFERENCE_TIME durationOf(UINT32 frames, DWORD rate) {
  return static_cast<REFERENCE_TIME>(uint64_t{frames} * 10'000'000 / rate);
}

}  // namespace cakit
