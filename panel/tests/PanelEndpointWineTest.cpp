// The main dialog in this process with the virtual DAC's audio endpoints: the playback and
// record pages as the kernel-streaming probe and the endpoints' formats show them, format
// writes read back from the endpoints' property stores, volume both ways, and the device
// leaving and coming back.
#include <gtest/gtest.h>

#include <windows.h>
#include <endpointvolume.h>
#include <mmdeviceapi.h>
#include <mmreg.h>
#include <propidl.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "AudioDeviceManager.h"
#include "DeviceSeam.h"
#include "EndpointKeys.h"
#include "KestaACPLUIDlg.h"
#include "PanelTables.h"
#include "PanelTestSupport.h"
#include "SystemClass.h"
#include "TessConstants.h"
#include "VirtualDac.h"

using namespace paneltest;
namespace vdac = tess::vdac;

namespace {

template <typename T>
struct Com {
  T* p = nullptr;
  ~Com() { reset(); }
  void reset() {
    if (p) p->Release();
    p = nullptr;
  }
  T** put() {
    reset();
    return &p;
  }
  T* operator->() const { return p; }
};

// The DAC's endpoints of one direction, seen as any other program sees them.
std::vector<IMMDevice*> dacEndpoints(EDataFlow flow) {
  std::vector<IMMDevice*> out;
  Com<IMMDeviceEnumerator> enumerator;
  if (FAILED(tess::devices().coCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                              __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(enumerator.put()))))
    return out;
  Com<IMMDeviceCollection> list;
  UINT count = 0;
  if (FAILED(enumerator->EnumAudioEndpoints(flow, DEVICE_STATE_ACTIVE, list.put())) || FAILED(list->GetCount(&count)))
    return out;
  for (UINT i = 0; i < count; ++i) {
    IMMDevice* device = nullptr;
    if (FAILED(list->Item(i, &device))) continue;
    Com<IPropertyStore> store;
    PROPVARIANT v;
    ::PropVariantInit(&v);
    bool ours = false;
    if (SUCCEEDED(device->OpenPropertyStore(STGM_READ, store.put())) &&
        SUCCEEDED(store->GetValue(endpoint::kKeyInstanceId, &v)) && v.vt == VT_LPWSTR)
      ours = std::wcsstr(v.pwszVal, L"VID_1209&PID_0007") != nullptr;
    ::PropVariantClear(&v);
    if (ours) {
      out.push_back(device);
    } else {
      device->Release();
    }
  }
  return out;
}
void releaseAll(std::vector<IMMDevice*>& devices) {
  for (IMMDevice* d : devices) d->Release();
  devices.clear();
}

// The blob under a key; empty when there is none.
std::vector<uint8_t> readBlob(IMMDevice* device, const PROPERTYKEY& key) {
  std::vector<uint8_t> out;
  Com<IPropertyStore> store;
  if (FAILED(device->OpenPropertyStore(STGM_READ, store.put()))) return out;
  PROPVARIANT v;
  ::PropVariantInit(&v);
  if (SUCCEEDED(store->GetValue(key, &v)) && v.vt == VT_BLOB && v.blob.pBlobData)
    out.assign(v.blob.pBlobData, v.blob.pBlobData + v.blob.cbSize);
  ::PropVariantClear(&v);
  return out;
}
WAVEFORMATEXTENSIBLE readFormat(IMMDevice* device, const PROPERTYKEY& key) {
  WAVEFORMATEXTENSIBLE f{};
  const std::vector<uint8_t> blob = readBlob(device, key);
  std::memcpy(&f, blob.data(), blob.size() < sizeof f ? blob.size() : sizeof f);
  return f;
}

WAVEFORMATEXTENSIBLE pcm(uint32_t rate, uint16_t bits, const GUID& subtype) {
  WAVEFORMATEXTENSIBLE f{};
  f.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  f.Format.nChannels = 2;
  f.Format.nSamplesPerSec = rate;
  f.Format.wBitsPerSample = bits;
  f.Format.nBlockAlign = static_cast<WORD>(bits / 8 * 2);
  f.Format.nAvgBytesPerSec = f.Format.nBlockAlign * rate;
  f.Format.cbSize = 22;
  f.Samples.wValidBitsPerSample = bits;
  f.dwChannelMask = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
  f.SubFormat = subtype;
  return f;
}

