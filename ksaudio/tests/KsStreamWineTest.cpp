// Pin creation, state steps, reset and streaming against the virtual DAC's clock.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

#include "KsWineFixture.h"

namespace kstest {
namespace {

using tess::vdac::DacConfig;

// Eight packets of one pin, each with its header, buffer, OVERLAPPED and auto-reset event.
struct Packets {
  static constexpr int kCount = 8;
  KSSTREAM_HEADER headers[kCount] = {};
  OVERLAPPED overlapped[kCount] = {};
  HANDLE events[kCount] = {};
  std::vector<BYTE> data[kCount];

  explicit Packets(ULONG bytes) {
    for (int i = 0; i < kCount; ++i) {
      events[i] = CreateEventA(nullptr, FALSE, FALSE, nullptr);
      data[i].assign(bytes, static_cast<BYTE>(i));
    }
  }
  ~Packets() {
    for (HANDLE e : events)
      if (e) CloseHandle(e);
  }
  void Prepare(int i, bool write) {
    KSSTREAM_HEADER& h = headers[i];
    h = {};
    h.Size = sizeof h;
    h.Data = data[i].data();
    h.FrameExtent = static_cast<ULONG>(data[i].size());
    h.DataUsed = write ? h.FrameExtent : 0;
    h.PresentationTime.Numerator = 1;
    h.PresentationTime.Denominator = 1;
    overlapped[i] = {};
    overlapped[i].hEvent = events[i];
  }
};

struct OpenedPin {
  std::unique_ptr<CKsAudRenFilter> filter;
  CKsAudPin* pin = nullptr;
};

OpenedPin OpenPlayback(const std::string& path, HRESULT* hr) {
  OpenedPin opened;
  opened.filter.reset(new CKsAudRenFilter(path.c_str(), "DAC", hr));
  if (SUCCEEDED(*hr)) *hr = opened.filter->Instantiate();
  if (SUCCEEDED(*hr)) *hr = opened.filter->EnumeratePins();
  if (SUCCEEDED(*hr)) opened.pin = static_cast<CKsAudPin*>(opened.filter->m_listInSinkPins.GetHead()->pItem);
  return opened;
}

HRESULT StepTo(CKsPin* pin, KSSTATE from, KSSTATE to) {
  int step = to > from ? 1 : -1;
  for (int s = from + step;; s += step) {
    HRESULT hr = pin->SetState(static_cast<KSSTATE>(s));
    if (FAILED(hr) || s == to) return hr;
  }
}

TEST_F(KsWineTest, PinCreatedWithExtensibleFormatStreamsAtTheRealTimeRate) {
  Use();
  std::string path;
  ASSERT_TRUE(FindDac(&path));
  HRESULT hr = S_OK;
  OpenedPin opened = OpenPlayback(path, &hr);
  ASSERT_EQ(hr, S_OK);
  CKsAudPin* pin = opened.pin;

  // The connect record takes the extensible format: 40 bytes after the data format.
  const DWORD rate = 48000;
  WAVEFORMATEXTENSIBLE format = ExtensibleFormat(2, 24, rate);
  ASSERT_EQ(pin->SetFormat(&format.Format), S_OK);
  EXPECT_EQ(pin->m_cbPinCreate, sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT) + 40);
  EXPECT_EQ(pin->m_pksDataFormatWfx->FormatSize, 104u);
  EXPECT_EQ(pin->m_pksDataFormatWfx->SampleSize, 6u);
  ASSERT_NE(pin->GetFormat(), nullptr);
  EXPECT_EQ(pin->GetFormat()->cbSize, 22);

  ASSERT_EQ(pin->Instantiate(FALSE), S_OK);
  ASSERT_TRUE(CKsIrpTarget::IsValidHandle(pin->GetHandle()));
  EXPECT_EQ(pin->Reset(), S_OK);
  ASSERT_EQ(StepTo(pin, KSSTATE_STOP, KSSTATE_RUN), S_OK);
  tess::vdac::PinStats stats = tess::vdac::pinStats(tess::vdac::kRenderPinId);
  EXPECT_TRUE(stats.open);
  EXPECT_EQ(stats.state, static_cast<uint32_t>(KSSTATE_RUN));
  EXPECT_EQ(stats.format.sampleRate, rate);

