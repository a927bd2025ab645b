// The virtual DAC's Core Audio face under Wine, driven as an exclusive-mode client
// program drives it: endpoints and their properties, the format rules, every error path
// of the audio client and its services, bit-exact streaming to the WAV file and back
// through loopback on the device clock, stall and removal, and that every COM object
// made is released.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>

#include "CaKit.h"
#include "VirtualDac.h"

using namespace cakit;
namespace vdac = tess::vdac;

namespace {

class CoreAudioTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))); }
  void use(const vdac::DacConfig& config = vdac::DacConfig{}) { ASSERT_TRUE(vdac::useVirtualDac(config)); }
  void TearDown() override {
    // Every object the test made is gone, and with it every pin its clients opened.
    EXPECT_EQ(vdac::coreAudioObjects(), 0u);
    EXPECT_EQ(vdac::counters().openHandles, 0u);
    vdac::stopUsingVirtualDac();
    CoUninitialize();
  }
};

// An exclusive event-driven stream on one of the DAC's endpoints.
struct Stream {
  Com<IAudioClient> client;
  Com<IAudioRenderClient> render;
  Com<IAudioCaptureClient> capture;
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  UINT32 frames = 0;
  UINT32 blockAlign = 0;

  ~Stream() {
    render.reset();
    capture.reset();
    client.reset();
    CloseHandle(event);
  }
  HRESULT open(EDataFlow flow, const WAVEFORMATEXTENSIBLE& f, UINT32 periodFrames) {
    Com<IMMDevice> device;
    HRESULT hr = dacEndpoint(flow, device);
    if (SUCCEEDED(hr)) hr = device->Activate(__uuidof(IAudioClient), CLSCTX_INPROC_SERVER, nullptr, client.putVoid());
    const REFERENCE_TIME d = durationOf(periodFrames, f.Format.nSamplesPerSec);
    if (SUCCEEDED(hr)) {
      hr = client->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, d, d, &f.Format, nullptr);
    }
    if (SUCCEEDED(hr)) hr = client->GetBufferSize(&frames);
    if (SUCCEEDED(hr)) hr = client->SetEventHandle(event);
    if (SUCCEEDED(hr)) hr = client->Reset();
    if (SUCCEEDED(hr) && flow == eRender) hr = client->GetService(__uuidof(IAudioRenderClient), render.putVoid());
    if (SUCCEEDED(hr) && flow == eCapture) hr = client->GetService(__uuidof(IAudioCaptureClient), capture.putVoid());
    blockAlign = f.Format.nBlockAlign;
    return hr;
  }
  // Writes one period from src (or silence); the HRESULT of the first failing call.
  HRESULT write(const uint8_t* src) {
    BYTE* data = nullptr;
    HRESULT hr = render->GetBuffer(frames, &data);
    if (FAILED(hr)) return hr;
    if (src) std::memcpy(data, src, size_t{frames} * blockAlign);
    return render->ReleaseBuffer(frames, src ? 0 : AUDCLNT_BUFFERFLAGS_SILENT);
  }
  // Appends every recorded period to out.
  void drain(std::vector<uint8_t>& out) {
    BYTE* data = nullptr;
    UINT32 n = 0;
    DWORD flags = 0;
    while (capture->GetBuffer(&data, &n, &flags, nullptr, nullptr) == S_OK) {
      out.insert(out.end(), data, data + size_t{n} * blockAlign);
      capture->ReleaseBuffer(n);
    }
  }
};

// A signal of distinct, never-silent samples; within 32-bit containers of 24 valid bits
// the low byte stays 0, as the format says.
std::vector<uint8_t> pattern(size_t frames, const WAVEFORMATEXTENSIBLE& f) {
  const size_t sampleBytes = f.Format.wBitsPerSample / 8;
  std::vector<uint8_t> out(frames * f.Format.nBlockAlign);
  for (size_t s = 0; s < frames * f.Format.nChannels; ++s) {
    uint32_t v = static_cast<uint32_t>((s + 1) * 2654435761u) | 0x00010101u;
    if (f.Format.wBitsPerSample == 32 && f.Samples.wValidBitsPerSample == 24) v &= 0xFFFFFF00u;
    std::memcpy(&out[s * sampleBytes], &v, sampleBytes);
  }
  return out;
}

// The frames that are not silence. The signal has no silent frame, so this is what was
// sent, wherever the device played or recorded silence around it: before the stream,
// after it, and for a period this thread was too late to feed (a loaded machine).
std::vector<uint8_t> heardFrames(const uint8_t* bytes, size_t size, size_t frame) {
  std::vector<uint8_t> heard;
  for (size_t i = 0; i + frame <= size; i += frame) {
    if (std::any_of(bytes + i, bytes + i + frame, [](uint8_t b) { return b != 0; })) {
      heard.insert(heard.end(), bytes + i, bytes + i + frame);
    }
  }
  return heard;
}