bool writeFormat(IMMDevice* device, const WAVEFORMATEXTENSIBLE& format) {
  Com<IPropertyStore> store;
  if (FAILED(device->OpenPropertyStore(STGM_READWRITE, store.put()))) return false;
  PROPVARIANT v;
  ::PropVariantInit(&v);
  v.vt = VT_BLOB;
  v.blob.cbSize = sizeof format;
  v.blob.pBlobData = reinterpret_cast<BYTE*>(const_cast<WAVEFORMATEXTENSIBLE*>(&format));
  return SUCCEEDED(store->SetValue(endpoint::kKeyDeviceFormat, v));
}

::testing::AssertionResult sameFormat(const WAVEFORMATEXTENSIBLE& got, const WAVEFORMATEXTENSIBLE& want) {
  if (std::memcmp(&got, &want, sizeof got) == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "got " << got.Format.nChannels << " ch, " << got.Format.nSamplesPerSec
                                       << " Hz, " << got.Format.wBitsPerSample << "/"
                                       << got.Samples.wValidBitsPerSample << " bits, align " << got.Format.nBlockAlign
                                       << ", tag " << got.Format.wFormatTag << ", mask " << got.dwChannelMask;
}

bool visible(CSkinDialog& d, const char* name) {
  CSkinButton* b = d.FindSkinButton(name);
  return b && ::IsWindowVisible(b->m_hWnd);
}

float channelLevel(IMMDevice* device, UINT channel) {
  Com<IAudioEndpointVolume> volume;
  float db = -1000;
  if (SUCCEEDED(device->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_ALL, nullptr,
                                 reinterpret_cast<void**>(volume.put()))))
    volume->GetChannelVolumeLevel(channel, &db);
  return db;
}
bool setChannelLevel(IMMDevice* device, UINT channel, float db) {
  Com<IAudioEndpointVolume> volume;
  return SUCCEEDED(device->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_ALL, nullptr,
                                    reinterpret_cast<void**>(volume.put()))) &&
         SUCCEEDED(volume->SetChannelVolumeLevel(channel, db, nullptr));
}

class PanelEndpoints : public ::testing::Test {
 protected:
  void SetUp() override {
    deleteAsioSettings();
    deletePackageKey();
    writePageSwitch("PlayRecPP", 1);
    vdac::DacConfig config;
    config.coreAudio.captureEndpoints = {{vdac::CaptureJack::Line}, {vdac::CaptureJack::Spdif},
                                         {vdac::CaptureJack::Line}};
    ASSERT_TRUE(vdac::useVirtualDac(config));
    render_ = dacEndpoints(eRender);
    capture_ = dacEndpoints(eCapture);
    ASSERT_EQ(render_.size(), 1u);
    ASSERT_EQ(capture_.size(), 3u);
  }
  void TearDown() override {
    dialog_.reset();
    releaseAll(render_);
    releaseAll(capture_);
    vdac::stopUsingVirtualDac();
    deletePackageKey();
    deleteAsioSettings();
  }
  CKestaACPLUIDlg* open() {
    dialog_ = std::make_unique<CKestaACPLUIDlg>();
    if (!dialog_->Create()) return nullptr;
    dialog_->SetWindowPos(HWND_TOP, 40, 40, 0, 0, SWP_NOSIZE);
    dialog_->ShowWindow(SW_SHOW);
    pump(300);
    return dialog_.get();
  }
  std::unique_ptr<CKestaACPLUIDlg> dialog_;
  std::vector<IMMDevice*> render_, capture_;
};

