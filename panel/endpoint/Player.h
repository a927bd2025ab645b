// Player: the endpoint controller. It holds the system's endpoint enumerator, the endpoint
// collections and the endpoint-volume objects of the bound device, and turns endpoint
// notifications and volume callbacks (which arrive on system threads) into messages posted
// to the panel's window; all work then happens on the window's thread.
#pragma once

#include <windows.h>
#include <mmdeviceapi.h>
#include <endpointvolume.h>

class Player final : public IMMNotificationClient, public IAudioEndpointVolumeCallback {
 public:
  // Creates the enumerator through the device seam and registers for endpoint notifications.
  static Player* Create(HWND window);

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // IMMNotificationClient
  HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR id, DWORD state) override;
  HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR id) override;
  HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR id) override;
  HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR id) override;
  HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR id, const PROPERTYKEY key) override;
  // IAudioEndpointVolumeCallback
  HRESULT STDMETHODCALLTYPE OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA data) override;

  IMMDeviceEnumerator* Enumerator() const { return m_pEnumerator; }
  // Active endpoints of a direction into that direction's collection (replacing it).
  HRESULT EnumerateActive(EDataFlow flow, UINT* count);
  IMMDeviceCollection* Collection(EDataFlow flow) const { return flow == eRender ? m_pRender : m_pCapture; }

  // Activates the endpoint volume on an endpoint into the direction's slot and registers this
  // object's callback with it (one slot per direction: the last registration wins).
  HRESULT RegisterEndpointVolume(IMMDevice* endpoint, EDataFlow flow);
  // Unregisters and releases the direction's endpoint volume.
  void ReleaseEndpointVolume(EDataFlow flow);
  bool NotificationsRegistered() const { return m_notificationsRegistered; }

 private:
  explicit Player(HWND window);
  ~Player();
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;

  HWND m_hWnd;
  IMMDeviceEnumerator* m_pEnumerator = nullptr;
  IMMDeviceCollection* m_pRender = nullptr;
  IMMDeviceCollection* m_pCapture = nullptr;
  IAudioEndpointVolume* m_pRenderVolume = nullptr;
  IAudioEndpointVolume* m_pCaptureVolume = nullptr;
  bool m_renderVolumeRegistered = false;
  bool m_captureVolumeRegistered = false;
  CRITICAL_SECTION m_volumeLock;
  bool m_notificationsRegistered = false;
  bool m_comInitialised = false;
  LONG m_refs = 1;
};