std::vector<uint8_t> fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST_F(CoreAudioTest, ListsTheDacBesideOtherDevicesWithItsHardwarePath) {
  vdac::DacConfig config;
  vdac::AudioDeviceSpec webcam;  // another maker's USB audio device, listed first
  webcam.friendlyName = "Webcam Microphone";
  vdac::AudioDeviceSpec sibling;  // the other product of the table, listed after the DAC
  sibling.vendorId = 0x1209;
  sibling.productId = 0x0008;
  sibling.listBeforeDac = false;
  config.otherAudioDevices = {webcam, sibling};
  use(config);

  const std::vector<EndpointInfo> render = listEndpoints(eRender);
  ASSERT_EQ(render.size(), 4u);
  EXPECT_EQ(render[0].friendlyName, L"Speakers (High Definition Audio Device)");
  EXPECT_EQ(render[0].hardwarePath.rfind(L"{1}.HDAUDIO\\FUNC_01&VEN_10EC", 0), 0u);
  EXPECT_EQ(render[1].hardwarePath.rfind(L"{1}.USB\\VID_046D&PID_0A44&MI_01\\", 0), 0u);
  EXPECT_EQ(render[1].friendlyName, L"Speakers (Webcam Microphone)");
  EXPECT_EQ(render[2].hardwarePath, L"{1}.USB\\VID_1209&PID_0007&MI_01\\6&2C4A6E5B&0&0001");
  EXPECT_EQ(render[2].friendlyName, L"Speakers (Tessaline USB 2.0 Audio)");
  EXPECT_EQ(render[2].state, static_cast<DWORD>(DEVICE_STATE_ACTIVE));
  EXPECT_EQ(render[3].hardwarePath.find(L"PID_0007"), std::wstring::npos);
  for (size_t i = 0; i < render.size(); ++i) {
    EXPECT_EQ(render[i].id.rfind(L"{0.0.0.00000000}.{", 0), 0u);
    for (size_t j = 0; j < i; ++j) EXPECT_NE(render[i].id, render[j].id);
  }
  const std::vector<EndpointInfo> capture = listEndpoints(eCapture);
  ASSERT_EQ(capture.size(), 4u);
  EXPECT_EQ(capture[2].friendlyName, L"Line (Tessaline USB 2.0 Audio)");
  EXPECT_EQ(capture[2].id.rfind(L"{0.0.1.00000000}.{", 0), 0u);
  EXPECT_EQ(listEndpoints(eAll).size(), 8u);

  // An endpoint found again by its id; the data flow it reports.
  Com<IMMDeviceEnumerator> e;
  ASSERT_EQ(enumerator(e), S_OK);
  Com<IMMDevice> device;
  ASSERT_EQ(e->GetDevice(capture[2].id.c_str(), device.put()), S_OK);
  Com<IMMEndpoint> endpoint;
  ASSERT_EQ(device->QueryInterface(__uuidof(IMMEndpoint), endpoint.putVoid()), S_OK);
  EDataFlow flow = eRender;
  EXPECT_EQ(endpoint->GetDataFlow(&flow), S_OK);
  EXPECT_EQ(flow, eCapture);
  EXPECT_EQ(e->GetDevice(L"{0.0.0.00000000}.{nothing}", device.put()), HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
  Com<IMMDeviceCollection> collection;
  EXPECT_EQ(e->EnumAudioEndpoints(eRender, 0, collection.put()), E_INVALIDARG);
  EXPECT_EQ(e->EnumAudioEndpoints(static_cast<EDataFlow>(7), DEVICE_STATE_ACTIVE, collection.put()), E_INVALIDARG);
  ASSERT_EQ(e->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, collection.put()), S_OK);
  EXPECT_EQ(collection->Item(4, device.put()), E_INVALIDARG);

  // Other classes still reach the system's CoCreateInstance.
  Com<IUnknown> unknown;
  EXPECT_EQ(tess::devices().coCreateInstance(GUID{0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}}, nullptr,
                                             CLSCTX_INPROC_SERVER, IID_IUnknown, unknown.putVoid()),
            REGDB_E_CLASSNOTREG);
}

TEST_F(CoreAudioTest, RenderOnlyDeviceAndNoEndpointsAtAll) {
  vdac::DacConfig config;
  config.renderOnly = true;
  use(config);
  Com<IMMDevice> device;
  EXPECT_EQ(dacEndpoint(eRender, device), S_OK);
  EXPECT_EQ(dacEndpoint(eCapture, device), E_FAIL);

  config.renderOnly = false;
  config.coreAudio.endpoints = false;
  config.coreAudio.onboardEndpoints = false;
  use(config);
  EXPECT_TRUE(listEndpoints(eAll).empty());
}

