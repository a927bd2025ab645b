// The audio device manager: binds the device's render and capture endpoints by the USB
// identity in their device-instance strings, finds each endpoint's hardware volume, mute and
// input-selector controls by walking its device topology from the jack, and reads and writes
// formats, levels and mute for the pages. Owns the endpoint controller (Player).
#pragma once

#include <windows.h>
#include <mmdeviceapi.h>
#include <devicetopology.h>
#include <mmreg.h>
#include <ks.h>
#include <ksmedia.h>

#include <cstdint>

class Player;

struct EndpointFormat {
  uint32_t rate = 0;
  uint16_t bits = 0;
  uint16_t channels = 0;
  uint32_t channelMask = 0;
};

struct ChannelLevels {
  float left = 0, right = 0;
  float minLevel = 0, maxLevel = 0, step = 0;  // of channel 1, the last read
  bool read = false;                           // false: no level control (nothing read)
};

class CAudioDeviceManager {
 public:
  static constexpr int kMaxEndpoints = 8;
  static constexpr int kControlSlots = 12;
  static constexpr int kMaxChannels = 8;

  explicit CAudioDeviceManager(HWND window);
  ~CAudioDeviceManager();  // releases the bindings and the controller
  CAudioDeviceManager(const CAudioDeviceManager&) = delete;
  CAudioDeviceManager& operator=(const CAudioDeviceManager&) = delete;

  struct BindResult {
    bool renderFound = false, captureFound = false, asioAvailable = false;
  };
  HRESULT BindEndpoints(uint16_t vendorId, uint16_t productId, uint16_t interfaceNumber, BindResult* result);
  void ReleaseBindings();
  // The controller is released at shutdown, before the manager goes.
  void ReleasePlayer();
  bool IsBound() const { return m_bound; }

  HRESULT GetPlaybackFormat(EndpointFormat* format);
  HRESULT SetPlaybackFormat(uint32_t rate, uint16_t bits);
  HRESULT GetCaptureFormat(int index, EndpointFormat* format);
  HRESULT SetCaptureFormat(int index, uint32_t rate, uint16_t bits);

  HRESULT GetPlaybackLevels(ChannelLevels* levels);
  HRESULT SetPlaybackLevels(float left, float right);
  HRESULT GetCaptureLevels(int index, ChannelLevels* levels);
  HRESULT SetCaptureLevels(int index, float left, float right);
  HRESULT GetPlaybackMute(BOOL* mute);
  HRESULT SetPlaybackMute(BOOL mute);
  HRESULT GetCaptureMute(int index, BOOL* mute);
  HRESULT SetCaptureMute(int index, BOOL mute);
  HRESULT GetSelectedCaptureEndpoint(int* index);

  int RenderCount() const { return m_renderCount; }
  int CaptureCount() const { return m_captureCount; }
  GUID CaptureJackSubtype(int index) const;
  int SystemClass() const { return m_systemClass; }
  Player* GetPlayer() const { return m_pPlayer; }

 private:
  struct EndpointRecord {
    UINT index = 0;
    wchar_t id[260] = {};
    wchar_t friendlyName[260] = {};
    wchar_t description[260] = {};
    uint32_t physicalSpeakers = 0, fullRangeSpeakers = 0;
    WAVEFORMATEXTENSIBLE format{};
    GUID jackSubtype{};
    IAudioVolumeLevel* levels[kControlSlots] = {};
    IAudioMute* mutes[kControlSlots] = {};
    UINT channelCount[kControlSlots] = {};
    float minLevel[kControlSlots][kMaxChannels] = {};
    float maxLevel[kControlSlots][kMaxChannels] = {};
    float step[kControlSlots][kMaxChannels] = {};
    IAudioInputSelector* selector = nullptr;
    UINT selectorSourceId = 0;
    void ReleaseControls();
  };

  HRESULT BindDirection(EDataFlow flow, const wchar_t* pattern);
  IMMDevice* Endpoint(EDataFlow flow, UINT index) const;  // a reference the caller releases
  void ReadEndpointProperties(IMMDevice* device, EndpointRecord& record);
  HRESULT RenderControlWalk(IMMDevice* device, EndpointRecord& record);
  HRESULT CaptureControlWalk(IMMDevice* device, EndpointRecord& record);
  void ReadLevelRanges(EndpointRecord& record);

  HRESULT GetFormat(EDataFlow flow, EndpointRecord& record, EndpointFormat* format);
  HRESULT SetFormat(EDataFlow flow, EndpointRecord& record, uint32_t rate, uint16_t bits);
  static HRESULT GetLevels(EndpointRecord& record, ChannelLevels* levels);
  static HRESULT SetLevels(EndpointRecord& record, float left, float right);
  static HRESULT GuardedSetLevel(IAudioVolumeLevel* control, UINT channel, float value);

  HWND m_hWnd;
  uint16_t m_vendorId = 0, m_productId = 0;
  int m_systemClass = 4;
  bool m_x86 = true;
  uint32_t m_build = 0;
  Player* m_pPlayer = nullptr;
  bool m_bound = false;
  EndpointRecord m_render[kMaxEndpoints];
  EndpointRecord m_capture[kMaxEndpoints];
  int m_renderCount = 0;
  int m_captureCount = 0;
};
