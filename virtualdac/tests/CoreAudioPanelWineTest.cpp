// What the control panel relies on in the virtual DAC's Core Audio face, under Wine:
// several capture endpoints with their jacks, device topologies that the endpoint walks
// of a USB audio device get through (and one they do not), hardware controls, endpoint
// volume callbacks, endpoint notifications and WM_DEVICECHANGE on removal and return.
#include <gtest/gtest.h>

#include "CaKit.h"
#include "VirtualDac.h"

#include <dbt.h>
#include <devicetopology.h>
#include <endpointvolume.h>

#include <atomic>
#include <cstring>

using namespace cakit;
namespace vdac = tess::vdac;

namespace {

constexpr GUID kLineConnector{0xDFF21FE3, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
constexpr GUID kSpdifInterface{0xDFF21FE5, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
constexpr GUID kMux{0x2CEAF780, 0xC556, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};
constexpr GUID kUsbDevice{0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

class CoreAudioPanelTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))); }
  void TearDown() override {
    EXPECT_EQ(vdac::coreAudioObjects(), 0u);
    vdac::stopUsingVirtualDac();
    CoUninitialize();
  }
};

// What a walk of an endpoint's topology found.
struct Walk {
  HRESULT result = E_FAIL;
  GUID jack{};
  Com<IAudioVolumeLevel> level;
  Com<IAudioMute> mute;
  Com<IAudioInputSelector> selector;
  UINT localId = 0;
};

// One step along the signal (outgoing) or against it: the first entry of the list.
HRESULT step(Com<IPart>& part, bool withSignal) {
  Com<IPartsList> list;
  HRESULT hr = withSignal ? part->EnumPartsOutgoing(list.put()) : part->EnumPartsIncoming(list.put());
  if (FAILED(hr)) return hr;
  return list->GetPart(0, part.put());
}

bool isSubunit(IPart* part) {
  PartType type = Connector;
  return SUCCEEDED(part->GetPartType(&type)) && type == Subunit;
}

// The endpoint walks as the panel makes them: from the endpoint's connector to the jack
// it is connected to, then part by part.
Walk walk(IMMDevice* endpoint, bool render) {
  Walk w;
  Com<IDeviceTopology> topology;
  Com<IConnector> connector, other;
  Com<IPart> part;
  HRESULT hr = endpoint->Activate(__uuidof(IDeviceTopology), CLSCTX_ALL, nullptr, topology.putVoid());
  if (SUCCEEDED(hr)) hr = topology->GetConnector(0, connector.put());
  DataFlow flow = In;
  if (SUCCEEDED(hr)) hr = connector->GetDataFlow(&flow);
  if (SUCCEEDED(hr) && flow != (render ? In : Out)) hr = AUDCLNT_E_WRONG_ENDPOINT_TYPE;
  if (SUCCEEDED(hr)) hr = connector->GetConnectedTo(other.put());
  if (SUCCEEDED(hr)) hr = other->QueryInterface(__uuidof(IPart), part.putVoid());
  if (FAILED(hr)) return w.result = hr, std::move(w);
  if (render) {
    if (FAILED(hr = step(part, false))) return w.result = hr, std::move(w);
    if (FAILED(hr = step(part, false))) return w.result = hr, std::move(w);
    if (isSubunit(part.get())) part->Activate(CLSCTX_ALL, __uuidof(IAudioVolumeLevel), w.level.putVoid());
    if (FAILED(hr = step(part, false))) return w.result = hr, std::move(w);
    if (isSubunit(part.get())) part->Activate(CLSCTX_ALL, __uuidof(IAudioMute), w.mute.putVoid());
    w.result = S_OK;
    return w;
  }
  part->GetSubType(&w.jack);
  const bool line = w.jack == kLineConnector;
  if (FAILED(hr = step(part, true))) return w.result = hr, std::move(w);
  if (FAILED(hr = step(part, true))) return w.result = hr, std::move(w);
  if (isSubunit(part.get())) part->Activate(CLSCTX_ALL, __uuidof(IAudioMute), w.mute.putVoid());
  if (!line) part->GetLocalId(&w.localId);
  if (line) {
    if (FAILED(hr = step(part, true))) return w.result = hr, std::move(w);
    if (isSubunit(part.get())) {
      part->Activate(CLSCTX_ALL, __uuidof(IAudioVolumeLevel), w.level.putVoid());
      part->GetLocalId(&w.localId);
    }
  }
  if (FAILED(hr = step(part, true))) return w.result = hr, std::move(w);
  GUID subtype{};
  if (isSubunit(part.get()) && SUCCEEDED(part->GetSubType(&subtype)) && subtype == kMux) {
    part->Activate(CLSCTX_ALL, __uuidof(IAudioInputSelector), w.selector.putVoid());
  }
  w.result = S_OK;
  return w;
}

