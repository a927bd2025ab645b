// Filter enumeration, filters, pin classification and topology against the virtual DAC.
#include <algorithm>

#include "KsWineFixture.h"

namespace kstest {
namespace {

using tess::vdac::AliasState;
using tess::vdac::AudioDeviceSpec;
using tess::vdac::DacConfig;

AudioDeviceSpec Foreign(uint16_t productId, AliasState alias, bool before, const char* name) {
  AudioDeviceSpec d;
  d.productId = productId;
  d.renderAlias = alias;
  d.listBeforeDac = before;
  d.friendlyName = name;
  return d;
}

TEST_F(KsWineTest, EnumFiltersFindsTheDacAndSkipsFiltersWithoutAnEnabledAlias) {
  DacConfig config;
  config.otherAudioDevices = {Foreign(0x0A44, AliasState::Enabled, true, "Webcam Audio"),
                              Foreign(0x0A45, AliasState::Removed, true, "Removed Headset"),
                              Foreign(0x0A46, AliasState::Missing, false, "Capture Only"),
                              Foreign(0x0A47, AliasState::Disabled, false, "Disabled Speaker"),
                              Foreign(0x0A48, AliasState::Enabled, false, "")};
  config.otherAudioDevices.back().deviceDescription = "Fallback Description";
  Use(config);
  CaptureTraces();
  CKsEnumFilters enumerator;
  ASSERT_EQ(enumerator.EnumFilters(kAudioAndRender, 2), S_OK) << AllTraces();

  // The foreign filter with an enabled alias is listed first (in enumeration order):
  // telling devices apart by USB identity is the caller's job.
  ASSERT_EQ(enumerator.m_listFilters.GetCount(), 3u) << AllTraces();
  CKsAudRenFilter* first = enumerator.m_listFilters.GetHead()->pItem;
  CKsAudRenFilter* dac = enumerator.m_listFilters.GetHead()->pNext->pItem;
  CKsAudRenFilter* last = enumerator.m_listFilters.GetTail()->pItem;
  // Without an interface "FriendlyName" or a device friendly name, the description.
  EXPECT_STREQ(last->GetFriendlyName(), "Fallback Description");
  EXPECT_STREQ(first->GetFriendlyName(), "Webcam Audio");
  EXPECT_FALSE(IsSupportedPath(first->GetSymbolicLink()));
  EXPECT_TRUE(IsSupportedPath(dac->GetSymbolicLink())) << dac->GetSymbolicLink();
  EXPECT_STREQ(dac->GetFriendlyName(), "Tessaline USB 2.0 Audio");
  EXPECT_EQ(dac->m_filterType, static_cast<ULONG>(eKsFilterAudioRender));
  EXPECT_TRUE(Traced("DeviceInterfaceAlias disabled.")) << AllTraces();
  EXPECT_TRUE(Traced("Failed to get requested DeviceInterfaceAlias")) << AllTraces();

  // A second run starts from an empty list.
  ASSERT_EQ(enumerator.EnumFilters(kAudioAndRender, 2), S_OK);
  EXPECT_EQ(enumerator.m_listFilters.GetCount(), 3u);
  EXPECT_EQ(enumerator.DestroyLists(), S_OK);
  EXPECT_TRUE(enumerator.m_listFilters.IsEmpty());
}

TEST_F(KsWineTest, EnumFiltersFailsWhenNothingUsableIsFound) {
  // Only the DAC, with its render alias removed: the list ends empty.
  DacConfig removedAlias;
  removedAlias.renderAlias = AliasState::Removed;
  Use(removedAlias);
  CKsEnumFilters enumerator;
  EXPECT_EQ(enumerator.EnumFilters(kAudioAndRender, 2), E_FAIL);
  EXPECT_TRUE(enumerator.m_listFilters.IsEmpty());
  tess::vdac::stopUsingVirtualDac();

  // The device gone: no device interfaces at all.
  Use();
  tess::vdac::setRemoved(true);
  EXPECT_EQ(enumerator.EnumFilters(kAudioAndRender, 2), E_FAIL);
  EXPECT_TRUE(enumerator.m_listFilters.IsEmpty());
  tess::vdac::setRemoved(false);

  // A filter whose pins are all unusable is left out with a message.
  tess::vdac::stopUsingVirtualDac();
  DacConfig noPins;
  noPins.editFilter = [](tess::vdac::FilterSpec& f) {
    for (tess::vdac::PinSpec& pin : f.pins) pin.mediums.clear();
  };
  Use(noPins);
  CaptureTraces(tess::kTraceFailure);
  EXPECT_EQ(enumerator.EnumFilters(kAudioAndRender, 2), E_FAIL);
  bool reported = false;
  {
    std::lock_guard<std::mutex> lock(g_traceMutex);
    for (const std::string& t : g_traces) reported |= t.rfind("Failed to create filter for ", 0) == 0;
  }
  EXPECT_TRUE(reported) << AllTraces();
}

// Counts SetupAPI set creation through a wrapper around the virtual DAC's table.
int g_getClassDevsCalls = 0;
HDEVINFO WINAPI CountingGetClassDevs(const GUID* guid, PCSTR enumerator, HWND parent, DWORD flags) {
  ++g_getClassDevsCalls;
  return tess::vdac::seam().getClassDevs(guid, enumerator, parent, flags);
}
HDEVINFO WINAPI NoClassDevs(const GUID*, PCSTR, HWND, DWORD) {
  SetLastError(ERROR_INVALID_DATA);
  return INVALID_HANDLE_VALUE;
}

TEST_F(KsWineTest, EnumFiltersWithoutAFirstCategoryCallsNothing) {
  Use();
  tess::DeviceSeam counting = tess::vdac::seam();
  counting.getClassDevs = CountingGetClassDevs;
  tess::installDevices(&counting);
  g_getClassDevsCalls = 0;
  CKsEnumFilters enumerator;
  const GUID nullFirst[2] = {GUID_NULL, kAudioAndRender[1]};
  EXPECT_EQ(enumerator.EnumFilters(nullFirst, 2), E_FAIL);
  EXPECT_EQ(enumerator.EnumFilters(nullptr, 2), E_FAIL);
  EXPECT_EQ(enumerator.EnumFilters(kAudioAndRender, 0), E_FAIL);
  EXPECT_EQ(g_getClassDevsCalls, 0);
  EXPECT_TRUE(enumerator.m_listFilters.IsEmpty());
  EXPECT_EQ(enumerator.EnumFilters(kAudioAndRender, 2), S_OK);
  EXPECT_EQ(g_getClassDevsCalls, 1);

  // No device-information set at all.
  counting.getClassDevs = NoClassDevs;
  tess::installDevices(&counting);
  CaptureTraces(tess::kTraceEnumeration);
  EXPECT_EQ(enumerator.EnumFilters(kAudioAndRender, 2), E_FAIL);
  EXPECT_TRUE(enumerator.m_listFilters.IsEmpty());
  EXPECT_TRUE(Traced("No devices found"));
}

TEST_F(KsWineTest, FilterConstructionAndOpening) {
  Use();
  CaptureTraces(tess::kTraceFailure);
  HRESULT hr = S_OK;
  {
    CKsFilter noLink(nullptr, "name", &hr);
    EXPECT_EQ(hr, E_INVALIDARG);
    CKsFilter noName("\\\\?\\path", nullptr, &hr);
    EXPECT_EQ(hr, E_INVALIDARG);
  }
  EXPECT_TRUE(Traced("pszSymbolicLink cannot be NULL"));
  EXPECT_TRUE(Traced("pszFriendlyName cannot be NULL"));

  // A path that does not fit is refused rather than cut; a long name is cut.
  std::string longPath(300, 'p');
  std::string longName(300, 'n');
  {
    CKsFilter tooLong(longPath.c_str(), "name", &hr);
    EXPECT_EQ(hr, E_INVALIDARG);
    CKsFilter longNamed("\\\\?\\path", longName.c_str(), &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(strlen(longNamed.GetFriendlyName()), static_cast<size_t>(MAX_PATH - 1));
  }

  // Opening a path that is not there.
  CKsFilter missing("\\\\?\\usb#vid_dead&pid_beef&mi_01#0#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\global", "x", &hr);
  ASSERT_EQ(hr, S_OK);
  EXPECT_EQ(missing.Instantiate(), E_FAIL);
  EXPECT_FALSE(CKsIrpTarget::IsValidHandle(missing.GetHandle()));
  bool reported = false;
  {
    std::lock_guard<std::mutex> lock(g_traceMutex);
    for (const std::string& t : g_traces)
      reported |= t.rfind("CKsFilter::Instantiate: CreateFile failed for device \\\\?\\usb#vid_dead", 0) == 0 &&
                  t.find(".  ErrorCode = 0x") != std::string::npos;
  }
  EXPECT_TRUE(reported) << AllTraces();

  // A filter that was never opened has no pins to offer.
  EXPECT_EQ(missing.EnumeratePins(), E_FAIL);
  EXPECT_TRUE(Traced("Filter is not viable. It has no pins."));
  CKsAudRenFilter audioMissing("\\\\?\\nowhere", "x", &hr);
  EXPECT_EQ(audioMissing.EnumeratePins(), E_FAIL);
  EXPECT_TRUE(Traced("Failed to retrieve count of pins in audio filter"));
  EXPECT_TRUE(Traced("No valid pins found on the filter"));
}

TEST_F(KsWineTest, AudioFiltersClassifyTheDacPins) {
  Use();
  std::string path, name;
  ASSERT_TRUE(FindDac(&path, &name));
  CaptureTraces();
  OpenFilter<CKsAudRenFilter> render(path);
  OpenFilter<CKsAudCapFilter> capture(path);
  ASSERT_EQ(render.hr, S_OK) << AllTraces();
  ASSERT_EQ(capture.hr, S_OK);
  EXPECT_EQ(capture->m_filterType, static_cast<ULONG>(eKsFilterAudioCapture));

  // Pins: 0 playback (in, sink), 1 and 2 bridges, 3 record (out, sink), 4 S/PDIF (out, source).
  for (CKsAudFilter* filter : {static_cast<CKsAudFilter*>(render.filter), static_cast<CKsAudFilter*>(capture.filter)}) {
    EXPECT_EQ(PinIds(filter->m_listPins), (std::vector<ULONG>{0, 3, 4}));
    EXPECT_EQ(PinIds(filter->m_listInSinkPins), std::vector<ULONG>{0});
    EXPECT_EQ(PinIds(filter->m_listOutSinkPins), std::vector<ULONG>{3});
    EXPECT_EQ(PinIds(filter->m_listOutSourcePins), std::vector<ULONG>{4});
    EXPECT_TRUE(filter->m_listInSourcePins.IsEmpty());
    EXPECT_TRUE(filter->m_listNoCommPins.IsEmpty());
  }
  EXPECT_TRUE(Traced("Pin communication value doesn't make sense"));
  CKsPin* playback = render->m_listInSinkPins.GetHead()->pItem;
  CKsPin* record = render->m_listOutSinkPins.GetHead()->pItem;
  CKsPin* spdif = render->m_listOutSourcePins.GetHead()->pItem;
  EXPECT_EQ(playback->m_pinType, static_cast<ULONG>(eKsPinAudioRender));
  EXPECT_NE(dynamic_cast<CKsAudRenPin*>(playback), nullptr);
  EXPECT_EQ(record->m_pinType, static_cast<ULONG>(eKsPinAudioCapture));
  EXPECT_NE(dynamic_cast<CKsAudCapPin*>(record), nullptr);
  EXPECT_EQ(spdif->m_pinType, static_cast<ULONG>(eKsPinPlain));
  EXPECT_EQ(playback->GetDataFlow(), static_cast<ULONG>(KSPIN_DATAFLOW_IN));
  EXPECT_EQ(record->GetCommunication(), static_cast<ULONG>(KSPIN_COMMUNICATION_SINK));
  EXPECT_STREQ(playback->GetName(), L"Playback");
  EXPECT_STREQ(record->GetName(), L"Record");
  EXPECT_EQ(playback->m_cInstances.PossibleCount, 1u);
  EXPECT_TRUE(IsEqualGUID(playback->m_guidCategory, ToGuid(tess::ks::kCategoryAudio)));
  EXPECT_EQ(playback->m_cInterfaces, 1u);
  EXPECT_EQ(playback->m_cMediums, 1u);
  // Every range of the streaming pins is a PCM audio range: all are kept.
  EXPECT_EQ(static_cast<CKsAudPin*>(playback)->m_listDataRange.GetCount(), playback->m_cDataRanges);
  EXPECT_GE(playback->m_cDataRanges, 3u);  // 16, 24 and 32 bits at least

  // Render-only: the capture filter has no out-sink pin, so the device has no capture path.
  tess::vdac::stopUsingVirtualDac();
  DacConfig renderOnly;
  renderOnly.renderOnly = true;
  Use(renderOnly);
  ASSERT_TRUE(FindDac(&path));
  OpenFilter<CKsAudCapFilter> noCapture(path);
  ASSERT_EQ(noCapture.hr, S_OK);
  EXPECT_TRUE(noCapture->m_listOutSinkPins.IsEmpty());
  EXPECT_EQ(PinIds(noCapture->m_listInSinkPins), std::vector<ULONG>{0});
}

TEST_F(KsWineTest, PlainFilterSortsEveryPinAndKeepsSharedPinsOnce) {
  DacConfig config;
  config.editFilter = [](tess::vdac::FilterSpec& f) {
    tess::vdac::PinSpec both = f.pins[0];
    both.communication = tess::vdac::kCommunicationBoth;
    both.creatable = false;
    f.pins.push_back(both);  // pin 5: in, both
    tess::vdac::PinSpec none = f.pins[0];
    none.communication = tess::vdac::kCommunicationNone;
    none.creatable = false;
    f.pins.push_back(none);  // pin 6: in, none
  };
  Use(config);
  std::string path;
  ASSERT_TRUE(FindDac(&path));
  CaptureTraces();
  {
    OpenFilter<CKsFilter> plain(path);
    ASSERT_EQ(plain.hr, S_OK);
    EXPECT_EQ(PinIds(plain->m_listPins), (std::vector<ULONG>{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(PinIds(plain->m_listInSinkPins), (std::vector<ULONG>{0, 5}));
    EXPECT_EQ(PinIds(plain->m_listInSourcePins), std::vector<ULONG>{5});
    EXPECT_EQ(PinIds(plain->m_listOutSinkPins), std::vector<ULONG>{3});
    EXPECT_EQ(PinIds(plain->m_listOutSourcePins), std::vector<ULONG>{4});
    EXPECT_EQ(PinIds(plain->m_listNoCommPins), std::vector<ULONG>{6});
    EXPECT_TRUE(Traced("Pin communication type not recognized"));  // the bridge pins
    // Plain pins carry no connect record: instantiating them creates nothing.
    CKsPin* pin = plain->m_listPins.GetHead()->pItem;
    EXPECT_EQ(pin->m_pksPinCreate, nullptr);
    EXPECT_EQ(pin->Instantiate(FALSE), S_OK);
    EXPECT_FALSE(CKsIrpTarget::IsValidHandle(pin->GetHandle()));
    EXPECT_EQ(pin->ClosePin(), S_OK);
  }  // pin 5 sits in two attribute lists but is deleted once, with the filter

  // The audio filter keeps the "both" pin as a plain audio pin in two lists and skips
  // the communication-none pin.
  OpenFilter<CKsAudRenFilter> audio(path);
  ASSERT_EQ(audio.hr, S_OK);
  EXPECT_EQ(PinIds(audio->m_listInSinkPins), (std::vector<ULONG>{0, 5}));
  EXPECT_EQ(PinIds(audio->m_listInSourcePins), std::vector<ULONG>{5});
  EXPECT_TRUE(audio->m_listNoCommPins.IsEmpty());
  EXPECT_EQ(audio->m_listInSinkPins.GetTail()->pItem->m_pinType, static_cast<ULONG>(eKsPinPlain));
  EXPECT_EQ(tess::vdac::counters().openHandles, 1u);  // the filter file only
}

TEST_F(KsWineTest, TopologyNodes) {
  Use();
  std::string path;
  ASSERT_TRUE(FindDac(&path));
  OpenFilter<CKsAudRenFilter> filter(path);
  ASSERT_EQ(filter.hr, S_OK);
  ASSERT_EQ(filter->EnumerateNodes(), S_OK);
  ASSERT_EQ(filter->m_listNodes.GetCount(), 6u);
  ULONG expectedId = 0;
  for (CKsNode* node : filter->m_listNodes) {
    EXPECT_EQ(node->m_nodeId, expectedId++);
    EXPECT_EQ(node->m_tag, 0x454E4F4Eu);
  }
  GUID dac = ToGuid(tess::ks::Guid{0x507AE360, 0xC554, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}});
  EXPECT_TRUE(IsEqualGUID(filter->m_listNodes.GetHead()->pNext->pNext->pItem->m_nodeType, dac));
  // Asking again replaces the list.
  ASSERT_EQ(filter->EnumerateNodes(), S_OK);
  EXPECT_EQ(filter->m_listNodes.GetCount(), 6u);

  // A reply counting more nodes than it holds leaves no nodes.
  tess::vdac::stopUsingVirtualDac();
  DacConfig shortTopology;
  shortTopology.editFilter = [](tess::vdac::FilterSpec& f) { f.topologyShorterThanCount = true; };
  Use(shortTopology);
  ASSERT_TRUE(FindDac(&path));
  OpenFilter<CKsAudRenFilter> shortFilter(path);
  ASSERT_EQ(shortFilter.hr, S_OK);
  EXPECT_EQ(shortFilter->EnumerateNodes(), E_FAIL);
  EXPECT_TRUE(shortFilter->m_listNodes.IsEmpty());

  // An unopened filter cannot read its topology.
  CaptureTraces(tess::kTraceEnumeration);
  HRESULT hr;
  CKsFilter closed("\\\\?\\nowhere", "x", &hr);
  EXPECT_EQ(closed.EnumerateNodes(), E_FAIL);
  EXPECT_TRUE(Traced("Failed to get property KSPROPSETID_Topology.KSPROPERTY_TOPOLOGY_NODES"));
}

}  // namespace
}  // namespace kstest
