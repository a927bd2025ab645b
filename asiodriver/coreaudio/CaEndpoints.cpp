// Finding the device among the audio endpoints: the hardware path each endpoint's property
// store holds is matched as a kernel-streaming device path would be; the endpoint's formats
// are probed exclusively per rate and width.
#include <windows.h>
#include <mmsystem.h>
#include <mmdeviceapi.h>
#include <audioclient.h>
#include <propsys.h>

#include <cstring>
#include <new>
#include <initializer_list>

#include "CaBackend.h"
#include "CaIds.h"
#include "ComPtr.h"
#include "DeviceSeam.h"
#include "DriverRules.h"
#include "PcmFormat.h"
#include "TessConstants.h"

namespace tess {
namespace {

using ca::kClsidEnumerator;
using ca::kIidAudioClient;
using ca::kIidEnumerator;

// The endpoint's hardware path, and its friendly name.
const PROPERTYKEY kHardwarePath = {{0xB3F8FA53, 0x0004, 0x438E, {0x90, 0x03, 0x51, 0xA4, 0x6E, 0x13, 0x9B, 0xFC}}, 2};
const PROPERTYKEY kFriendlyName = {{0xA45C254E, 0xDF1C, 0x4EFD, {0x80, 0x20, 0x67, 0xD1, 0x46, 0xA8, 0x50, 0xE0}}, 14};

// The property as the ANSI text matchDevicePath takes: text upper-cased and converted, a
// blob's bytes as they are; both cut to the buffer. False when it holds neither.
bool readPathProperty(IMMDevice* endpoint, const PROPERTYKEY& key, char (&out)[kPathChars]) {
  out[0] = 0;
  ComPtr<IPropertyStore> store;
  if (FAILED(endpoint->OpenPropertyStore(STGM_READ, store.put())) || !store) return false;
  PROPVARIANT value;
  PropVariantInit(&value);
  if (FAILED(store->GetValue(key, &value))) return false;
  bool ok = false;
  if (value.vt == VT_LPWSTR && value.pwszVal) {
    wchar_t text[kPathChars];
    lstrcpynW(text, value.pwszVal, kPathChars);
    CharUpperBuffW(text, lstrlenW(text));
    const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, out, kPathChars - 1, nullptr, nullptr);
    out[n > 0 ? n : 0] = 0;
    ok = n > 0;
  } else if (value.vt == VT_BLOB && value.blob.pBlobData) {
    const ULONG bytes = value.blob.cbSize < kPathChars - 1 ? value.blob.cbSize : kPathChars - 1;
    std::memcpy(out, value.blob.pBlobData, bytes);
    out[bytes] = 0;
    ok = true;
  }
  PropVariantClear(&value);
  return ok;
}

// The first active endpoint of `flow` whose hardware path names a supported device.
IMMDevice* firstMatch(IMMDeviceEnumerator* enumerator, EDataFlow flow, DeviceFacts* facts) {
  ComPtr<IMMDeviceCollection> list;
  UINT count = 0;
  if (FAILED(enumerator->EnumAudioEndpoints(flow, DEVICE_STATE_ACTIVE, list.put())) || !list ||
      FAILED(list->GetCount(&count)))
    return nullptr;
  for (UINT i = 0; i < count; ++i) {
    ComPtr<IMMDevice> endpoint;
    if (FAILED(list->Item(i, endpoint.put())) || !endpoint) continue;
    char path[kPathChars];
    uint16_t vendorId = 0, productId = 0;
    if (!readPathProperty(endpoint.get(), kHardwarePath, path) || !drv::matchDevicePath(path, vendorId, productId))
      continue;
    if (facts) {
      lstrcpynA(facts->devicePath, path, sizeof facts->devicePath);
      facts->vendorId = vendorId;
      facts->productId = productId;
      // Read as the platform lists it; the driver's name stays its own.
      char friendly[kPathChars];
      readPathProperty(endpoint.get(), kFriendlyName, friendly);
    }
    return endpoint.detach();
  }
  return nullptr;
}

bool takesExclusively(IAudioClient* client, uint32_t rate, uint32_t containerBits, uint32_t validBits) {
  WAVEFORMATEXTENSIBLE wfe = pcmFormat(kEndpointChannels, containerBits, validBits, rate);
  return client->IsFormatSupported(AUDCLNT_SHAREMODE_EXCLUSIVE, &wfe.Format, nullptr) == S_OK;
}

ComPtr<IAudioClient> activate(IMMDevice* endpoint) {
  ComPtr<IAudioClient> client;
  if (endpoint &&
      FAILED(endpoint->Activate(kIidAudioClient, CLSCTX_INPROC_SERVER, nullptr, reinterpret_cast<void**>(client.put()))))
    client.reset();
  return client;
}

}  // namespace

