// How the library meets devices that misbehave as real drivers do: size queries without
// a size, requests that pend and then fail, filters that never answer, and a device that
// takes 24-bit audio only in 32-bit containers.
#include <thread>

#include "KsWineFixture.h"

namespace kstest {
namespace {

using tess::vdac::AudioDeviceSpec;
using tess::vdac::DacConfig;

class KsDeviceFaultTest : public KsWineTest {
 protected:
  // The DAC's path, the same whatever its shape (found on a well-behaved one).
  static std::string DacPath() {
    EXPECT_TRUE(tess::vdac::useVirtualDac());
    std::string path;
    EXPECT_TRUE(FindDac(&path));
    tess::vdac::stopUsingVirtualDac();
    return path;
  }
};

TEST_F(KsDeviceFaultTest, SizeQueryTooSmallWithoutAByteCountIsAFailure) {
  const std::string path = DacPath();
  DacConfig config;
  config.sizeQueryWithoutByteCount = true;
  Use(config);
  HRESULT hr = E_FAIL;
  CKsFilter filter(path.c_str(), "DAC", &hr);
  ASSERT_EQ(hr, S_OK);
  ASSERT_EQ(filter.Instantiate(), S_OK);
  PKSMULTIPLE_ITEM reply = nullptr;
  // Not an empty property: the property could not be read.
  EXPECT_EQ(filter.GetPinPropertyMulti(0, KSPROPERTY_PIN_DATARANGES, &reply), E_FAIL);
  EXPECT_EQ(reply, nullptr);
  EXPECT_EQ(filter.GetPropertyMulti(ToGuid(tess::ks::kPropSetTopology), KSPROPERTY_TOPOLOGY_NODES, &reply), E_FAIL);
  EXPECT_EQ(reply, nullptr);
  ULONG bytes = 777;
  KSP_PIN request = {};
  request.Property.Set = ToGuid(tess::ks::kPropSetPin);
  request.Property.Id = KSPROPERTY_PIN_DATARANGES;
  request.Property.Flags = KSPROPERTY_TYPE_GET;
  EXPECT_EQ(CKsIrpTarget::SyncIoctl(filter.GetHandle(), IOCTL_KS_PROPERTY, &request, sizeof request, nullptr, 0, &bytes),
            E_FAIL);
  EXPECT_EQ(bytes, 0u);
}

TEST_F(KsDeviceFaultTest, RequestsThatPendThenFailAreFailuresAndPendedSizeQueriesWork) {
  DacConfig config;
  config.pendAllProperties = true;
  config.pendFailures = true;
  Use(config);
  // Every property pends, size queries included: the DAC is still found whole.
  std::string path;
  ASSERT_TRUE(FindDac(&path));
  OpenFilter<CKsAudRenFilter> render(path);
  ASSERT_EQ(render.hr, S_OK);
  ASSERT_EQ(render->m_listInSinkPins.GetCount(), 1u);
  CKsAudPin* playback = static_cast<CKsAudPin*>(render->m_listInSinkPins.GetHead()->pItem);
  EXPECT_FALSE(playback->m_listDataRange.IsEmpty());

  // Requests the device refuses after pending.
  const uint64_t pendedBefore = tess::vdac::counters().pendedRequests;
  ULONG value = 0;
  EXPECT_EQ(render->GetPinPropertySimple(99, KSPROPERTY_PIN_DATAFLOW, &value, sizeof value), E_FAIL);
  KSCOMPONENTID id;
  GUID unknownSet = ToGuid(tess::ks::kPropSetPin);
  unknownSet.Data1 ^= 0x5A5A5A5A;
  EXPECT_EQ(render->GetPropertySimple(unknownSet, 0, &id, sizeof id), E_FAIL);
  // Too small a buffer for a fixed-size property, after pending.
  WORD tooSmall = 0;
  EXPECT_EQ(render->GetPinPropertySimple(0, KSPROPERTY_PIN_DATAFLOW, &tooSmall, sizeof tooSmall), E_FAIL);
  EXPECT_EQ(tess::vdac::counters().pendedRequests, pendedBefore + 3);
}

struct EnumerationRun {
  HRESULT hr = E_PENDING;
  std::vector<std::string> paths;
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ~EnumerationRun() { CloseHandle(done); }
};

TEST_F(KsDeviceFaultTest, AHungFilterIsCancelledAndEnumerationGoesOn) {
  DacConfig config;
  AudioDeviceSpec hung;
  hung.productId = 0x0B01;
  hung.friendlyName = "HDMI Audio (not answering)";
  hung.neverAnswers = true;
  config.otherAudioDevices = {hung};
  Use(config);
  CaptureTraces(tess::kTraceFailure);

  // On a thread of its own, so that a frozen enumeration fails the test instead of
  // hanging it.
  EnumerationRun run;
  std::thread worker([&run] {
    CKsEnumFilters enumerator;
    run.hr = enumerator.EnumFilters(kAudioAndRender, 2);
    for (CKsAudRenFilter* filter : enumerator.m_listFilters) run.paths.push_back(filter->GetSymbolicLink());
    SetEvent(run.done);
  });
  const DWORD wait = WaitForSingleObject(run.done, 120000);
  if (wait != WAIT_OBJECT_0) {
    worker.detach();
    FAIL() << "enumeration froze on a filter that never answers";
  }
  worker.join();
  EXPECT_EQ(run.hr, S_OK);
  ASSERT_EQ(run.paths.size(), 1u);
  EXPECT_TRUE(IsSupportedPath(run.paths[0].c_str())) << run.paths[0];
  EXPECT_TRUE(Traced("CKsIrpTarget::SyncIoctl request timed out, cancelling")) << AllTraces();
  // Cancelled, not abandoned: every handle of the device is closed again.
  EXPECT_FALSE(Traced("CKsIrpTarget::SyncIoctl request abandoned after cancelling")) << AllTraces();
  EXPECT_EQ(tess::vdac::counters().openHandles, 0u);
}

TEST_F(KsDeviceFaultTest, TwentyFourValidBitsInThirtyTwoBitContainers) {
  DacConfig config;
  config.ranges.widths = {24};
  config.ranges.containers = {32};
  Use(config);
  std::string path;
  ASSERT_TRUE(FindDac(&path));
  OpenFilter<CKsAudRenFilter> render(path);
  ASSERT_EQ(render.hr, S_OK);
  CKsAudPin* playback = static_cast<CKsAudPin*>(render->m_listInSinkPins.GetHead()->pItem);

  // Packed 24 and full 32 are not offered; 24 in 32 is.
  WAVEFORMATEX packed = PcmFormat(2, 24, 48000);
  EXPECT_EQ(render->FindViablePin(&packed, 4), nullptr);
  WAVEFORMATEXTENSIBLE full = ExtensibleFormat(2, 32, 48000);
  EXPECT_EQ(render->FindViablePin(&full.Format, 0xF), nullptr);
  WAVEFORMATEXTENSIBLE in32 = ExtensibleFormat(2, 32, 48000);
  in32.Samples.wValidBitsPerSample = 24;
  EXPECT_EQ(render->FindViablePin(&in32.Format, 0xF), playback);

  // Pin opening asks the same rule, with the channels it may open.
  tess::ks::PcmQuery query;
  query.containerBits = 32;
  query.validBits = 24;
  query.sampleRate = 96000;
  tess::ks::PcmMatch match = playback->MatchPcm(query, tess::ks::kCheckBitsPerSample | tess::ks::kCheckSampleRate);
  EXPECT_TRUE(match.matched);
  EXPECT_EQ(match.maxChannels, 2u);
  query.containerBits = 24;
  EXPECT_FALSE(playback->MatchPcm(query, tess::ks::kCheckBitsPerSample | tess::ks::kCheckSampleRate).matched);

  // The device agrees: it refuses packed 24 and streams 24 in 32.
  WAVEFORMATEXTENSIBLE packedExt = ExtensibleFormat(2, 24, 48000);
  ASSERT_EQ(playback->SetFormat(&packedExt.Format), S_OK);
  EXPECT_TRUE(FAILED(playback->Instantiate(FALSE)));
  ASSERT_EQ(playback->SetFormat(&in32.Format), S_OK);
  ASSERT_EQ(playback->Instantiate(FALSE), S_OK);
  tess::vdac::PinStats stats = tess::vdac::pinStats(tess::vdac::kRenderPinId);
  EXPECT_EQ(stats.format.bitsPerSample, 32u);
  EXPECT_EQ(stats.format.validBits, 24u);
  EXPECT_EQ(playback->ClosePin(), S_OK);
}

TEST_F(KsDeviceFaultTest, CaptureOnAFilterOfItsOwnIsFoundUnderTheCaptureCategory) {
  DacConfig config;
  config.separateCaptureFilter = true;
  AudioDeviceSpec webcam;  // another device's capture interface, listed first
  webcam.friendlyName = "Webcam Audio";
  config.otherAudioDevices = {webcam};
  Use(config);
  std::string renderPath;
  ASSERT_TRUE(FindDac(&renderPath));
  // On the render filter's path the device looks render-only.
  OpenFilter<CKsAudCapFilter> onRenderPath(renderPath);
  ASSERT_EQ(onRenderPath.hr, S_OK);
  EXPECT_TRUE(onRenderPath->m_listOutSinkPins.IsEmpty());

  char capturePath[MAX_PATH] = {};
  ASSERT_EQ(CKsEnumFilters::FindCaptureFilter(renderPath.c_str(), capturePath, sizeof capturePath), S_OK);
  EXPECT_NE(renderPath, capturePath);
  EXPECT_TRUE(IsSupportedPath(capturePath)) << capturePath;
  OpenFilter<CKsAudCapFilter> capture(capturePath);
  ASSERT_EQ(capture.hr, S_OK);
  ASSERT_EQ(capture->m_listOutSinkPins.GetCount(), 1u);
  CKsAudPin* record = static_cast<CKsAudPin*>(capture->m_listOutSinkPins.GetHead()->pItem);
  EXPECT_EQ(record->GetId(), 1u);
  WAVEFORMATEXTENSIBLE f = ExtensibleFormat(2, 24, 48000);
  ASSERT_EQ(record->SetFormat(&f.Format), S_OK);
  ASSERT_EQ(record->Instantiate(FALSE), S_OK);
  EXPECT_TRUE(tess::vdac::pinStats(tess::vdac::kCapturePinId).open);
  EXPECT_EQ(record->ClosePin(), S_OK);
  // A path that does not fit is not cut.
  char small[16];
  EXPECT_EQ(CKsEnumFilters::FindCaptureFilter(renderPath.c_str(), small, sizeof small), E_FAIL);
  tess::vdac::stopUsingVirtualDac();

  // One filter for both: its own capture alias.
  Use();
  ASSERT_TRUE(FindDac(&renderPath));
  ASSERT_EQ(CKsEnumFilters::FindCaptureFilter(renderPath.c_str(), capturePath, sizeof capturePath), S_OK);
  OpenFilter<CKsAudCapFilter> combined(capturePath);
  ASSERT_EQ(combined.hr, S_OK);
  EXPECT_EQ(PinIds(combined->m_listOutSinkPins), std::vector<ULONG>{3});
  tess::vdac::stopUsingVirtualDac();

  // Render-only: nothing.
  DacConfig renderOnly;
  renderOnly.renderOnly = true;
  Use(renderOnly);
  ASSERT_TRUE(FindDac(&renderPath));
  EXPECT_EQ(CKsEnumFilters::FindCaptureFilter(renderPath.c_str(), capturePath, sizeof capturePath), E_FAIL);
  EXPECT_EQ(CKsEnumFilters::FindCaptureFilter(nullptr, capturePath, sizeof capturePath), E_FAIL);
}

TEST_F(KsDeviceFaultTest, APinHeldByAnotherClientIsBusyUntilReleased) {
  Use();
  std::string path;
  ASSERT_TRUE(FindDac(&path));
  OpenFilter<CKsAudRenFilter> render(path);
  ASSERT_EQ(render.hr, S_OK);
  CKsAudPin* playback = static_cast<CKsAudPin*>(render->m_listInSinkPins.GetHead()->pItem);
  WAVEFORMATEXTENSIBLE f = ExtensibleFormat(2, 24, 48000);
  ASSERT_EQ(playback->SetFormat(&f.Format), S_OK);
  const HRESULT busy = HRESULT_FROM_WIN32(ERROR_BUSY);

  // The system's audio engine holds it.
  tess::vdac::setHeldElsewhere(tess::vdac::kRenderPinId, true);
  EXPECT_EQ(playback->Instantiate(FALSE), busy);
  KSPIN_CINSTANCES instances = {};
  ASSERT_EQ(render->GetPinPropertySimple(0, KSPROPERTY_PIN_CINSTANCES, &instances, sizeof instances), S_OK);
  EXPECT_EQ(instances.CurrentCount, 1u);
  tess::vdac::setHeldElsewhere(tess::vdac::kRenderPinId, false);
  ASSERT_EQ(playback->Instantiate(FALSE), S_OK);
  EXPECT_EQ(playback->ClosePin(), S_OK);

  // Another host holds it through the device entry points, outside the library.
  const tess::DeviceSeam& dev = tess::devices();
  HANDLE filter = dev.createFile(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(filter, INVALID_HANDLE_VALUE);
  HANDLE other = nullptr;
  ASSERT_EQ(dev.ksCreatePin(filter, playback->m_pksPinCreate, GENERIC_WRITE, &other), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(playback->Instantiate(FALSE), busy);
  EXPECT_TRUE(dev.closeHandle(other));
  EXPECT_EQ(playback->Instantiate(FALSE), S_OK);
  EXPECT_EQ(playback->ClosePin(), S_OK);
  EXPECT_TRUE(dev.closeHandle(filter));
}

// What ClosePin promises about requests it cancels: they may complete after it returns,
// so the caller must keep them until they do.
TEST_F(KsDeviceFaultTest, RequestsCancelledByClosePinCompleteAfterItReturns) {
  Use();
  std::string path;
  ASSERT_TRUE(FindDac(&path));
  OpenFilter<CKsAudRenFilter> render(path);
  ASSERT_EQ(render.hr, S_OK);
  CKsAudPin* playback = static_cast<CKsAudPin*>(render->m_listInSinkPins.GetHead()->pItem);
  WAVEFORMATEXTENSIBLE f = ExtensibleFormat(2, 24, 48000);
  ASSERT_EQ(playback->SetFormat(&f.Format), S_OK);
  ASSERT_EQ(playback->Instantiate(FALSE), S_OK);
  ASSERT_EQ(playback->SetState(KSSTATE_ACQUIRE), S_OK);
  ASSERT_EQ(playback->SetState(KSSTATE_PAUSE), S_OK);

  std::vector<BYTE> data(480 * 6, 0x5A);
  KSSTREAM_HEADER header = {};
  header.Size = sizeof header;
  header.Data = data.data();
  header.FrameExtent = static_cast<ULONG>(data.size());
  header.DataUsed = header.FrameExtent;
  OVERLAPPED ov = {};
  ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(ov.hEvent, nullptr);
  ASSERT_EQ(playback->WriteData(&header, &ov), S_OK);  // queued: the pin does not run

  tess::vdac::setHoldCancelledCompletions(true);
  EXPECT_EQ(playback->ClosePin(), S_OK);
  // ClosePin has returned; the request it cancelled has not completed yet.
  EXPECT_FALSE(HasOverlappedIoCompleted(&ov));
  EXPECT_EQ(WaitForSingleObject(ov.hEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(tess::vdac::heldCancelledCompletions(), 1u);

  // It completes later, cancelled, on the device's thread; nothing was played.
  tess::vdac::setHoldCancelledCompletions(false);
  ASSERT_EQ(WaitForSingleObject(ov.hEvent, 30000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(ov.Internal, static_cast<ULONG_PTR>(0xC0000120));  // STATUS_CANCELLED
  EXPECT_EQ(ov.InternalHigh, 0u);
  tess::vdac::PinStats stats = tess::vdac::pinStats(tess::vdac::kRenderPinId);
  EXPECT_EQ(stats.writesCompleted, 0u);
  EXPECT_EQ(stats.requestsCancelled, 1u);
  CloseHandle(ov.hEvent);
}

}  // namespace
}  // namespace kstest