class VolumeCallback final : public IAudioEndpointVolumeCallback {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid != IID_IUnknown && iid != __uuidof(IAudioEndpointVolumeCallback)) return *out = nullptr, E_NOINTERFACE;
    *out = this;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }  // lives on the test's stack
  HRESULT STDMETHODCALLTYPE OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA data) override {
    ++calls;
    muted = data->bMuted != FALSE;
    channels = data->nChannels;
    std::memcpy(levels, data->afChannelVolumes, sizeof levels);
    return S_OK;
  }
  std::atomic<ULONG> refs{1};
  int calls = 0;
  bool muted = false;
  UINT channels = 0;
  float levels[2] = {};
};

class NotificationClient final : public IMMNotificationClient {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid != IID_IUnknown && iid != __uuidof(IMMNotificationClient)) return *out = nullptr, E_NOINTERFACE;
    *out = this;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR id, DWORD state) override {
    changes.push_back({id, state});
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow, ERole, LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override { return S_OK; }
  std::atomic<ULONG> refs{1};
  std::vector<std::pair<std::wstring, DWORD>> changes;
};

}  // namespace

TEST_F(CoreAudioPanelTest, TopologiesWalkAsAUsbAudioDevicesDo) {
  vdac::DacConfig config;
  config.coreAudio.renderEndpoints = {vdac::TopologyShape::Usual, vdac::TopologyShape::Unconnected};
  config.coreAudio.captureEndpoints = {{vdac::CaptureJack::Line, vdac::TopologyShape::Usual},
                                       {vdac::CaptureJack::Spdif, vdac::TopologyShape::Usual},
                                       {vdac::CaptureJack::Line, vdac::TopologyShape::Unconnected}};
  ASSERT_TRUE(vdac::useVirtualDac(config));

  Com<IMMDevice> speakers, speakers2, line, spdif, line3;
  ASSERT_EQ(dacEndpoint(eRender, speakers, 0), S_OK);
  ASSERT_EQ(dacEndpoint(eRender, speakers2, 1), S_OK);
  ASSERT_EQ(dacEndpoint(eCapture, line, 0), S_OK);
  ASSERT_EQ(dacEndpoint(eCapture, spdif, 1), S_OK);
  ASSERT_EQ(dacEndpoint(eCapture, line3, 2), S_OK);
  EXPECT_EQ(textProperty(spdif.get(), kFriendlyName), L"SPDIF Interface 2 (Tessaline USB 2.0 Audio)");
  EXPECT_EQ(textProperty(line.get(), PROPERTYKEY{{0x1DA5D803, 0xD492, 0x4EDD, {0x8C, 0x23, 0xE0, 0xC0, 0xFF, 0xEE,
                                                                              0x7F, 0x0E}}, 8}),
            L"{DFF21FE3-F70F-11D0-B917-00A0C9223196}");

  Walk render = walk(speakers.get(), true);
  ASSERT_EQ(render.result, S_OK);
  ASSERT_TRUE(render.level);
  ASSERT_TRUE(render.mute);
  float minimum = 0, maximum = 0, stepDb = 0, level = 1;
  EXPECT_EQ(render.level->GetLevelRange(1, &minimum, &maximum, &stepDb), S_OK);
  EXPECT_EQ(minimum, -60.0f);
  EXPECT_EQ(maximum, 0.0f);
  EXPECT_EQ(render.level->SetLevel(0, -12.5f, nullptr), S_OK);
  EXPECT_EQ(render.level->SetLevel(1, 3.0f, nullptr), E_INVALIDARG);  // beyond the hardware's range
  EXPECT_EQ(render.level->GetLevel(0, &level), S_OK);
  EXPECT_EQ(level, -12.5f);
  EXPECT_EQ(walk(speakers2.get(), true).result, HRESULT_FROM_WIN32(ERROR_NOT_FOUND));  // leads nowhere
  EXPECT_EQ(walk(speakers.get(), false).result, AUDCLNT_E_WRONG_ENDPOINT_TYPE);

  Walk lineWalk = walk(line.get(), false), spdifWalk = walk(spdif.get(), false);
  ASSERT_EQ(lineWalk.result, S_OK);
  EXPECT_EQ(lineWalk.jack, kLineConnector);
  EXPECT_TRUE(lineWalk.mute && lineWalk.level && lineWalk.selector);
  ASSERT_EQ(spdifWalk.result, S_OK);
  EXPECT_EQ(spdifWalk.jack, kSpdifInterface);
  EXPECT_TRUE(spdifWalk.mute && spdifWalk.selector);
  EXPECT_FALSE(spdifWalk.level);  // an S/PDIF input has no hardware volume
  EXPECT_NE(lineWalk.localId, spdifWalk.localId);
  EXPECT_EQ(walk(line3.get(), false).result, HRESULT_FROM_WIN32(ERROR_NOT_FOUND));

  // One input selector for the device: its selection names the part an input's walk ends on.
  UINT selected = 0;
  EXPECT_EQ(lineWalk.selector->GetSelection(&selected), S_OK);
  EXPECT_EQ(selected, lineWalk.localId);
  EXPECT_EQ(spdifWalk.selector->SetSelection(spdifWalk.localId, nullptr), S_OK);
  EXPECT_EQ(lineWalk.selector->GetSelection(&selected), S_OK);
  EXPECT_EQ(selected, spdifWalk.localId);
  EXPECT_EQ(lineWalk.selector->SetSelection(0x12345, nullptr), E_INVALIDARG);

  // Removal takes the controls away.
  vdac::setRemoved(true);
  EXPECT_EQ(render.level->GetLevel(0, &level), AUDCLNT_E_DEVICE_INVALIDATED);
  WINBOOL muted = FALSE;
  EXPECT_EQ(lineWalk.mute->GetMute(&muted), AUDCLNT_E_DEVICE_INVALIDATED);
}