TEST_F(CoreAudioTest, PropertyStoreReadsAndPersistsWrites) {
  use();
  Com<IMMDevice> device;
  ASSERT_EQ(dacEndpoint(eRender, device), S_OK);
  Com<IPropertyStore> reader, writer;
  ASSERT_EQ(device->OpenPropertyStore(STGM_READ, reader.put()), S_OK);
  EXPECT_EQ(device->OpenPropertyStore(0x1000, writer.put()), E_INVALIDARG);
  PROPVARIANT value;
  PropVariantInit(&value);
  ASSERT_EQ(reader->GetValue(kDeviceFormat, &value), S_OK);
  ASSERT_EQ(value.vt, VT_BLOB);
  ASSERT_EQ(value.blob.cbSize, 40u);
  WAVEFORMATEXTENSIBLE stored;
  std::memcpy(&stored, value.blob.pBlobData, 40);
  EXPECT_EQ(stored.Format.wFormatTag, WAVE_FORMAT_EXTENSIBLE);
  EXPECT_EQ(stored.Format.nSamplesPerSec, 48000u);
  PropVariantClear(&value);
  EXPECT_EQ(reader->SetValue(kDeviceFormat, value), STG_E_ACCESSDENIED);

  // A write through one store is what every later store reads.
  WAVEFORMATEXTENSIBLE f = pcm(96000, 24, 24);
  PROPVARIANT blob;
  PropVariantInit(&blob);
  blob.vt = VT_BLOB;
  blob.blob.cbSize = 40;
  blob.blob.pBlobData = reinterpret_cast<BYTE*>(&f);
  ASSERT_EQ(device->OpenPropertyStore(STGM_READWRITE, writer.put()), S_OK);
  EXPECT_EQ(writer->SetValue(kDeviceFormat, blob), S_OK);
  PROPVARIANT wrongType;
  PropVariantInit(&wrongType);
  wrongType.vt = VT_R8;
  EXPECT_EQ(writer->SetValue(kDeviceFormat, wrongType), E_INVALIDARG);
  Com<IMMDevice> again;
  ASSERT_EQ(dacEndpoint(eRender, again), S_OK);
  Com<IPropertyStore> later;
  ASSERT_EQ(again->OpenPropertyStore(STGM_READ, later.put()), S_OK);
  ASSERT_EQ(later->GetValue(kDeviceFormat, &value), S_OK);
  ASSERT_EQ(value.vt, VT_BLOB);
  EXPECT_EQ(std::memcmp(value.blob.pBlobData, &f, 40), 0);
  PropVariantClear(&value);
  // A key never written reads as empty.
  ASSERT_EQ(later->GetValue(PROPERTYKEY{kDeviceFormat.fmtid, 77}, &value), S_OK);
  EXPECT_EQ(value.vt, VT_EMPTY);
}