TEST_F(PanelEndpoints, PagesShowWhatTheDeviceTakesAndTheEndpointsFormats) {
  // Formats chosen before the panel starts: it shows them, and the record page puts every
  // capture endpoint on the format of the first.
  ASSERT_TRUE(writeFormat(render_[0], pcm(176400, 32, endpoint::kSubtypePcm)));
  ASSERT_TRUE(writeFormat(capture_[0], pcm(48000, 16, endpoint::kSubtypePcm)));
  ASSERT_TRUE(writeFormat(capture_[2], pcm(96000, 24, endpoint::kSubtypePcm)));
  CKestaACPLUIDlg* d = open();
  ASSERT_TRUE(d);
  ASSERT_NE(d->PlayPage(), nullptr);
  ASSERT_NE(d->RecordPage(), nullptr);
  EXPECT_NE(d->AsioPage(), nullptr);
  EXPECT_EQ(d->Manager()->CaptureCount(), 3);
  // The device takes 16, 24 and 32 bits at 32000 to 384000 Hz in both directions.
  for (const char* const* group : {panel::kPlayRateButtons, panel::kRecordRateButtons})
    for (int i = 0; i < panel::kRateButtonCount; ++i) EXPECT_TRUE(visible(*d, group[i])) << group[i];
  for (const char* const* group : {panel::kPlayBitButtons, panel::kRecordBitButtons})
    for (int i = 0; i < panel::kBitButtonCount; ++i) EXPECT_TRUE(visible(*d, group[i])) << group[i];
  for (const char* name : {"BTN_P_MUTE", "BTN_P_VOL_GANG", "BTN_R_MUTE", "BTN_R_VOL_GANG"})
    EXPECT_FALSE(visible(*d, name)) << name;

  auto checked = [&](const char* const* group, int count) {
    std::string names;
    for (int i = 0; i < count; ++i)
      if (d->GetSkinButtonCheck(group[i])) names += std::string(names.empty() ? "" : " ") + group[i];
    return names;
  };
  EXPECT_EQ(checked(panel::kPlayRateButtons, panel::kRateButtonCount), "BTN_P_176K");
  EXPECT_EQ(checked(panel::kPlayBitButtons, panel::kBitButtonCount), "BTN_P_32B");
  EXPECT_EQ(checked(panel::kRecordRateButtons, panel::kRateButtonCount), "BTN_R_48K");
  EXPECT_EQ(checked(panel::kRecordBitButtons, panel::kBitButtonCount), "BTN_R_16B");
  for (IMMDevice* c : capture_) {
    const WAVEFORMATEXTENSIBLE f = readFormat(c, endpoint::kKeyDeviceFormat);
    EXPECT_EQ(f.Format.nSamplesPerSec, 48000u);
    EXPECT_EQ(f.Format.wBitsPerSample, 16u);
  }

  // A device that takes 24 bits only in 32-bit containers and one rate fewer for recording.
  dialog_.reset();
  releaseAll(render_);
  releaseAll(capture_);
  vdac::DacConfig narrow;
  narrow.ranges.rates = {44100, 48000, 96000};
  narrow.ranges.widths = {16, 24};
  ASSERT_TRUE(vdac::useVirtualDac(narrow));
  d = open();
  ASSERT_TRUE(d);
  ASSERT_NE(d->PlayPage(), nullptr);
  for (const char* name : {"BTN_P_44K", "BTN_P_48K", "BTN_P_96K", "BTN_P_16B", "BTN_P_24B", "BTN_R_44K", "BTN_R_96K"})
    EXPECT_TRUE(visible(*d, name)) << name;
  for (const char* name : {"BTN_P_32K", "BTN_P_88K", "BTN_P_384K", "BTN_P_32B", "BTN_R_32B", "BTN_R_192K"})
    EXPECT_FALSE(visible(*d, name)) << name;
}

TEST_F(PanelEndpoints, FormatClicksWriteTheKeysAndOutsideChangesReachEveryCaptureEndpoint) {
  CKestaACPLUIDlg* d = open();
  ASSERT_TRUE(d);
  ASSERT_NE(d->PlayPage(), nullptr);
  d->OnSkinButtonClicked("BTN_P_24B");
  d->OnSkinButtonClicked("BTN_P_96K");
  EXPECT_EQ(d->GetSkinButtonCheck("BTN_P_96K"), 1);
  EXPECT_EQ(d->GetSkinButtonCheck("BTN_P_24B"), 1);
  const WAVEFORMATEXTENSIBLE device = pcm(96000, 24, endpoint::kSubtypePcm);
  const WAVEFORMATEXTENSIBLE mix = pcm(96000, 32, endpoint::kSubtypeFloat);
  EXPECT_TRUE(sameFormat(readFormat(render_[0], endpoint::kKeyDeviceFormat), device));
  EXPECT_TRUE(sameFormat(readFormat(render_[0], endpoint::kKeyMixFormat), mix));
  const tess::SystemClass system = tess::querySystemClass();
  ASSERT_TRUE(system.ok);
  const bool engineKeys = system.systemClass == 6 || system.systemClass == 7 || system.systemClass == 10;
  std::printf("system class %d: engine keys %s\n", system.systemClass, engineKeys ? "written" : "not written");
  EXPECT_TRUE(system.systemClass == 4 || system.systemClass == 10) << "run as Windows 7 and as Windows 10";
  for (const PROPERTYKEY& key : {endpoint::kKeyEngineFormat3, endpoint::kKeyEngineFormat2, endpoint::kKeyRenderFormat3}) {
    if (engineKeys) {
      EXPECT_TRUE(sameFormat(readFormat(render_[0], key), mix));
    } else {
      EXPECT_TRUE(readBlob(render_[0], key).empty());
    }
  }

  // Record: four keys per capture endpoint (the playback-only one not).
  d->OnSkinButtonClicked("BTN_R_16B");
  d->OnSkinButtonClicked("BTN_R_44K");
  for (IMMDevice* c : capture_) {
    EXPECT_TRUE(sameFormat(readFormat(c, endpoint::kKeyDeviceFormat), pcm(44100, 16, endpoint::kSubtypePcm)));
    EXPECT_TRUE(sameFormat(readFormat(c, endpoint::kKeyMixFormat), pcm(44100, 32, endpoint::kSubtypeFloat)));
    if (engineKeys) {
      EXPECT_TRUE(sameFormat(readFormat(c, endpoint::kKeyEngineFormat2), pcm(44100, 32, endpoint::kSubtypeFloat)));
    }
  }

  // Changed in the system's sound settings on the second capture endpoint.
  ASSERT_TRUE(writeFormat(capture_[1], pcm(192000, 32, endpoint::kSubtypePcm)));
  const ULONGLONG start = ::GetTickCount64();
  EXPECT_TRUE(pumpUntil([&] { return d->GetSkinButtonCheck("BTN_R_192K") && d->GetSkinButtonCheck("BTN_R_32B"); }, 5000));
  std::printf("outside change shown after %llu ms\n", static_cast<unsigned long long>(::GetTickCount64() - start));
  EXPECT_EQ(d->GetSkinButtonCheck("BTN_R_44K"), 0);
  for (IMMDevice* c : capture_)
    EXPECT_TRUE(sameFormat(readFormat(c, endpoint::kKeyDeviceFormat), pcm(192000, 32, endpoint::kSubtypePcm)));
  // The playback side saw nothing of it.
  EXPECT_EQ(d->GetSkinButtonCheck("BTN_P_96K"), 1);
}