  // 10 ms packets, eight in flight, each queued again as it completes.
  const ULONG frames = rate / 100;
  Packets packets(frames * 6);
  for (int i = 0; i < Packets::kCount; ++i) {
    packets.Prepare(i, true);
    ASSERT_EQ(pin->WriteData(&packets.headers[i], &packets.overlapped[i]), S_OK);
  }
  const int kTotal = 100;
  int completed = 0, next = 0;
  auto start = std::chrono::steady_clock::now();
  auto firstDone = start;
  while (completed < kTotal) {
    DWORD wait = WaitForSingleObject(packets.events[next], 2000);
    ASSERT_EQ(wait, WAIT_OBJECT_0) << "packet " << completed << " did not complete";
    DWORD bytes = 0;
    ASSERT_TRUE(GetOverlappedResult(pin->GetHandle(), &packets.overlapped[next], &bytes, FALSE));
    if (++completed == 1) firstDone = std::chrono::steady_clock::now();
    if (completed + Packets::kCount - 1 < kTotal + Packets::kCount - 1) {
      packets.Prepare(next, true);
      ASSERT_EQ(pin->WriteData(&packets.headers[next], &packets.overlapped[next]), S_OK);
    }
    next = (next + 1) % Packets::kCount;
  }
  const auto end = std::chrono::steady_clock::now();
  double measured = std::chrono::duration<double, std::milli>(end - firstDone).count() / (kTotal - 1);
  // A loose lower bound (a loaded machine only makes it slower): a device that completes
  // packets at once instead of on its clock fails here. 100 packets of 10 ms are 1 s.
  const double totalMs = std::chrono::duration<double, std::milli>(end - start).count();
  EXPECT_GE(totalMs, 500.0);
  std::printf("render packets of %lu frames at %lu Hz: measured period %.3f ms, nominal %.3f ms\n",
              static_cast<unsigned long>(frames), static_cast<unsigned long>(rate), measured,
              1000.0 * frames / rate);

  // Down again, one step at a time, then closed.
  ASSERT_EQ(StepTo(pin, KSSTATE_RUN, KSSTATE_STOP), S_OK);
  EXPECT_EQ(pin->ClosePin(), S_OK);
  EXPECT_FALSE(CKsIrpTarget::IsValidHandle(pin->GetHandle()));
  stats = tess::vdac::pinStats(tess::vdac::kRenderPinId);
  EXPECT_FALSE(stats.open);
  EXPECT_GE(stats.writesCompleted, static_cast<uint64_t>(kTotal));
  std::vector<uint32_t> expected = {1, 2, 3, 2, 1, 0};
  EXPECT_NE(std::search(stats.stateHistory.begin(), stats.stateHistory.end(), expected.begin(), expected.end()),
            stats.stateHistory.end());

  // A pin may be instantiated again after ClosePin; closing a running pin steps it down.
  ASSERT_EQ(pin->Instantiate(FALSE), S_OK);
  ASSERT_EQ(StepTo(pin, KSSTATE_STOP, KSSTATE_RUN), S_OK);
  EXPECT_EQ(pin->ClosePin(), S_OK);
  stats = tess::vdac::pinStats(tess::vdac::kRenderPinId);
  expected = {1, 2, 3, 2, 1, 0};
  ASSERT_GE(stats.stateHistory.size(), expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), stats.stateHistory.end() - expected.size()));
  EXPECT_FALSE(stats.open);
  EXPECT_EQ(pin->ClosePin(), S_OK);  // nothing left to close
}