DeviceBackend* makeCaBackend() { return new (std::nothrow) CaBackend(); }

CaBackend::~CaBackend() { close(); }

bool CaBackend::findEndpoints(bool wantCapture, DeviceFacts* facts) {
  releaseEndpoints();
  ComPtr<IMMDeviceEnumerator> enumerator;
  if (FAILED(devices().coCreateInstance(kClsidEnumerator, nullptr, CLSCTX_INPROC_SERVER, kIidEnumerator,
                                        reinterpret_cast<void**>(enumerator.put()))) ||
      !enumerator)
    return false;
  m_endpoints[kRender] = firstMatch(enumerator.get(), eRender, facts);
  if (!m_endpoints[kRender]) return false;
  if (wantCapture) m_endpoints[kCapture] = firstMatch(enumerator.get(), eCapture, nullptr);
  return true;
}

void CaBackend::releaseEndpoints() {
  for (IMMDevice*& endpoint : m_endpoints) {
    if (endpoint) endpoint->Release();
    endpoint = nullptr;
  }
}

bool CaBackend::bind(DeviceFacts& facts) {
  if (!findEndpoints(true, &facts)) return false;
  ComPtr<IAudioClient> render = activate(m_endpoints[kRender]);
  ComPtr<IAudioClient> capture = activate(m_endpoints[kCapture]);
  facts.capturePresent = m_endpoints[kCapture] != nullptr;
  facts.capabilityMask = 0;
  facts.twentyFourIn32 = false;
  if (render && (!facts.capturePresent || capture)) {
    for (uint32_t rate : kSampleRates) {
      for (uint32_t width : {16u, 24u, 32u}) {
        uint32_t container = width;
        bool ok = takesExclusively(render.get(), rate, width, width);
        if (!ok && width == 24) {
          // Most USB audio 2.0 devices carry 24-bit audio only in 4-byte subslots.
          ok = takesExclusively(render.get(), rate, 32, 24);
          container = 32;
          facts.twentyFourIn32 = facts.twentyFourIn32 || ok;
        }
        // Capture streams in the containers render uses: the host's buffers of both
        // directions have one sample layout.
        if (ok && facts.capturePresent) ok = takesExclusively(capture.get(), rate, container, width);
        if (ok) facts.capabilityMask |= static_cast<uint8_t>(widthBit(width));
      }
    }
  }
  // init finds them again.
  render.reset();
  capture.reset();
  releaseEndpoints();
  // Whatever the platform calls the endpoint, hosts and the panel know the driver's name.
  lstrcpynA(facts.deviceName, kDriverName, sizeof facts.deviceName);
  facts.capturePath[0] = 0;
  return facts.capabilityMask != 0;
}

bool CaBackend::open(const DeviceFacts& facts) {
  close();
  if (!findEndpoints(facts.capturePresent, nullptr) || (facts.capturePresent && !m_endpoints[kCapture])) {
    releaseEndpoints();
    return false;
  }
  for (auto& direction : m_events) {
    for (HANDLE& event : direction) {
      event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
      if (!event) {
        close();
        return false;
      }
    }
  }
  return true;
}

void CaBackend::close() {
  for (Direction dir : {kRender, kCapture})
    for (uint32_t s = 0; s < fmt::kPinSlots; ++s) closeSlot(dir, s);
  for (auto& direction : m_events) {
    for (HANDLE& event : direction) {
      if (event) CloseHandle(event);
      event = nullptr;
    }
  }
  releaseEndpoints();
}

void CaBackend::buildRateRecords(Direction dir, uint32_t width, const DeviceFacts& facts, RateRecord* records) {
  ComPtr<IAudioClient> client = activate(m_endpoints[dir]);
  if (!client) return;
  const bool inContainers = facts.twentyFourIn32 && width == 24;
  for (int i = 0; i < kRateCount; ++i)
    if (takesExclusively(client.get(), records[i].rate, inContainers ? 32 : width, width))
      addSlot(records[i], kEndpointChannels);
}

}  // namespace tess