TEST_F(CoreAudioPanelTest, EndpointVolumeCallbacksFollowLevelAndMute) {
  ASSERT_TRUE(vdac::useVirtualDac());
  Com<IMMDevice> speakers;
  ASSERT_EQ(dacEndpoint(eRender, speakers), S_OK);
  Com<IAudioEndpointVolume> volume;
  ASSERT_EQ(speakers->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_INPROC_SERVER, nullptr, volume.putVoid()), S_OK);
  VolumeCallback callback;
  ASSERT_EQ(volume->RegisterControlChangeNotify(&callback), S_OK);
  struct Unregister {  // also when a check below fails: the callback lives on this stack
    IAudioEndpointVolume* volume;
    VolumeCallback* callback;
    ~Unregister() { volume->UnregisterControlChangeNotify(callback); }
  } unregister{volume.get(), &callback};
  EXPECT_EQ(callback.refs, 2u);

  // A change made through the hardware control reaches the endpoint volume.
  Walk w = walk(speakers.get(), true);
  ASSERT_EQ(w.result, S_OK);
  ASSERT_TRUE(w.level && w.mute);
  ASSERT_EQ(w.level->SetLevel(1, -30.0f, nullptr), S_OK);
  EXPECT_EQ(callback.calls, 1);
  EXPECT_EQ(callback.channels, 2u);
  EXPECT_FLOAT_EQ(callback.levels[0], 1.0f);
  EXPECT_FLOAT_EQ(callback.levels[1], 0.5f);
  float db = 0;
  EXPECT_EQ(volume->GetChannelVolumeLevel(1, &db), S_OK);
  EXPECT_EQ(db, -30.0f);
  ASSERT_EQ(w.mute->SetMute(TRUE, nullptr), S_OK);
  EXPECT_EQ(callback.calls, 2);
  EXPECT_TRUE(callback.muted);
  // And the other way round.
  EXPECT_EQ(volume->SetMute(TRUE, nullptr), S_FALSE);  // already muted: nothing changes
  EXPECT_EQ(callback.calls, 2);
  EXPECT_EQ(volume->SetMasterVolumeLevelScalar(0.25f, nullptr), S_OK);
  EXPECT_EQ(callback.calls, 3);
  float level = 0;
  EXPECT_EQ(w.level->GetLevel(0, &level), S_OK);
  EXPECT_EQ(level, -45.0f);
  EXPECT_EQ(volume->SetMasterVolumeLevel(-61.0f, nullptr), E_INVALIDARG);
  EXPECT_EQ(callback.calls, 3);
  DWORD hardware = 0;
  EXPECT_EQ(volume->QueryHardwareSupport(&hardware), S_OK);
  EXPECT_EQ(hardware, static_cast<DWORD>(ENDPOINT_HARDWARE_SUPPORT_VOLUME | ENDPOINT_HARDWARE_SUPPORT_MUTE));

  ASSERT_EQ(volume->UnregisterControlChangeNotify(&callback), S_OK);
  EXPECT_EQ(volume->UnregisterControlChangeNotify(&callback), HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
  EXPECT_EQ(w.mute->SetMute(FALSE, nullptr), S_OK);
  EXPECT_EQ(callback.calls, 3);
  EXPECT_EQ(callback.refs, 1u);
}