TEST_F(CoreAudioTest, ExclusiveFormatsFollowTheShape) {
  struct Case {
    bool packed24;
    DWORD rate;
    WORD container, valid;
    HRESULT render, capture;
  };
  const HRESULT kNo = AUDCLNT_E_UNSUPPORTED_FORMAT;
  const Case cases[] = {
      {true, 44100, 16, 16, S_OK, S_OK},       {true, 96000, 24, 24, S_OK, S_OK},
      {true, 48000, 32, 24, S_OK, S_OK},       {true, 384000, 32, 32, S_OK, kNo},  // capture refuses 384000
      {true, 352800, 32, 32, S_OK, S_OK},      {true, 22050, 16, 16, kNo, kNo},    // below the range
      {true, 48000, 24, 16, kNo, kNo},         {true, 48000, 8, 8, kNo, kNo},
      {false, 96000, 24, 24, kNo, kNo},        {false, 96000, 32, 24, S_OK, S_OK},  // the USB 24-in-32 shape
      {false, 192000, 16, 16, S_OK, S_OK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "packed24 " << c.packed24 << ", " << c.rate << " Hz, " << c.container << "/"
                                    << c.valid);
    vdac::DacConfig config;
    config.coreAudio.packed24 = c.packed24;
    config.coreAudio.captureRefusedRates = {384000};
    use(config);
    for (EDataFlow flow : {eRender, eCapture}) {
      Com<IMMDevice> device;
      ASSERT_EQ(dacEndpoint(flow, device), S_OK);
      Com<IAudioClient> client;
      ASSERT_EQ(device->Activate(__uuidof(IAudioClient), CLSCTX_INPROC_SERVER, nullptr, client.putVoid()), S_OK);
      const WAVEFORMATEXTENSIBLE f = pcm(c.rate, c.container, c.valid);
      EXPECT_EQ(client->IsFormatSupported(AUDCLNT_SHAREMODE_EXCLUSIVE, &f.Format, nullptr),
                flow == eRender ? c.render : c.capture);
    }
  }

  Com<IMMDevice> device;
  ASSERT_EQ(dacEndpoint(eRender, device), S_OK);
  Com<IAudioClient> client;
  ASSERT_EQ(device->Activate(__uuidof(IAudioClient), CLSCTX_INPROC_SERVER, nullptr, client.putVoid()), S_OK);
  // Inconsistent records and channel counts other than the device's.
  WAVEFORMATEXTENSIBLE f = pcm(48000, 24, 24);
  f.Format.nAvgBytesPerSec += 1;
  EXPECT_EQ(client->IsFormatSupported(AUDCLNT_SHAREMODE_EXCLUSIVE, &f.Format, nullptr), AUDCLNT_E_UNSUPPORTED_FORMAT);
  f = pcm(48000, 24, 24, 6);
  EXPECT_EQ(client->IsFormatSupported(AUDCLNT_SHAREMODE_EXCLUSIVE, &f.Format, nullptr), AUDCLNT_E_UNSUPPORTED_FORMAT);
  f = pcm(48000, 32, 32);
  f.SubFormat.Data1 = 3;  // float
  EXPECT_EQ(client->IsFormatSupported(AUDCLNT_SHAREMODE_EXCLUSIVE, &f.Format, nullptr), AUDCLNT_E_UNSUPPORTED_FORMAT);
  EXPECT_EQ(client->IsFormatSupported(AUDCLNT_SHAREMODE_EXCLUSIVE, nullptr, nullptr), E_POINTER);

  // The mix format is extensible 32-bit float; shared mode answers with it.
  WAVEFORMATEX* mix = nullptr;
  ASSERT_EQ(client->GetMixFormat(&mix), S_OK);
  ASSERT_EQ(mix->wFormatTag, WAVE_FORMAT_EXTENSIBLE);
  ASSERT_GE(mix->cbSize, 22);
  EXPECT_EQ(reinterpret_cast<WAVEFORMATEXTENSIBLE*>(mix)->SubFormat.Data1, 3u);
  EXPECT_EQ(mix->wBitsPerSample, 32);
  WAVEFORMATEX* closest = reinterpret_cast<WAVEFORMATEX*>(1);
  EXPECT_EQ(client->IsFormatSupported(AUDCLNT_SHAREMODE_SHARED, mix, &closest), S_OK);
  EXPECT_EQ(closest, nullptr);
  const WAVEFORMATEXTENSIBLE integer = pcm(48000, 16, 16);
  EXPECT_EQ(client->IsFormatSupported(AUDCLNT_SHAREMODE_SHARED, &integer.Format, &closest), S_FALSE);
  ASSERT_NE(closest, nullptr);
  EXPECT_EQ(std::memcmp(closest, mix, 40), 0);
  CoTaskMemFree(closest);
  CoTaskMemFree(mix);

  REFERENCE_TIME defaultPeriod = 0, minimumPeriod = 0;
  EXPECT_EQ(client->GetDevicePeriod(&defaultPeriod, &minimumPeriod), S_OK);
  EXPECT_EQ(defaultPeriod, 100000);
  EXPECT_EQ(minimumPeriod, 10000);
}