TEST_F(KsWineTest, CapturePinReadsPackets) {
  DacConfig config;
  config.loopback = true;
  Use(config);
  std::string path;
  ASSERT_TRUE(FindDac(&path));
  HRESULT hr = S_OK;
  CKsAudCapFilter filter(path.c_str(), "DAC", &hr);
  ASSERT_EQ(hr, S_OK);
  ASSERT_EQ(filter.Instantiate(), S_OK);
  ASSERT_EQ(filter.EnumeratePins(), S_OK);
  WAVEFORMATEXTENSIBLE format = ExtensibleFormat(2, 16, 44100);
  CKsAudPin* record = filter.FindViablePin(&format.Format, 0xF);
  ASSERT_NE(record, nullptr);
  ASSERT_EQ(record->SetFormat(&format.Format), S_OK);
  ASSERT_EQ(record->Instantiate(FALSE), S_OK);
  ASSERT_EQ(record->Reset(), S_OK);
  ASSERT_EQ(StepTo(record, KSSTATE_STOP, KSSTATE_RUN), S_OK);
  Packets packets(441 * 4);
  for (int i = 0; i < 4; ++i) {
    packets.Prepare(i, false);
    ASSERT_EQ(record->ReadData(&packets.headers[i], &packets.overlapped[i]), S_OK);
  }
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(WaitForSingleObject(packets.events[i], 2000), WAIT_OBJECT_0);
    DWORD bytes = 0;
    EXPECT_TRUE(GetOverlappedResult(record->GetHandle(), &packets.overlapped[i], &bytes, FALSE));
    EXPECT_EQ(packets.headers[i].DataUsed, 441u * 4);
  }
  EXPECT_EQ(record->ClosePin(), S_OK);
}

TEST_F(KsWineTest, PinCreationAndStateFailures) {
  DacConfig config;
  config.ranges = tess::vdac::RangeShape{{16, 24}, {}, 44100, 96000, 2, {}};
  Use(config);
  std::string path;
  ASSERT_TRUE(FindDac(&path));
  HRESULT hr = S_OK;
  OpenedPin opened = OpenPlayback(path, &hr);
  ASSERT_EQ(hr, S_OK);
  CKsAudPin* pin = opened.pin;
  CaptureTraces(tess::kTraceFailure);

  // A format outside the ranges is refused by the device: a Win32 error as an HRESULT.
  WAVEFORMATEXTENSIBLE tooFast = ExtensibleFormat(2, 24, 192000);
  ASSERT_EQ(pin->SetFormat(&tooFast.Format), S_OK);
  hr = pin->Instantiate(FALSE);
  EXPECT_TRUE(FAILED(hr));
  EXPECT_EQ(HRESULT_FACILITY(hr), FACILITY_WIN32);
  char message[80];
  snprintf(message, sizeof message, "Failed to instantiate pin. hr=0x%08x", static_cast<unsigned>(hr));
  EXPECT_TRUE(Traced(message)) << AllTraces();
  EXPECT_FALSE(CKsIrpTarget::IsValidHandle(pin->GetHandle()));

  // Without KsCreatePin (ksuser.dll missing) the pin cannot be made: 0x80070002.
  tess::DeviceSeam noKsUser = tess::vdac::seam();
  noKsUser.ksCreatePin = nullptr;
  tess::installDevices(&noKsUser);
  WAVEFORMATEXTENSIBLE good = ExtensibleFormat(2, 24, 96000);
  ASSERT_EQ(pin->SetFormat(&good.Format), S_OK);
  EXPECT_EQ(pin->Instantiate(FALSE), static_cast<HRESULT>(0x80070002));
  tess::installDevices(&tess::vdac::seam());

  // States change one step at a time; a skipped step fails.
  ASSERT_EQ(pin->Instantiate(FALSE), S_OK);
  EXPECT_EQ(pin->SetState(KSSTATE_RUN), E_FAIL);
  EXPECT_TRUE(Traced("Failed to Set Pin State"));
  EXPECT_EQ(StepTo(pin, KSSTATE_STOP, KSSTATE_RUN), S_OK);

  // SetFormat without a format changes nothing.
  ULONG size = pin->m_cbPinCreate;
  EXPECT_EQ(pin->SetFormat(nullptr), E_FAIL);
  EXPECT_TRUE(Traced("pwfx or m_pksDataFormatWfx are NULL"));
  EXPECT_EQ(pin->m_cbPinCreate, size);

  // A plain PCM format shrinks the record back to 64 + 18 bytes of format.
  WAVEFORMATEX pcm = PcmFormat(2, 16, 48000);
  ASSERT_EQ(pin->SetFormat(&pcm), S_OK);
  EXPECT_EQ(pin->m_cbPinCreate, sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT) + 18);
  EXPECT_EQ(pin->m_pksDataFormatWfx->FormatSize, 82u);
  EXPECT_EQ(pin->ClosePin(), S_OK);
}