namespace {

// A message-only window registered for device-interface notifications through the seam,
// recording what it receives; everything it registered goes, also when a check fails.
class DeviceChangeWindow {
 public:
  explicit DeviceChangeWindow(const GUID& interfaceClass) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = record;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "CaDeviceChangeTest";
    RegisterClassA(&wc);
    window_ = CreateWindowA(wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, this);
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = interfaceClass;
    registration = tess::devices().registerDeviceNotification(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  }
  ~DeviceChangeWindow() {
    if (registration) tess::devices().unregisterDeviceNotification(registration);
    DestroyWindow(window_);
    UnregisterClassA("CaDeviceChangeTest", GetModuleHandleA(nullptr));
  }
  HDEVNOTIFY registration = nullptr;
  std::vector<std::pair<WPARAM, std::string>> changes;

 private:
  static LRESULT CALLBACK record(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<DeviceChangeWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message != WM_DEVICECHANGE || !self) return DefWindowProcA(window, message, wParam, lParam);
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    std::string name;
    if (header && header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
      name = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(lParam)->dbcc_name;
    }
    self->changes.push_back({wParam, name});
    return TRUE;
  }
  HWND window_ = nullptr;
};

}  // namespace

TEST_F(CoreAudioPanelTest, RemovalAndReturnReachNotificationClientsAndWindows) {
  ASSERT_TRUE(vdac::useVirtualDac());
  DeviceChangeWindow usb(kUsbDevice);
  GUID otherClass = kUsbDevice;
  otherClass.Data1 ^= 1;  // a class the DAC has no interface of
  DeviceChangeWindow other(otherClass);
  ASSERT_NE(usb.registration, nullptr);
  ASSERT_NE(other.registration, nullptr);
  DEV_BROADCAST_DEVICEINTERFACE_A filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  EXPECT_EQ(tess::devices().registerDeviceNotification(reinterpret_cast<HWND>(0x1234), &filter, 0), nullptr);

  Com<IMMDeviceEnumerator> e;
  ASSERT_EQ(enumerator(e), S_OK);
  NotificationClient client;
  ASSERT_EQ(e->RegisterEndpointNotificationCallback(&client), S_OK);
  struct Unregister {
    IMMDeviceEnumerator* e;
    NotificationClient* client;
    ~Unregister() { e->UnregisterEndpointNotificationCallback(client); }
  } unregister{e.get(), &client};
  const std::vector<EndpointInfo> render = listEndpoints(eRender), capture = listEndpoints(eCapture);
  ASSERT_EQ(render.size(), 2u);
  ASSERT_EQ(capture.size(), 2u);

  vdac::setRemoved(true);
  vdac::setRemoved(true);  // told once
  ASSERT_EQ(client.changes.size(), 2u);
  EXPECT_EQ(client.changes[0].first, render[1].id);
  EXPECT_EQ(client.changes[0].second, static_cast<DWORD>(DEVICE_STATE_UNPLUGGED));
  EXPECT_EQ(client.changes[1].first, capture[1].id);
  ASSERT_EQ(usb.changes.size(), 1u);
  EXPECT_EQ(usb.changes[0].first, static_cast<WPARAM>(DBT_DEVICEREMOVECOMPLETE));
  EXPECT_NE(usb.changes[0].second.find("USB#VID_1209&PID_0007#"), std::string::npos) << usb.changes[0].second;
  EXPECT_TRUE(other.changes.empty());

  vdac::setRemoved(false);
  ASSERT_EQ(client.changes.size(), 4u);
  EXPECT_EQ(client.changes[2].second, static_cast<DWORD>(DEVICE_STATE_ACTIVE));
  ASSERT_EQ(usb.changes.size(), 2u);
  EXPECT_EQ(usb.changes[1].first, static_cast<WPARAM>(DBT_DEVICEARRIVAL));

  // Once unregistered, nothing more arrives, and the client's references are given back.
  EXPECT_EQ(e->UnregisterEndpointNotificationCallback(&client), S_OK);
  EXPECT_EQ(client.refs, 1u);
  EXPECT_TRUE(tess::devices().unregisterDeviceNotification(usb.registration));
  usb.registration = nullptr;
  vdac::setRemoved(true);
  EXPECT_EQ(client.changes.size(), 4u);
  EXPECT_EQ(usb.changes.size(), 2u);
}