TEST_F(CoreAudioTest, ClientAndServicesFollowThePlatformsRules) {
  vdac::DacConfig config;
  use(config);
  const WAVEFORMATEXTENSIBLE f = pcm(48000, 24, 24);
  const REFERENCE_TIME d = durationOf(480, 48000);
  Com<IMMDevice> device;
  ASSERT_EQ(dacEndpoint(eRender, device), S_OK);
  Com<IAudioClient> fresh;
  ASSERT_EQ(device->Activate(__uuidof(IAudioClient), CLSCTX_INPROC_SERVER, nullptr, fresh.putVoid()), S_OK);
  Com<IUnknown> unknown;
  EXPECT_EQ(device->Activate(__uuidof(IMMDeviceEnumerator), CLSCTX_INPROC_SERVER, nullptr, unknown.putVoid()),
            E_NOINTERFACE);
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  UINT32 frames = 0;
  const DWORD event_ = AUDCLNT_STREAMFLAGS_EVENTCALLBACK;
  const auto init = [&](AUDCLNT_SHAREMODE mode, DWORD flags, REFERENCE_TIME duration, REFERENCE_TIME period,
                        const WAVEFORMATEX* format) {
    return fresh->Initialize(mode, flags, duration, period, format, nullptr);
  };
  const WAVEFORMATEXTENSIBLE refused = pcm(48000, 24, 16);
  struct Step {
    const char* what;
    std::function<HRESULT()> call;
    HRESULT expected;
  };
  const Step beforeInit[] = {
      {"GetBufferSize", [&] { return fresh->GetBufferSize(&frames); }, AUDCLNT_E_NOT_INITIALIZED},
      {"SetEventHandle", [&] { return fresh->SetEventHandle(event); }, AUDCLNT_E_NOT_INITIALIZED},
      {"Start", [&] { return fresh->Start(); }, AUDCLNT_E_NOT_INITIALIZED},
      {"Stop", [&] { return fresh->Stop(); }, AUDCLNT_E_NOT_INITIALIZED},
      {"Reset", [&] { return fresh->Reset(); }, AUDCLNT_E_NOT_INITIALIZED},
      {"GetService", [&] { return fresh->GetService(__uuidof(IAudioRenderClient), unknown.putVoid()); },
       AUDCLNT_E_NOT_INITIALIZED},
      {"shared mode", [&] { return init(AUDCLNT_SHAREMODE_SHARED, event_, d, d, &f.Format); },
       AUDCLNT_E_EXCLUSIVE_MODE_ONLY},
      {"share mode 2", [&] { return init(static_cast<AUDCLNT_SHAREMODE>(2), event_, d, d, &f.Format); }, E_INVALIDARG},
      {"unknown flag", [&] { return init(AUDCLNT_SHAREMODE_EXCLUSIVE, event_ | 0x1, d, d, &f.Format); }, E_INVALIDARG},
      {"timer-driven", [&] { return init(AUDCLNT_SHAREMODE_EXCLUSIVE, 0, d, d, &f.Format); }, E_INVALIDARG},
      {"no format", [&] { return init(AUDCLNT_SHAREMODE_EXCLUSIVE, event_, d, d, nullptr); }, E_POINTER},
      {"format refused", [&] { return init(AUDCLNT_SHAREMODE_EXCLUSIVE, event_, d, d, &refused.Format); },
       AUDCLNT_E_UNSUPPORTED_FORMAT},
      {"duration not periodicity", [&] { return init(AUDCLNT_SHAREMODE_EXCLUSIVE, event_, 2 * d, d, &f.Format); },
       AUDCLNT_E_BUFDURATION_PERIOD_NOT_EQUAL},
      {"period too short", [&] { return init(AUDCLNT_SHAREMODE_EXCLUSIVE, event_, 5000, 5000, &f.Format); },
       AUDCLNT_E_INVALID_DEVICE_PERIOD},
      {"period too long", [&] { return init(AUDCLNT_SHAREMODE_EXCLUSIVE, event_, 6'000'000, 6'000'000, &f.Format); },
       AUDCLNT_E_INVALID_DEVICE_PERIOD},
      {"Initialize", [&] { return init(AUDCLNT_SHAREMODE_EXCLUSIVE, event_, d, d, &f.Format); }, S_OK},
      {"second Initialize", [&] { return init(AUDCLNT_SHAREMODE_EXCLUSIVE, event_, d, d, &f.Format); },
       AUDCLNT_E_ALREADY_INITIALIZED},
      {"Start without event", [&] { return fresh->Start(); }, AUDCLNT_E_EVENTHANDLE_NOT_SET},
      {"null event", [&] { return fresh->SetEventHandle(nullptr); }, E_INVALIDARG},
      {"capture service", [&] { return fresh->GetService(__uuidof(IAudioCaptureClient), unknown.putVoid()); },
       AUDCLNT_E_WRONG_ENDPOINT_TYPE},
      {"clock service", [&] { return fresh->GetService(__uuidof(IAudioClock), unknown.putVoid()); }, E_NOINTERFACE},
      {"Stop when stopped", [&] { return fresh->Stop(); }, S_FALSE},
  };
  for (const Step& step : beforeInit) EXPECT_EQ(step.call(), step.expected) << step.what;
  EXPECT_EQ(fresh->GetBufferSize(&frames), S_OK);
  EXPECT_EQ(frames, 480u);

  // A second stream on the endpoint finds the device in use.
  Stream second;
  EXPECT_EQ(second.open(eRender, f, 480), AUDCLNT_E_DEVICE_IN_USE);
  fresh.reset();
  second.client.reset();

  Stream s;
  ASSERT_EQ(s.open(eRender, f, 480), S_OK);
  BYTE* data = nullptr;
  const Step buffers[] = {
      {"release without get", [&] { return s.render->ReleaseBuffer(480, 0); }, AUDCLNT_E_OUT_OF_ORDER},
      {"get other than the period", [&] { return s.render->GetBuffer(479, &data); }, AUDCLNT_E_BUFFER_SIZE_ERROR},
      {"get", [&] { return s.render->GetBuffer(480, &data); }, S_OK},
      {"get twice", [&] { return s.render->GetBuffer(480, &data); }, AUDCLNT_E_OUT_OF_ORDER},
      {"release more than got", [&] { return s.render->ReleaseBuffer(481, 0); }, AUDCLNT_E_INVALID_SIZE},
      {"release part", [&] { return s.render->ReleaseBuffer(240, 0); }, AUDCLNT_E_BUFFER_SIZE_ERROR},
      {"release unknown flag", [&] { return s.render->ReleaseBuffer(480, 0x8); }, E_INVALIDARG},
      {"release nothing", [&] { return s.render->ReleaseBuffer(0, 0); }, S_OK},
      {"prefill", [&] { return s.write(nullptr); }, S_OK},
      {"second prefill", [&] { return s.render->GetBuffer(480, &data); }, AUDCLNT_E_BUFFER_TOO_LARGE},
      {"Start", [&] { return s.client->Start(); }, S_OK},
      {"Start again", [&] { return s.client->Start(); }, AUDCLNT_E_NOT_STOPPED},
      {"Reset while running", [&] { return s.client->Reset(); }, AUDCLNT_E_NOT_STOPPED},
      {"Stop", [&] { return s.client->Stop(); }, S_OK},
      {"period still waiting", [&] { return s.render->GetBuffer(480, &data); }, AUDCLNT_E_BUFFER_TOO_LARGE},
      {"Reset drops it", [&] { return s.client->Reset(); }, S_OK},
      {"get to hold", [&] { return s.render->GetBuffer(480, &data); }, S_OK},
      {"Reset while held", [&] { return s.client->Reset(); }, AUDCLNT_E_BUFFER_OPERATION_PENDING},
      {"release held", [&] { return s.render->ReleaseBuffer(480, 0); }, S_OK},
      {"Reset", [&] { return s.client->Reset(); }, S_OK},
  };
  for (const Step& step : buffers) EXPECT_EQ(step.call(), step.expected) << step.what;
  UINT32 padding = 1;
  EXPECT_EQ(s.client->GetCurrentPadding(&padding), S_OK);
  EXPECT_EQ(padding, 0u);  // Reset dropped what was written

  Stream c;
  ASSERT_EQ(c.open(eCapture, f, 480), S_OK);
  UINT32 n = 0;
  DWORD flags = 0;
  EXPECT_EQ(c.capture->ReleaseBuffer(0), AUDCLNT_E_OUT_OF_ORDER);
  EXPECT_EQ(c.capture->GetBuffer(&data, &n, &flags, nullptr, nullptr), AUDCLNT_S_BUFFER_EMPTY);
  EXPECT_EQ(c.capture->GetNextPacketSize(&n), S_OK);
  EXPECT_EQ(n, 0u);
  ASSERT_EQ(c.client->Start(), S_OK);
  ASSERT_EQ(WaitForSingleObject(c.event, 10000), WAIT_OBJECT_0);
  ASSERT_EQ(c.capture->GetBuffer(&data, &n, &flags, nullptr, nullptr), S_OK);
  EXPECT_EQ(n, 480u);
  EXPECT_EQ(c.capture->GetBuffer(&data, &n, &flags, nullptr, nullptr), AUDCLNT_E_OUT_OF_ORDER);
  EXPECT_EQ(c.capture->ReleaseBuffer(100), AUDCLNT_E_INVALID_SIZE);
  EXPECT_EQ(c.capture->ReleaseBuffer(480), S_OK);
  EXPECT_EQ(c.client->Stop(), S_OK);
  CloseHandle(event);
}