TEST_F(PanelEndpoints, VolumeSlidersMapToLevelsBothWaysAndGangKeepsChannelsEqual) {
  CKestaACPLUIDlg* d = open();
  ASSERT_TRUE(d);
  ASSERT_NE(d->PlayPage(), nullptr);
  // The face's range: -60..0 dB.
  struct Case {
    int value;
    float db;
  };
  for (const Case& c : {Case{0, 0.0f}, Case{50, -30.0f}, Case{100, -60.0f}}) {
    d->OnSkinSliderChanged("SLDR_P_VOL_L", 8, c.value);
    EXPECT_FLOAT_EQ(channelLevel(render_[0], 0), c.db) << c.value;
  }
  d->OnSkinSliderChanged("SLDR_P_VOL_R", 8, 50);
  EXPECT_FLOAT_EQ(channelLevel(render_[0], 1), -30.0f);
  EXPECT_FLOAT_EQ(channelLevel(render_[0], 0), -60.0f) << "the other channel keeps its level";

  // Changed elsewhere: the hidden sliders follow through the volume callback.
  ASSERT_TRUE(setChannelLevel(render_[0], 0, -15.0f));
  EXPECT_TRUE(pumpUntil([&] { return d->GetSkinSliderPos("SLDR_P_VOL_L") == 25; }, 3000))
      << d->GetSkinSliderPos("SLDR_P_VOL_L");
  ASSERT_TRUE(setChannelLevel(render_[0], 1, -0.5f));
  EXPECT_TRUE(pumpUntil([&] { return d->GetSkinSliderPos("SLDR_P_VOL_R") == 1; }, 3000))
      << "less than a hundredth below the top shows as 1: " << d->GetSkinSliderPos("SLDR_P_VOL_R");
  // The record page's sliders follow the first line input.
  ASSERT_TRUE(setChannelLevel(capture_[0], 0, -45.0f));
  EXPECT_TRUE(pumpUntil([&] { return d->GetSkinSliderPos("SLDR_R_VOL_L") == 75; }, 3000))
      << d->GetSkinSliderPos("SLDR_R_VOL_L");

  // Gang: on copies the left to the right; then either slider moves both.
  d->OnSkinButtonClicked("BTN_P_VOL_GANG");
  EXPECT_EQ(d->GetSkinSliderPos("SLDR_P_VOL_R"), 25);
  EXPECT_FLOAT_EQ(channelLevel(render_[0], 1), -15.0f);
  d->OnSkinSliderChanged("SLDR_P_VOL_R", 8, 100);
  EXPECT_EQ(d->GetSkinSliderPos("SLDR_P_VOL_L"), 100);
  EXPECT_FLOAT_EQ(channelLevel(render_[0], 0), -60.0f);
  EXPECT_FLOAT_EQ(channelLevel(render_[0], 1), -60.0f);
  d->OnSkinButtonClicked("BTN_R_VOL_GANG");
  d->OnSkinSliderChanged("SLDR_R_VOL_L", 8, 0);
  EXPECT_FLOAT_EQ(channelLevel(capture_[0], 0), 0.0f);
  EXPECT_FLOAT_EQ(channelLevel(capture_[0], 1), 0.0f);
}