TEST_F(CoreAudioPanelTest, WrittenFormatsAreWhatTheClientReads) {
  ASSERT_TRUE(vdac::useVirtualDac());
  Com<IMMDevice> speakers;
  ASSERT_EQ(dacEndpoint(eRender, speakers), S_OK);
  WAVEFORMATEXTENSIBLE floating = pcm(96000, 32, 32);
  floating.SubFormat.Data1 = 3;  // IEEE float
  PROPVARIANT blob;
  PropVariantInit(&blob);
  blob.vt = VT_BLOB;
  blob.blob.cbSize = 40;
  blob.blob.pBlobData = reinterpret_cast<BYTE*>(&floating);
  Com<IPropertyStore> store;
  ASSERT_EQ(speakers->OpenPropertyStore(STGM_READWRITE, store.put()), S_OK);
  ASSERT_EQ(store->SetValue(PROPERTYKEY{{0xE4870E26, 0x3CC5, 0x4CD2, {0xBA, 0x46, 0xCA, 0x0A, 0x9A, 0x70, 0xED, 0x04}}, 0},
                            blob),
            S_OK);
  Com<IAudioClient> client;
  ASSERT_EQ(speakers->Activate(__uuidof(IAudioClient), CLSCTX_INPROC_SERVER, nullptr, client.putVoid()), S_OK);
  WAVEFORMATEX* mix = nullptr;
  ASSERT_EQ(client->GetMixFormat(&mix), S_OK);
  EXPECT_EQ(mix->nSamplesPerSec, 96000u);
  WAVEFORMATEX* closest = nullptr;
  EXPECT_EQ(client->IsFormatSupported(AUDCLNT_SHAREMODE_SHARED, &floating.Format, &closest), S_OK);
  CoTaskMemFree(mix);
}

TEST_F(CoreAudioPanelTest, EnvironmentShapesTheEndpoints) {
  SetEnvironmentVariableA("TESSALINE_VIRTUAL_DEVICE_CAPTURE_JACKS", "line,spdif,,bogus,line");
  SetEnvironmentVariableA("TESSALINE_VIRTUAL_DEVICE_24IN32", "1");
  const vdac::DacConfig config = vdac::configFromEnvironment();
  SetEnvironmentVariableA("TESSALINE_VIRTUAL_DEVICE_CAPTURE_JACKS", nullptr);
  SetEnvironmentVariableA("TESSALINE_VIRTUAL_DEVICE_24IN32", nullptr);
  ASSERT_EQ(config.coreAudio.captureEndpoints.size(), 3u);
  EXPECT_EQ(config.coreAudio.captureEndpoints[1].jack, vdac::CaptureJack::Spdif);
  EXPECT_EQ(config.coreAudio.captureEndpoints[2].jack, vdac::CaptureJack::Line);
  EXPECT_FALSE(config.coreAudio.packed24);
  EXPECT_TRUE(vdac::configFromEnvironment().coreAudio.packed24);
  ASSERT_TRUE(vdac::useVirtualDac(config));
  EXPECT_EQ(listEndpoints(eCapture).size(), 4u);  // the onboard microphone and the three
}