TEST_F(CoreAudioTest, BufferMayDifferFromThePeriodAskedFor) {
  vdac::DacConfig config;
  config.coreAudio.bufferFramesExtra = 7;
  use(config);
  Stream s;
  ASSERT_EQ(s.open(eRender, pcm(44100, 16, 16), 441), S_OK);
  EXPECT_EQ(s.frames, 448u);
  BYTE* data = nullptr;
  EXPECT_EQ(s.render->GetBuffer(441, &data), AUDCLNT_E_BUFFER_SIZE_ERROR);
  EXPECT_EQ(s.write(nullptr), S_OK);
}

namespace {

struct RoundTrip {
  bool packed24;
  DWORD rate;
  WORD container, valid;
  UINT32 frames;  // per period
};

class CoreAudioRoundTrip : public CoreAudioTest, public testing::WithParamInterface<RoundTrip> {};

}  // namespace

// Capture starts, then render, as a host's engine does; what is written plays on the
// device clock into the WAV file and comes back through loopback, bit for bit.
TEST_P(CoreAudioRoundTrip, PlaysToTheWavFileAndLoopsBackBitExact) {
  const RoundTrip p = GetParam();
  const std::string wav = testing::TempDir() + "vdac_coreaudio_test.wav";
  vdac::DacConfig config;
  config.coreAudio.packed24 = p.packed24;
  config.loopback = true;
  config.wavPath = wav;
  use(config);
  const WAVEFORMATEXTENSIBLE f = pcm(p.rate, p.container, p.valid);
  Stream render, capture;
  ASSERT_EQ(capture.open(eCapture, f, p.frames), S_OK);
  ASSERT_EQ(render.open(eRender, f, p.frames), S_OK);
  ASSERT_EQ(render.frames, p.frames);

  const size_t periods = 40;
  const std::vector<uint8_t> sent = pattern(periods * p.frames, f);
  const size_t periodBytes = size_t{p.frames} * f.Format.nBlockAlign;
  size_t written = 0;
  std::vector<uint8_t> got;
  ASSERT_EQ(render.write(sent.data()), S_OK);  // the period written before Start
  ++written;
  const DWORD t0 = GetTickCount();
  ASSERT_EQ(capture.client->Start(), S_OK);
  ASSERT_EQ(render.client->Start(), S_OK);
  uint32_t renderEvents = 0;
  // Render until everything is sent, then record until it is all back.
  const size_t frame = f.Format.nBlockAlign;
  // (A capture client starved for longer than the device buffers loses periods, as on
  // real hardware: then the loop ends by time.)
  while (heardFrames(got.data(), got.size(), frame).size() < sent.size() && GetTickCount() - t0 < 20000) {
    HANDLE events[] = {render.event, capture.event};
    const DWORD w = WaitForMultipleObjects(2, events, FALSE, 10000);
    ASSERT_NE(w, static_cast<DWORD>(WAIT_TIMEOUT)) << "the device clock stopped";
    if (w == WAIT_OBJECT_0) ++renderEvents;
    while (written < periods) {
      const HRESULT hr = render.write(sent.data() + written * periodBytes);
      if (hr == AUDCLNT_E_BUFFER_TOO_LARGE) break;
      ASSERT_EQ(hr, S_OK);
      ++written;
    }
    if (written == periods) {
      // Keep the device fed with silence while the rest comes back.
      while (render.write(nullptr) == S_OK) {
      }
    }
    capture.drain(got);
  }
  const DWORD elapsed = GetTickCount() - t0;
  ASSERT_EQ(render.client->Stop(), S_OK);
  ASSERT_EQ(capture.client->Stop(), S_OK);

  // The device's clock paces the events: the periods cannot have played faster than real
  // time (a starved test thread only makes it slower).
  EXPECT_GE(uint64_t{elapsed} + 20, uint64_t{periods - 1} * p.frames * 1000 / p.rate);
  std::printf("%lu Hz %u/%u, %u frames: %zu periods in %lu ms, %u render events\n", p.rate, p.container, p.valid,
              p.frames, periods, elapsed, renderEvents);

  const std::vector<uint8_t> played = vdac::playedBytes(vdac::kRenderPinId);
  EXPECT_TRUE(heardFrames(played.data(), played.size(), frame) == sent) << "played";
  const vdac::PinStats stats = vdac::pinStats(vdac::kRenderPinId);
  EXPECT_EQ(stats.format.bitsPerSample, p.container);
  EXPECT_EQ(stats.format.validBits, p.valid);
  EXPECT_EQ(stats.format.sampleRate, p.rate);

  // Loopback: what was sent, in order, bit for bit (unless this thread starved the
  // capture stream).
  const std::vector<uint8_t> heard = heardFrames(got.data(), got.size(), frame);
  if (vdac::pinStats(vdac::kCapturePinId).periodsMissed == 0) {
    EXPECT_TRUE(heard == sent) << "looped back: " << heard.size() << " of " << sent.size() << " bytes";
  } else {
    std::printf("capture was starved; loopback not compared\n");
  }

  render.client.reset();  // closes the pin, which completes the WAV file
  render.render.reset();
  const std::vector<uint8_t> file = fileBytes(wav);
  const size_t header = file.size() >= 44 && file[20] == 0xFE && file[21] == 0xFF ? 68 : 44;
  ASSERT_GE(file.size(), header + sent.size());
  EXPECT_TRUE(heardFrames(file.data() + header, file.size() - header, frame) == sent) << "WAV";
  DeleteFileA(wav.c_str());
}