TEST_F(KsWineTest, StalledAndRemovedDevice) {
  Use();
  std::string path;
  ASSERT_TRUE(FindDac(&path));
  HRESULT hr = S_OK;
  OpenedPin opened = OpenPlayback(path, &hr);
  ASSERT_EQ(hr, S_OK);
  CKsAudPin* pin = opened.pin;
  WAVEFORMATEXTENSIBLE format = ExtensibleFormat(2, 24, 48000);
  ASSERT_EQ(pin->SetFormat(&format.Format), S_OK);
  ASSERT_EQ(pin->Instantiate(FALSE), S_OK);
  ASSERT_EQ(pin->Reset(), S_OK);
  ASSERT_EQ(StepTo(pin, KSSTATE_STOP, KSSTATE_RUN), S_OK);

  // A stalled device completes nothing: the write is accepted and stays pending.
  tess::vdac::setStalled(true);
  Packets packets(480 * 6);
  packets.Prepare(0, true);
  ASSERT_EQ(pin->WriteData(&packets.headers[0], &packets.overlapped[0]), S_OK);
  EXPECT_EQ(WaitForSingleObject(packets.events[0], 100), static_cast<DWORD>(WAIT_TIMEOUT));
  tess::vdac::setStalled(false);
  EXPECT_EQ(WaitForSingleObject(packets.events[0], 2000), WAIT_OBJECT_0);

  // Removed in the middle of the stream: requests fail, at submission or on completion.
  CaptureTraces(tess::kTraceFailure);
  tess::vdac::setRemoved(true);
  packets.Prepare(1, true);
  hr = pin->WriteData(&packets.headers[1], &packets.overlapped[1]);
  if (SUCCEEDED(hr)) {
    ASSERT_EQ(WaitForSingleObject(packets.events[1], 2000), WAIT_OBJECT_0);
    DWORD bytes = 0;
    EXPECT_FALSE(GetOverlappedResult(pin->GetHandle(), &packets.overlapped[1], &bytes, FALSE));
  } else {
    EXPECT_EQ(hr, E_FAIL);
    bool reported = false;
    {
      std::lock_guard<std::mutex> lock(g_traceMutex);
      for (const std::string& t : g_traces) reported |= t.rfind("CKsPin::WriteData's DeviceIoControl Failed!", 0) == 0;
    }
    EXPECT_TRUE(reported) << AllTraces();
  }
  EXPECT_EQ(pin->SetState(KSSTATE_PAUSE), E_FAIL);
  EXPECT_EQ(pin->Reset(), E_FAIL);
  EXPECT_TRUE(Traced("IOCTL_KS_RESET_STATE failed"));
  EXPECT_EQ(pin->ClosePin(), S_OK);  // the stop fails, the handle is closed anyway
  EXPECT_FALSE(CKsIrpTarget::IsValidHandle(pin->GetHandle()));
}

TEST_F(KsWineTest, RequestsOnAPinWithoutHandle) {
  Use();
  std::string path;
  ASSERT_TRUE(FindDac(&path));
  HRESULT hr = S_OK;
  OpenedPin opened = OpenPlayback(path, &hr);
  ASSERT_EQ(hr, S_OK);
  CaptureTraces(tess::kTraceFailure);
  // Reset sends begin and end even when begin fails; the end's result is returned.
  EXPECT_EQ(opened.pin->Reset(), E_FAIL);
  int resetFailures = 0;
  {
    std::lock_guard<std::mutex> lock(g_traceMutex);
    for (const std::string& t : g_traces) resetFailures += t == "IOCTL_KS_RESET_STATE failed";
  }
  EXPECT_EQ(resetFailures, 2);
  Packets packets(64);
  packets.Prepare(0, false);
  EXPECT_EQ(opened.pin->ReadData(&packets.headers[0], &packets.overlapped[0]), E_FAIL);
  bool reported = false;
  {
    std::lock_guard<std::mutex> lock(g_traceMutex);
    for (const std::string& t : g_traces) reported |= t.rfind("DeviceIoControl Failed!  Error=0x", 0) == 0;
  }
  EXPECT_TRUE(reported) << AllTraces();
  EXPECT_EQ(opened.pin->ClosePin(), S_OK);
}

}  // namespace
}  // namespace kstest
