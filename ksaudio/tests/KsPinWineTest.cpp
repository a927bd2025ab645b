// Audio pins against the virtual DAC: range keeping, format probing, malformed replies
// and the synchronous request paths.
#include "KsWineFixture.h"

namespace kstest {
namespace {

using tess::vdac::DacConfig;
using tess::vdac::RangeShape;
using tess::vdac::ReplyFault;

const DWORD kRates[] = {32000, 44100, 48000, 88200, 96000, 176400, 192000, 352800, 384000};

// The widths (mask 4) and rates (mask 8) a filter's pin search accepts, probed as the
// driver and the control panel probe them.
template <typename Filter>
void Probe(Filter* filter, std::vector<WORD>* widths, std::vector<DWORD>* rates) {
  for (WORD bits : {16, 24, 32}) {
    WAVEFORMATEX f = PcmFormat(2, bits, 48000);
    if (filter->FindViablePin(&f, 4)) widths->push_back(bits);
  }
  for (DWORD rate : kRates) {
    WAVEFORMATEX f = PcmFormat(2, 24, rate);
    if (filter->FindViablePin(&f, 8)) rates->push_back(rate);
  }
}

TEST_F(KsWineTest, FindViablePinAnswersExactlyAsTheRangesAllow) {
  struct Case {
    const char* what;
    RangeShape shape;
    std::vector<WORD> widths;
    std::vector<DWORD> rates;
  } cases[] = {
      {"default", RangeShape{}, {16, 24, 32}, {kRates, kRates + 9}},
      {"two widths, 44.1 to 96 kHz", RangeShape{{16, 24}, {}, 44100, 96000, 2, {}}, {16, 24}, {44100, 48000, 88200, 96000}},
      {"32 bits, discrete rates", RangeShape{{32}, {48000, 192000, 384000}, 0, 0, 2, {}}, {32}, {48000, 192000, 384000}},
      {"24 bits, from 176.4 kHz", RangeShape{{24}, {}, 176400, 384000, 2, {}}, {24}, {176400, 192000, 352800, 384000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DacConfig config;
    config.ranges = c.shape;
    Use(config);
    std::string path;
    ASSERT_TRUE(FindDac(&path));
    OpenFilter<CKsAudRenFilter> render(path);
    OpenFilter<CKsAudCapFilter> capture(path);
    ASSERT_EQ(render.hr, S_OK);
    ASSERT_EQ(capture.hr, S_OK);
    std::vector<WORD> widths, capWidths;
    std::vector<DWORD> rates, capRates;
    Probe(render.filter, &widths, &rates);
    Probe(capture.filter, &capWidths, &capRates);
    EXPECT_EQ(widths, c.widths);
    EXPECT_EQ(rates, c.rates);
    EXPECT_EQ(capWidths, c.widths);
    EXPECT_EQ(capRates, c.rates);
    tess::vdac::stopUsingVirtualDac();
  }
}

TEST_F(KsWineTest, FindViablePinChecksChannelsAndAllTogether) {
  DacConfig config;
  config.ranges = RangeShape{{16, 24}, {}, 44100, 96000, 2, {}};
  Use(config);
  std::string path;
  ASSERT_TRUE(FindDac(&path));
  OpenFilter<CKsAudRenFilter> render(path);
  ASSERT_EQ(render.hr, S_OK);
  CKsAudPin* playback = static_cast<CKsAudPin*>(render->m_listInSinkPins.GetHead()->pItem);

  WAVEFORMATEX eight = PcmFormat(8, 16, 48000);
  EXPECT_EQ(render->FindViablePin(&eight, 2), nullptr);
  EXPECT_EQ(render->FindViablePin(&eight, 4), playback);
  WAVEFORMATEX good = PcmFormat(2, 24, 96000);
  EXPECT_EQ(render->FindViablePin(&good, 0xF), playback);
  WAVEFORMATEX badRate = PcmFormat(2, 24, 192000);
  EXPECT_EQ(render->FindViablePin(&badRate, 0xF), nullptr);
  EXPECT_EQ(render->FindViablePin(&badRate, 4), playback);
  // Matched on the extensible SubFormat; an extensible tag without one matches nothing.
  WAVEFORMATEXTENSIBLE ext = ExtensibleFormat(2, 24, 48000);
  EXPECT_EQ(render->FindViablePin(&ext.Format, 0xF), playback);
  ext.SubFormat = ToGuid(tess::ks::Guid{3, 0, 0x10, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}});
  EXPECT_EQ(render->FindViablePin(&ext.Format, 0xF), nullptr);
  WAVEFORMATEX truncated = good;
  truncated.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  truncated.cbSize = 0;
  EXPECT_FALSE(playback->IsFormatSupported(&truncated, 0xF));
  EXPECT_FALSE(playback->IsFormatSupported(nullptr, 0xF));
}

TEST_F(KsWineTest, PinUsabilityTests) {
  // Pins appended to the DAC's filter, each failing one test of the audio pin.
  DacConfig config;
  config.editFilter = [](tess::vdac::FilterSpec& f) {
    tess::vdac::PinSpec base = f.pins[0];
    base.creatable = false;
    tess::vdac::PinSpec noInterface = base;  // 5
    noInterface.interfaces = {{tess::vdac::kInterfaceSetStandard, tess::vdac::kInterfaceStandardLoopedStreaming, 0}};
    tess::vdac::PinSpec foreignMedium = base;  // 6: many interfaces, but no standard medium
    foreignMedium.interfaces = {base.interfaces[0], base.interfaces[0], base.interfaces[0]};
    foreignMedium.mediums = {{tess::vdac::kInterfaceSetStandard, 0, 0}};
    tess::vdac::PinSpec analogOnly = base;  // 7: no wave sub-format anywhere
    for (auto& r : analogOnly.ranges) r.dataRange.subFormat = tess::ks::kDataFormatSubtypeAnalog;
    tess::vdac::PinSpec mixed = base;  // 8: analog first (dropped), PCM, then analog (kept)
    mixed.ranges = {base.ranges[0], base.ranges[1], base.ranges[2]};
    mixed.ranges[0].dataRange.subFormat = tess::ks::kDataFormatSubtypeAnalog;
    mixed.ranges[2].dataRange.subFormat = tess::ks::kDataFormatSubtypeAnalog;
    f.pins.insert(f.pins.end(), {noInterface, foreignMedium, analogOnly, mixed});
  };
  Use(config);
  std::string path;
  ASSERT_TRUE(FindDac(&path));
  CaptureTraces(tess::kTraceFailure);
  OpenFilter<CKsAudRenFilter> render(path);
  ASSERT_EQ(render.hr, S_OK);
  EXPECT_EQ(PinIds(render->m_listInSinkPins), (std::vector<ULONG>{0, 8}));
  EXPECT_TRUE(Traced("No standard streaming interfaces on the pin"));
  EXPECT_TRUE(Traced("No standard streaming mediums on the pin"));
  EXPECT_TRUE(Traced("No audio dataranges on the pin"));
  CKsAudPin* mixed = static_cast<CKsAudPin*>(render->m_listInSinkPins.GetTail()->pItem);
  ASSERT_EQ(mixed->m_listDataRange.GetCount(), 2u);
  EXPECT_EQ(mixed->m_listDataRange.GetHead()->pItem->minimumBitsPerSample, 24u);
  // The analog range kept after the PCM one can never match a wave format's sub-format.
  WAVEFORMATEX f32 = PcmFormat(2, 32, 48000);
  EXPECT_FALSE(mixed->IsFormatSupported(&f32, 4));
}

TEST_F(KsWineTest, UnreadablePinPropertiesNeverRejectAPin) {
  DacConfig config;
  config.editFilter = [](tess::vdac::FilterSpec& f) {
    f.pins[0].name = std::u16string(200, u'N');  // 402 bytes: more than the 259 read
  };
  Use(config);
  std::string path;
  ASSERT_TRUE(FindDac(&path));
  OpenFilter<CKsFilter> filter(path);
  ASSERT_EQ(filter.hr, S_OK);
  CaptureTraces(tess::kTracePinProperty);
  HRESULT hr = E_FAIL;
  CKsPin pin(filter.filter, 0, &hr);
  EXPECT_EQ(hr, S_FALSE);
  EXPECT_TRUE(Traced("Failed to retrieve pin property KSPROPERTY_PIN_NAME on PinID: 0")) << AllTraces();
  EXPECT_STREQ(pin.GetName(), L"");
  EXPECT_EQ(pin.m_nCommunication, static_cast<ULONG>(KSPIN_COMMUNICATION_SINK));  // the rest was read

  CKsPin other(filter.filter, 1, &hr);
  EXPECT_EQ(hr, S_OK);
  CKsPin beyond(filter.filter, 40, &hr);  // no such pin: every read fails, still a pin object
  EXPECT_EQ(hr, S_FALSE);
  EXPECT_EQ(beyond.m_cInterfaces, 0u);
  EXPECT_EQ(beyond.m_pksDataRanges, nullptr);
}

TEST_F(KsWineTest, AudioFilterSkipsPinsWhoseDescriptorCannotBeRead) {
  DacConfig config;
  config.editFilter = [](tess::vdac::FilterSpec& f) {
    std::vector<uint8_t> tooLong(8, 0);
    f.pins[3].rawReplies[tess::ks::kPropertyPinDataFlow] = tooLong;       // record pin
    f.pins[4].rawReplies[tess::ks::kPropertyPinCommunication] = tooLong;  // S/PDIF pin
  };
  Use(config);
  std::string path;
  ASSERT_TRUE(FindDac(&path));
  CaptureTraces(tess::kTraceFailure);
  OpenFilter<CKsAudCapFilter> capture(path);
  ASSERT_EQ(capture.hr, S_OK);
  EXPECT_EQ(PinIds(capture->m_listPins), std::vector<ULONG>{0});
  EXPECT_TRUE(capture->m_listOutSinkPins.IsEmpty());
  EXPECT_TRUE(Traced("Failed to retrieve pin property KSPROPERTY_PIN_DATAFLOW")) << AllTraces();
  EXPECT_TRUE(Traced("Failed to retrieve pin property KSPROPERTY_PIN_COMMUNICATION")) << AllTraces();
  WAVEFORMATEX f = PcmFormat(2, 16, 48000);
  EXPECT_EQ(capture->FindViablePin(&f, 0xF), nullptr);
}

TEST_F(KsWineTest, MalformedRepliesStayInsideTheirBuffers) {
  struct Case {
    const char* what;
    ReplyFault fault;
    bool pinKept;
    uint32_t ranges;
    bool takes32;  // the last (32-bit) range survives intact
  } cases[] = {
      {"range below 88 bytes", ReplyFault::RangeSizeBelow88, true, 3, false},
      {"first range of size zero", ReplyFault::RangeSizeZero, false, 0, false},
      {"last range past the reply", ReplyFault::RangePastReply, true, 2, false},
      {"count beyond the reply", ReplyFault::ItemCountBeyondReply, true, 3, true},
      {"name without terminator", ReplyFault::NameWithoutTerminator, true, 3, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DacConfig config;
    config.editFilter = [&c](tess::vdac::FilterSpec& f) {
      f.pins[0].ranges.resize(3);  // the WAVEFORMATEX ranges: 16, 24, then 32 bits last
      f.pins[0].fault = c.fault;
    };
    Use(config);
    std::string path;
    ASSERT_TRUE(FindDac(&path));
    OpenFilter<CKsAudRenFilter> render(path);
    ASSERT_EQ(render.hr, S_OK);  // the capture pin keeps the filter viable
    CKsAudPin* pin = render->m_listPins.GetHead()->pItem->GetId() == 0
                         ? static_cast<CKsAudPin*>(render->m_listPins.GetHead()->pItem)
                         : nullptr;
    ASSERT_EQ(pin != nullptr, c.pinKept);
    if (pin) {
      EXPECT_EQ(pin->m_listDataRange.GetCount(), c.ranges);
      WAVEFORMATEX f32 = PcmFormat(2, 32, 48000);
      EXPECT_EQ(pin->IsFormatSupported(&f32, 0xF) != FALSE, c.takes32);
      WAVEFORMATEX f16 = PcmFormat(2, 16, 48000);
      EXPECT_TRUE(pin->IsFormatSupported(&f16, 0xF));
      size_t nameLength = wcslen(pin->GetName());
      EXPECT_LT(nameLength, MAX_PATH / sizeof(WCHAR));
      if (c.fault != ReplyFault::NameWithoutTerminator) {
        EXPECT_STREQ(pin->GetName(), L"Playback");
      }
    }
    tess::vdac::stopUsingVirtualDac();
  }
}

TEST_F(KsWineTest, SyncIoctlPaths) {
  for (bool pend : {false, true}) {
    SCOPED_TRACE(pend ? "properties pend" : "properties complete at once");
    DacConfig config;
    config.pendAllProperties = pend;
    Use(config);
    std::string path;
    ASSERT_TRUE(FindDac(&path));  // the whole enumeration works on either path
    OpenFilter<CKsAudRenFilter> render(path);
    ASSERT_EQ(render.hr, S_OK);
    HANDLE h = render->GetHandle();
    uint64_t pendedBefore = tess::vdac::counters().pendedRequests;

    // A size query is a success carrying the size needed; the same error with a
    // buffer is a failure with 0 bytes.
    tess::ks::KsPinProperty ranges = tess::ks::makePinProperty(0, tess::ks::kPropertyPinDataRanges);
    ULONG bytes = 12345;
    EXPECT_EQ(CKsIrpTarget::SyncIoctl(h, IOCTL_KS_PROPERTY, &ranges, sizeof ranges, nullptr, 0, &bytes), S_OK);
    PKSMULTIPLE_ITEM reply = nullptr;
    ASSERT_EQ(render->GetPinPropertyMulti(0, KSPROPERTY_PIN_DATARANGES, &reply), S_OK);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(bytes, reply->Size);
    EXPECT_EQ(bytes, 8u + reply->Count * 88);
    free(reply);
    BYTE small[16];
    bytes = 12345;
    EXPECT_EQ(CKsIrpTarget::SyncIoctl(h, IOCTL_KS_PROPERTY, &ranges, sizeof ranges, small, sizeof small, &bytes),
              E_FAIL);
    EXPECT_EQ(bytes, 0u);

    // A fixed-size read completes with its bytes (after pending too).
    ULONG count = 0;
    tess::ks::KsPinProperty ctypes = tess::ks::makePinProperty(0, tess::ks::kPropertyPinCTypes);
    EXPECT_EQ(CKsIrpTarget::SyncIoctl(h, IOCTL_KS_PROPERTY, &ctypes, sizeof ctypes, &count, sizeof count, &bytes),
              S_OK);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(bytes, 4u);

    // An unsupported property fails, also when it fails after pending.
    tess::ks::KsPinProperty unknown = tess::ks::makePinProperty(0, 99);
    bytes = 12345;
    EXPECT_EQ(CKsIrpTarget::SyncIoctl(h, IOCTL_KS_PROPERTY, &unknown, sizeof unknown, &count, sizeof count, &bytes),
              E_FAIL);
    EXPECT_EQ(bytes, 0u);
    if (pend) {
      EXPECT_GT(tess::vdac::counters().pendedRequests, pendedBefore);
    }

    // Component id through the simple get.
    KSCOMPONENTID id = {};
    EXPECT_EQ(render->GetPropertySimple(ToGuid(tess::ks::kPropSetGeneral), tess::ks::kPropertyGeneralComponentId, &id,
                                        sizeof id),
              S_OK);
    EXPECT_EQ(id.Product.Data1, 0xFC575048u + 0x0007);
    tess::vdac::stopUsingVirtualDac();
  }
}

TEST_F(KsWineTest, InvalidHandlesAndEmptyReplies) {
  CaptureTraces(tess::kTraceFailure);
  ULONG bytes = 777;
  ULONG value = 0;
  for (HANDLE h : {HANDLE(nullptr), INVALID_HANDLE_VALUE}) {
    EXPECT_EQ(CKsIrpTarget::SyncIoctl(h, IOCTL_KS_PROPERTY, &value, sizeof value, nullptr, 0, &bytes), E_FAIL);
    EXPECT_EQ(bytes, 777u);  // left alone
  }
  EXPECT_TRUE(Traced("CKsIrpTarget::SyncIoctl Invalid Handle"));
  HANDLE closed = INVALID_HANDLE_VALUE;
  EXPECT_TRUE(CKsIrpTarget::SafeCloseHandle(closed));
  EXPECT_FALSE(CKsIrpTarget::IsValidHandle(nullptr));

  // A variable-size property whose size is 0 stores no buffer.
  DacConfig config;
  config.editFilter = [](tess::vdac::FilterSpec& f) { f.pins[1].rawReplies[tess::ks::kPropertyPinMediums] = {}; };
  Use(config);
  std::string path;
  ASSERT_TRUE(FindDac(&path));
  OpenFilter<CKsFilter> filter(path);
  ASSERT_EQ(filter.hr, S_OK);
  PKSMULTIPLE_ITEM reply = nullptr;
  EXPECT_EQ(filter->GetPinPropertyMulti(1, KSPROPERTY_PIN_MEDIUMS, &reply), S_OK);
  EXPECT_EQ(reply, nullptr);
  EXPECT_EQ(filter->GetPinPropertyMulti(0, KSPROPERTY_PIN_MEDIUMS, &reply), S_OK);
  ASSERT_NE(reply, nullptr);
  EXPECT_EQ(reply->Count, 1u);
  free(reply);

  // Closing twice closes once.
  HANDLE handle = tess::devices().createFile(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_TRUE(CKsIrpTarget::IsValidHandle(handle));
  uint64_t open = tess::vdac::counters().openHandles;
  EXPECT_TRUE(CKsIrpTarget::SafeCloseHandle(handle));
  EXPECT_EQ(tess::vdac::counters().openHandles, open - 1);
  EXPECT_FALSE(CKsIrpTarget::IsValidHandle(handle));
  EXPECT_TRUE(CKsIrpTarget::SafeCloseHandle(handle));
}

}  // namespace
}  // namespace kstest