INSTANTIATE_TEST_SUITE_P(Formats, CoreAudioRoundTrip,
                         testing::Values(RoundTrip{true, 44100, 16, 16, 441}, RoundTrip{true, 96000, 24, 24, 960},
                                         RoundTrip{false, 48000, 32, 24, 480}, RoundTrip{true, 384000, 32, 32, 1920}));

TEST_F(CoreAudioTest, StallStopsTheEventsAndRemovalInvalidatesTheStream) {
  use();
  const WAVEFORMATEXTENSIBLE f = pcm(48000, 24, 24);
  Stream render, capture;
  ASSERT_EQ(capture.open(eCapture, f, 480), S_OK);
  ASSERT_EQ(render.open(eRender, f, 480), S_OK);
  ASSERT_EQ(render.write(nullptr), S_OK);
  ASSERT_EQ(capture.client->Start(), S_OK);
  ASSERT_EQ(render.client->Start(), S_OK);
  std::vector<uint8_t> got;
  const auto serve = [&](int events) {
    for (int i = 0; i < events; ++i) {
      HANDLE hs[] = {render.event, capture.event};
      if (WaitForMultipleObjects(2, hs, FALSE, 10000) == WAIT_TIMEOUT) return false;
      while (render.write(nullptr) == S_OK) {
      }
      capture.drain(got);
    }
    return true;
  };
  ASSERT_TRUE(serve(5));

  // A stalled device completes nothing: no event comes.
  vdac::setStalled(true);
  ResetEvent(render.event);
  ResetEvent(capture.event);
  HANDLE both[] = {render.event, capture.event};
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 300), static_cast<DWORD>(WAIT_TIMEOUT));
  vdac::setStalled(false);
  EXPECT_TRUE(serve(5));

  // Removal: the pending periods end (waking the client), and every call fails from then
  // on, also once the device is back.
  vdac::setRemoved(true);
  EXPECT_EQ(WaitForSingleObject(render.event, 10000), WAIT_OBJECT_0);
  BYTE* data = nullptr;
  UINT32 n = 0;
  DWORD flags = 0;
  EXPECT_EQ(render.render->GetBuffer(480, &data), AUDCLNT_E_DEVICE_INVALIDATED);
  EXPECT_EQ(capture.capture->GetBuffer(&data, &n, &flags, nullptr, nullptr), AUDCLNT_E_DEVICE_INVALIDATED);
  EXPECT_EQ(render.client->Stop(), AUDCLNT_E_DEVICE_INVALIDATED);
  EXPECT_EQ(render.client->Reset(), AUDCLNT_E_DEVICE_INVALIDATED);
  EXPECT_EQ(capture.client->GetCurrentPadding(&n), AUDCLNT_E_DEVICE_INVALIDATED);
  WAVEFORMATEX* mix = nullptr;
  EXPECT_EQ(render.client->GetMixFormat(&mix), AUDCLNT_E_DEVICE_INVALIDATED);

  // The endpoints are unplugged: out of the active lists, refused for activation.
  for (const EndpointInfo& e : listEndpoints(eAll)) EXPECT_EQ(e.hardwarePath.find(L"PID_0007"), std::wstring::npos);
  const std::vector<EndpointInfo> all = listEndpoints(eRender, DEVICE_STATEMASK_ALL);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[1].state, static_cast<DWORD>(DEVICE_STATE_UNPLUGGED));
  Com<IMMDeviceEnumerator> e;
  ASSERT_EQ(enumerator(e), S_OK);
  Com<IMMDevice> unplugged;
  ASSERT_EQ(e->GetDevice(all[1].id.c_str(), unplugged.put()), S_OK);
  Com<IAudioClient> refused;
  EXPECT_EQ(unplugged->Activate(__uuidof(IAudioClient), CLSCTX_INPROC_SERVER, nullptr, refused.putVoid()),
            AUDCLNT_E_DEVICE_INVALIDATED);

  vdac::setRemoved(false);
  EXPECT_EQ(render.client->Start(), AUDCLNT_E_DEVICE_INVALIDATED);
  render.render.reset();
  render.client.reset();
  Stream fresh;  // the returned device streams again once the old stream is released
  EXPECT_EQ(fresh.open(eRender, f, 480), S_OK);
}

TEST_F(CoreAudioTest, ObjectsOutliveTheDevice) {
  use();
  Stream s;
  ASSERT_EQ(s.open(eRender, pcm(48000, 16, 16), 480), S_OK);
  Com<IMMDevice> device;
  ASSERT_EQ(dacEndpoint(eRender, device), S_OK);
  vdac::uninstall();
  EXPECT_EQ(s.client->Start(), AUDCLNT_E_DEVICE_INVALIDATED);
  EXPECT_EQ(s.write(nullptr), AUDCLNT_E_DEVICE_INVALIDATED);
  DWORD state = 0;
  EXPECT_EQ(device->GetState(&state), S_OK);
  EXPECT_EQ(state, static_cast<DWORD>(DEVICE_STATE_UNPLUGGED));
  // A device installed again is a new device: the old objects stay gone.
  use();
  EXPECT_EQ(s.client->Start(), AUDCLNT_E_DEVICE_INVALIDATED);
  Stream fresh;
  EXPECT_EQ(fresh.open(eRender, pcm(48000, 16, 16), 480), S_OK);
}
