#include "Player.h"

#include "DeviceSeam.h"
#include "PanelMessages.h"

namespace {
template <typename T>
void releaseAndClear(T*& p) {
  if (p) p->Release();
  p = nullptr;
}
}  // namespace

Player* Player::Create(HWND window) { return new Player(window); }

Player::Player(HWND window) : m_hWnd(window) {
  ::InitializeCriticalSection(&m_volumeLock);
  const HRESULT init = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  m_comInitialised = SUCCEEDED(init);  // S_FALSE too: each success is balanced at the end
  void* enumerator = nullptr;
  if (SUCCEEDED(tess::devices().coCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                                 __uuidof(IMMDeviceEnumerator), &enumerator)) &&
      enumerator) {
    m_pEnumerator = static_cast<IMMDeviceEnumerator*>(enumerator);
    m_notificationsRegistered = SUCCEEDED(m_pEnumerator->RegisterEndpointNotificationCallback(this));
  }
}

Player::~Player() {
  if (m_notificationsRegistered && m_pEnumerator) m_pEnumerator->UnregisterEndpointNotificationCallback(this);
  m_notificationsRegistered = false;
  ReleaseEndpointVolume(eRender);
  ReleaseEndpointVolume(eCapture);
  releaseAndClear(m_pRender);
  releaseAndClear(m_pCapture);
  releaseAndClear(m_pEnumerator);
  ::DeleteCriticalSection(&m_volumeLock);
  if (m_comInitialised) ::CoUninitialize();
}

HRESULT Player::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == __uuidof(IUnknown) || iid == __uuidof(IMMNotificationClient)) {
    *out = static_cast<IMMNotificationClient*>(this);
  } else if (iid == __uuidof(IAudioEndpointVolumeCallback)) {
    *out = static_cast<IAudioEndpointVolumeCallback*>(this);
  } else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG Player::AddRef() { return static_cast<ULONG>(::InterlockedIncrement(&m_refs)); }

ULONG Player::Release() {
  const LONG refs = ::InterlockedDecrement(&m_refs);
  if (refs == 0) delete this;
  return static_cast<ULONG>(refs);
}

HRESULT Player::OnDeviceStateChanged(LPCWSTR, DWORD state) {
  if (state == DEVICE_STATE_ACTIVE) ::PostMessageA(m_hWnd, WM_CPL_ENDPOINT_ACTIVE, 0, 0);
  return S_OK;
}
HRESULT Player::OnDeviceAdded(LPCWSTR) { return S_OK; }
HRESULT Player::OnDeviceRemoved(LPCWSTR) { return S_OK; }
HRESULT Player::OnDefaultDeviceChanged(EDataFlow, ERole, LPCWSTR) { return S_OK; }
HRESULT Player::OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) { return S_OK; }

HRESULT Player::OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA) {
  ::PostMessageA(m_hWnd, WM_CPL_VOLUME_CHANGED, 0, 0);
  return S_OK;
}

HRESULT Player::EnumerateActive(EDataFlow flow, UINT* count) {
  if (!m_pEnumerator || !count) return E_FAIL;
  *count = 0;
  IMMDeviceCollection*& slot = flow == eRender ? m_pRender : m_pCapture;
  releaseAndClear(slot);
  HRESULT hr = m_pEnumerator->EnumAudioEndpoints(flow, DEVICE_STATE_ACTIVE, &slot);
  if (FAILED(hr) || !slot) {
    slot = nullptr;
    return FAILED(hr) ? hr : E_FAIL;
  }
  hr = slot->GetCount(count);
  if (FAILED(hr)) *count = 0;
  return hr;
}

HRESULT Player::RegisterEndpointVolume(IMMDevice* endpoint, EDataFlow flow) {
  if (!endpoint) return E_POINTER;
  ::EnterCriticalSection(&m_volumeLock);
  IAudioEndpointVolume*& slot = flow == eRender ? m_pRenderVolume : m_pCaptureVolume;
  bool& registered = flow == eRender ? m_renderVolumeRegistered : m_captureVolumeRegistered;
  // The slot holds one endpoint: a previous one lets go of the callback first.
  if (slot && registered) slot->UnregisterControlChangeNotify(this);
  registered = false;
  releaseAndClear(slot);
  void* volume = nullptr;
  HRESULT hr = endpoint->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_INPROC_SERVER, nullptr, &volume);
  if (SUCCEEDED(hr) && volume) {
    slot = static_cast<IAudioEndpointVolume*>(volume);
    hr = slot->RegisterControlChangeNotify(this);
    registered = SUCCEEDED(hr);
  } else if (SUCCEEDED(hr)) {
    hr = E_FAIL;
  }
  ::LeaveCriticalSection(&m_volumeLock);
  return hr;
}

void Player::ReleaseEndpointVolume(EDataFlow flow) {
  ::EnterCriticalSection(&m_volumeLock);
  IAudioEndpointVolume*& slot = flow == eRender ? m_pRenderVolume : m_pCaptureVolume;
  bool& registered = flow == eRender ? m_renderVolumeRegistered : m_captureVolumeRegistered;
  if (slot && registered) slot->UnregisterControlChangeNotify(this);
  registered = false;
  releaseAndClear(slot);
  ::LeaveCriticalSection(&m_volumeLock);
}