TEST_F(PanelEndpoints, RemovalHidesThePagesAndArrivalRebuildsThemAfterTheEndpointReturns) {
  CKestaACPLUIDlg* d = open();
  ASSERT_TRUE(d);
  ASSERT_NE(d->PlayPage(), nullptr);
  releaseAll(render_);
  releaseAll(capture_);
  vdac::setRemoved(true);
  EXPECT_TRUE(pumpUntil([&] { return d->Tray().Tip() == "N/A"; }, 3000));
  EXPECT_EQ(d->PlayPage(), nullptr);
  EXPECT_EQ(d->RecordPage(), nullptr);
  EXPECT_EQ(d->AsioPage(), nullptr);
  for (const char* const* group : {panel::kPlayRateButtons, panel::kRecordRateButtons})
    for (int i = 0; i < panel::kRateButtonCount; ++i) EXPECT_FALSE(visible(*d, group[i])) << group[i];
  for (const char* const* group : {panel::kPlayBitButtons, panel::kRecordBitButtons})
    for (int i = 0; i < panel::kBitButtonCount; ++i) EXPECT_FALSE(visible(*d, group[i])) << group[i];
  for (int i = 0; i < panel::kAsioWidthCount; ++i)
    EXPECT_FALSE(visible(*d, panel::kAsioWidthButtons[i])) << panel::kAsioWidthButtons[i];
  pump(300);

  const ULONGLONG back = ::GetTickCount64();
  vdac::setRemoved(false);
  EXPECT_EQ(d->Tray().Tip(), tess::kPanelWindowTitle);
  EXPECT_EQ(d->PlayPage(), nullptr) << "not before the endpoint has settled";
  ASSERT_TRUE(pumpUntil([&] { return d->PlayPage() != nullptr; }, 10000));
  const ULONGLONG took = ::GetTickCount64() - back;
  std::printf("pages rebuilt %llu ms after the device returned\n", static_cast<unsigned long long>(took));
  EXPECT_GE(took, 1900u);
  EXPECT_NE(d->RecordPage(), nullptr);
  EXPECT_NE(d->AsioPage(), nullptr);
  EXPECT_TRUE(visible(*d, "BTN_P_96K"));
  EXPECT_TRUE(visible(*d, "BTN_R_96K"));
  // The new bindings work: a click reaches the returned endpoint.
  render_ = dacEndpoints(eRender);
  ASSERT_EQ(render_.size(), 1u);
  d->OnSkinButtonClicked("BTN_P_16B");
  d->OnSkinButtonClicked("BTN_P_48K");
  EXPECT_TRUE(sameFormat(readFormat(render_[0], endpoint::kKeyDeviceFormat), pcm(48000, 16, endpoint::kSubtypePcm)));
}

// The same clicks on Windows 10, where three more keys are written: this program again, in a
// process that Wine presents as Windows 10 (the system's version is fixed for a process).
TEST(PanelEndpointsWindows10, FormatClicksWriteTheEngineKeysToo) {
  char self[MAX_PATH] = {};
  ASSERT_GT(::GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
  const char* base = std::strrchr(self, '\\');
  const std::string appDefaults = std::string("Software\\Wine\\AppDefaults\\") + (base ? base + 1 : self);
  const char version[] = "win10";
  ASSERT_EQ(::RegSetKeyValueA(HKEY_CURRENT_USER, appDefaults.c_str(), "Version", REG_SZ, version, sizeof version),
            ERROR_SUCCESS);
  std::string line = std::string("\"") + self +
                     "\" --gtest_filter=PanelEndpoints.FormatClicksWriteTheKeysAndOutsideChangesReachEveryCaptureEndpoint";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  const bool started = ::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
  DWORD code = 1;
  if (started) {
    EXPECT_EQ(::WaitForSingleObject(pi.hProcess, 180000), WAIT_OBJECT_0);
    ::GetExitCodeProcess(pi.hProcess, &code);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
  }
  ::RegDeleteTreeA(HKEY_CURRENT_USER, appDefaults.c_str());
  ASSERT_TRUE(started);
  EXPECT_EQ(code, 0u) << "the Windows 10 run failed (its output is above)";
}

}  // namespace
