#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KsClassify.h"
#include "KsConnect.h"
#include "KsDataRange.h"
#include "KsDevicePath.h"
#include "KsList.h"
#include "KsReplyBuilder.h"
#include "KsTrace.h"
#include "KsWire.h"

namespace tess::ks {
namespace {

using test::audioRange;
using test::extensibleFormat;
using test::pcmFormat;
using test::ReplyBuilder;

std::vector<KsDataRangeAudio> keptRanges(const std::vector<uint8_t>& reply, AudioRangeScan* scanOut = nullptr) {
  std::vector<KsDataRangeAudio> kept;
  AudioRangeScan scan =
      scanAudioRanges(viewMultipleItem(reply.data(), reply.size()), [&](const KsDataRangeAudio& r) { kept.push_back(r); });
  if (scanOut) *scanOut = scan;
  return kept;
}

TEST(KsList, AppendsWalksAndRemovesFromTheFront) {
  CKsList<int> list;
  int a = 1, b = 2, c = 3;
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_EQ(list.RemoveHead(), nullptr);
  ASSERT_TRUE(list.AddTail(&a) && list.AddTail(&b) && list.AddTail(&c));
  EXPECT_EQ(list.GetCount(), 3u);
  EXPECT_EQ(list.GetHead()->pPrev, nullptr);
  EXPECT_EQ(list.GetTail()->pItem, &c);
  EXPECT_EQ(list.GetTail()->pPrev->pItem, &b);
  std::vector<int> seen;
  for (int* item : list) seen.push_back(*item);
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(list.RemoveHead(), &a);
  EXPECT_EQ(list.GetHead()->pPrev, nullptr);
  list.RemoveAll();
  EXPECT_EQ(list.GetCount(), 0u);
  EXPECT_EQ(list.GetTail(), nullptr);

  CKsList<std::string> owned;  // DeleteAll frees the items (checked by the leak sanitizer)
  owned.AddTail(new std::string("x"));
  owned.AddTail(new std::string("y"));
  owned.DeleteAll();
  EXPECT_TRUE(owned.IsEmpty());
}

std::vector<std::string> g_traced;
void captureTrace(const char* message) { g_traced.emplace_back(message); }

TEST(KsTrace, EmitsOnlyAtOrBelowTheLevelAndFormatsExactly) {
  g_traced.clear();
  SetTraceSink(captureTrace);
  EXPECT_EQ(TraceLevel(), 0);
  Trace(kTraceFailure, "never %d", 1);  // level 0: nothing
  TraceEnter("CKsFilter::Instantiate()");
  EXPECT_TRUE(g_traced.empty());

  SetTraceLevel(6);
  TraceEnter("CKsFilter::Instantiate()");
  TraceLeaveResult("CKsFilter::Instantiate", static_cast<int32_t>(0x80004005u));
  TraceLeaveResult("CKsNode::CKsNode", 0);
  TraceLeave("CKsPin::GetId()");
  std::string longText(400, 'a');
  Trace(kTraceFailure, "Failed to create filter for %s", longText.c_str());
  SetTraceLevel(0);
  SetTraceSink(nullptr);

  ASSERT_EQ(g_traced.size(), 5u);
  EXPECT_EQ(g_traced[0], "CKsFilter::Instantiate() Enter");
  EXPECT_EQ(g_traced[1], "CKsFilter::Instantiate Leave, returning 0x80004005");
  EXPECT_EQ(g_traced[2], "CKsNode::CKsNode Leave, returning 00000000");
  EXPECT_EQ(g_traced[3], "CKsPin::GetId() Leave");
  EXPECT_EQ(g_traced[4].size(), static_cast<size_t>(kTraceMessageChars - 1));
}

TEST(KsWire, PinPropertyRequestBytes) {
  KsPinProperty p = makePinProperty(3, kPropertyPinDataRanges);
  EXPECT_EQ(p.property.set, kPropSetPin);
  EXPECT_EQ(p.property.id, 3u);
  EXPECT_EQ(p.property.flags, kPropertyTypeGet);
  EXPECT_EQ(p.pinId, 3u);
  EXPECT_EQ(p.reserved, 0u);
  KsProperty set = makeProperty(kPropSetConnection, kPropertyConnectionState, kPropertyTypeSet);
  EXPECT_EQ(set.flags, 2u);
}

TEST(KsWire, MultipleItemViewIsBoundedByBufferAndHeader) {
  KsIdentifier ids[3] = {{kInterfaceSetStandard, 5, 0}, {kMediumSetStandard, 0, 0}, {kInterfaceSetStandard, 0, 7}};
  ReplyBuilder b;
  for (const KsIdentifier& id : ids) b.item(&id, sizeof id);
  std::vector<uint8_t> reply = b.build();
  MultipleItemView view = viewMultipleItem(reply.data(), reply.size());
  EXPECT_EQ(itemsInReply(view, sizeof(KsIdentifier)), 3u);
  EXPECT_TRUE(containsIdentifier(view.items, 3, kInterfaceSetStandard, 0));  // flags ignored
  EXPECT_FALSE(containsIdentifier(view.items, 2, kInterfaceSetStandard, 0));
  EXPECT_TRUE(containsIdentifier(view.items, 2, kMediumSetStandard, 0));

  struct Case {
    const char* what;
    int64_t count, size;
    size_t bufferBytes;
    uint32_t expected;
  } cases[] = {
      {"count beyond the reply", 9, -1, reply.size(), 3},
      {"header size smaller than the buffer", 3, 8 + 24, reply.size(), 1},
      {"header size larger than the buffer", 3, 4096, reply.size(), 3},
      {"buffer cut inside the last item", 3, -1, reply.size() - 1, 2},
      {"header size below the header", 3, 4, reply.size(), 0},
      {"reply shorter than its header", 3, -1, 7, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> r = b.build(c.count, c.size);
    EXPECT_EQ(itemsInReply(viewMultipleItem(r.data(), c.bufferBytes), sizeof(KsIdentifier)), c.expected);
  }
  EXPECT_EQ(viewMultipleItem(nullptr, 100).items, nullptr);
}

TEST(KsDataRange, WalkStopsAtMalformedRanges) {
  KsDataRangeAudio good = audioRange(2, 16, 32, 32000, 384000);
  KsDataRangeAudio zero = good;
  zero.dataRange.formatSize = 0;
  KsDataRangeAudio tiny = good;
  tiny.dataRange.formatSize = 40;
  KsDataRangeAudio huge = good;
  huge.dataRange.formatSize = 4096;

  struct Case {
    const char* what;
    std::vector<uint8_t> reply;
    uint32_t walked;
    bool malformed;
  } cases[] = {
      {"well formed", ReplyBuilder().range(good).range(good).build(), 2, false},
      {"empty", ReplyBuilder().build(), 0, false},
      {"zero size", ReplyBuilder().range(good).range(zero).range(good).build(), 1, true},
      {"below a KSDATARANGE", ReplyBuilder().range(tiny).range(good).build(), 0, true},
      {"reaching past the reply", ReplyBuilder().range(good).range(huge).build(), 1, true},
      {"count beyond the reply", ReplyBuilder().range(good).build(5), 1, true},
      {"count below the ranges", ReplyBuilder().range(good).range(good).build(1), 1, false},
      {"header size cuts the second", ReplyBuilder().range(good).range(good).build(-1, 8 + 88 + 50), 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DataRangeWalker walker(viewMultipleItem(c.reply.data(), c.reply.size()));
    const uint8_t* range;
    uint32_t size, walked = 0;
    while (walker.next(&range, &size)) {
      ++walked;
      EXPECT_GE(size, sizeof(KsDataRange));
      EXPECT_LE(range + size, c.reply.data() + c.reply.size());
    }
    EXPECT_EQ(walked, c.walked);
    EXPECT_EQ(walker.malformed(), c.malformed);
  }
}

TEST(KsDataRange, NextRangeStartsQuadAligned) {
  // A 68-byte range is followed by padding to 72, as the platform lays ranges out.
  KsDataRangeAudio odd = audioRange(2, 16, 16, 48000, 48000);
  odd.dataRange.formatSize = 68;
  std::vector<uint8_t> items(72 + sizeof(KsDataRangeAudio));
  std::memcpy(items.data(), &odd, 68);
  KsDataRangeAudio second = audioRange(8, 24, 24, 96000, 96000);
  std::memcpy(items.data() + 72, &second, sizeof second);
  ReplyBuilder b;
  b.item(items.data(), 72);
  b.item(items.data() + 72, sizeof second);
  std::vector<uint8_t> reply = b.build();
  std::vector<KsDataRangeAudio> kept = keptRanges(reply);
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept[1].maximumChannels, 8u);
  // The short one keeps its own bytes; the limits it lacks read as zero.
  EXPECT_EQ(kept[0].maximumChannels, 2u);
  EXPECT_EQ(kept[0].maximumBitsPerSample, 0u);
  EXPECT_EQ(kept[0].maximumSampleFrequency, 0u);
}

TEST(KsDataRange, ShortAudioRangeIsCopiedWithoutOverreadAndMatchesNothing) {
  KsDataRangeAudio r = audioRange(2, 16, 32, 32000, 384000);
  r.dataRange.formatSize = 64;  // a bare KSDATARANGE with an audio major format
  std::vector<uint8_t> reply = ReplyBuilder().item(&r, 64).build();
  std::vector<KsDataRangeAudio> kept = keptRanges(reply);
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].maximumChannels, 0u);
  WaveFormatEx f = pcmFormat(2, 16, 44100);
  std::vector<const KsDataRangeAudio*> ranges = {&kept[0]};
  for (uint32_t mask : {kCheckChannels, kCheckBitsPerSample, kCheckSampleRate, kCheckAll})
    EXPECT_FALSE(anyRangeAccepts(ranges, &f, mask)) << mask;
}

TEST(KsDataRange, SubFormatTestIsCumulative) {
  const Guid analog{0x6DBA3190, 0x67BD, 0x11CF, {0xA0, 0xF7, 0x00, 0x20, 0xAF, 0xD1, 0x56, 0xE4}};
  const Guid video{0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
  Guid ieeeFloat = kWaveFormatTagBase;
  ieeeFloat.data1 = 3;

  AudioRangeScan scan;
  // A first range with a non-wave sub-format is not kept; after a PCM range, a later
  // range with any sub-format and an audio major format is.
  std::vector<uint8_t> reply = ReplyBuilder()
                                   .range(audioRange(2, 8, 8, 1, 1, analog))
                                   .range(audioRange(2, 16, 16, 2, 2))
                                   .range(audioRange(2, 24, 24, 3, 3, analog))
                                   .range(audioRange(2, 32, 32, 4, 4, kDataFormatSubtypePcm, video))
                                   .build();
  std::vector<KsDataRangeAudio> kept = keptRanges(reply, &scan);
  EXPECT_TRUE(scan.subFormatPassed);
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept[0].minimumSampleFrequency, 2u);
  EXPECT_EQ(kept[1].minimumSampleFrequency, 3u);

  // Wave sub-formats pass whatever their tag; other family members do not.
  EXPECT_TRUE(isWaveSubFormat(ieeeFloat));
  EXPECT_TRUE(isWaveSubFormat(Guid{}));
  EXPECT_TRUE(isWaveSubFormat(kDataFormatSubtypePcm));
  EXPECT_FALSE(isWaveSubFormat(analog));
  EXPECT_FALSE(isWaveSubFormat(kDataFormatTypeAudio));  // same tail, but its tag needs four bytes

  // Only non-wave ranges: nothing passes.
  keptRanges(ReplyBuilder().range(audioRange(2, 8, 8, 1, 1, analog)).build(), &scan);
  EXPECT_FALSE(scan.subFormatPassed);
  // A passing range of another major format leaves the pin usable with no ranges.
  EXPECT_TRUE(keptRanges(ReplyBuilder().range(audioRange(2, 8, 8, 1, 1, kDataFormatSubtypePcm, video)).build(), &scan)
                  .empty());
  EXPECT_TRUE(scan.subFormatPassed);
}

TEST(KsDataRange, FormatMatchingByCheckMask) {
  std::vector<KsDataRangeAudio> storage = {audioRange(2, 16, 24, 44100, 96000), audioRange(8, 32, 32, 192000, 192000)};
  std::vector<const KsDataRangeAudio*> ranges = {&storage[0], &storage[1]};
  struct Case {
    uint16_t channels, bits;
    uint32_t rate, mask;
    bool expected;
  } cases[] = {
      {2, 24, 96000, kCheckAll, true},        // inclusive upper limits
      {2, 16, 44100, kCheckAll, true},        // inclusive lower limits
      {2, 32, 44100, kCheckAll, false},       // width from one range, rate from the other
      {2, 32, 44100, kCheckBitsPerSample, true},  // mask 4 ignores rate and channels
      {16, 32, 1, kCheckBitsPerSample, true},
      {2, 20, 96000, kCheckSampleRate, true},
      {2, 16, 22050, kCheckSampleRate, false},
      {8, 16, 44100, kCheckChannels, true},
      {9, 16, 44100, kCheckChannels, false},
      {9, 8, 1, 0x1 | 0x10, true},  // other bits are ignored
  };
  for (const Case& c : cases) {
    WaveFormatEx f = pcmFormat(c.channels, c.bits, c.rate);
    EXPECT_EQ(anyRangeAccepts(ranges, &f, c.mask), c.expected)
        << c.channels << "ch " << c.bits << "bit " << c.rate << " mask " << c.mask;
  }

  // An extensible format is matched on its SubFormat, not on the tag 0xFFFE.
  WaveFormatExtensible ext = extensibleFormat(2, 24, 48000);
  EXPECT_TRUE(anyRangeAccepts(ranges, &ext, kCheckAll));
  Guid ieeeFloat = kWaveFormatTagBase;
  ieeeFloat.data1 = 3;
  WaveFormatExtensible flt = extensibleFormat(2, 24, 48000, ieeeFloat);
  EXPECT_FALSE(anyRangeAccepts(ranges, &flt, kCheckAll));
  // An extensible tag without room for its SubFormat is not read past its end.
  WaveFormatEx shortExt = pcmFormat(2, 24, 48000);
  shortExt.formatTag = kWaveFormatExtensible;
  shortExt.cbSize = 0;
  EXPECT_FALSE(anyRangeAccepts(ranges, &shortExt, kCheckAll));
  // A float tag against a PCM range; wildcard GUIDs accept it.
  WaveFormatEx floatTag = pcmFormat(2, 24, 48000);
  floatTag.formatTag = 3;
  EXPECT_FALSE(anyRangeAccepts(ranges, &floatTag, kCheckAll));
  KsDataRangeAudio wildcard = audioRange(2, 16, 32, 1, 400000, Guid{}, Guid{});
  wildcard.dataRange.specifier = Guid{};
  std::vector<const KsDataRangeAudio*> wild = {&wildcard};
  EXPECT_TRUE(anyRangeAccepts(wild, &floatTag, kCheckAll));
  EXPECT_FALSE(anyRangeAccepts(wild, nullptr, kCheckAll));
}

// WAVEFORMATEX ranges state valid bits, DirectSound ranges containers: one rule for
// probing (anyRangeAccepts) and for pin opening (matchPcmRanges with its channels).
TEST(KsDataRange, ValidBitsAndContainersFromTheirOwnRanges) {
  auto dsound = [](KsDataRangeAudio r) {
    r.dataRange.specifier = kDataFormatSpecifierDSound;
    return r;
  };
  // A device that streams 24 bits only in 4-byte containers, and 16 bits packed.
  std::vector<KsDataRangeAudio> only24in32 = {audioRange(2, 16, 16, 32000, 384000), audioRange(2, 24, 24, 32000, 384000),
                                              dsound(audioRange(2, 16, 16, 32000, 384000)),
                                              dsound(audioRange(2, 32, 32, 32000, 384000))};
  // The same widths, every one packed.
  std::vector<KsDataRangeAudio> packed = {audioRange(2, 16, 32, 32000, 384000),
                                          dsound(audioRange(2, 16, 32, 32000, 384000))};
  // No DirectSound range: the WAVEFORMATEX range states containers too.
  std::vector<KsDataRangeAudio> noDsound = {audioRange(8, 24, 24, 32000, 384000)};
  auto pointers = [](const std::vector<KsDataRangeAudio>& v) {
    std::vector<const KsDataRangeAudio*> p;
    for (const KsDataRangeAudio& r : v) p.push_back(&r);
    return p;
  };
  struct Case {
    const std::vector<KsDataRangeAudio>* ranges;
    uint16_t container, valid;
    uint32_t mask;
    bool expected;
  } cases[] = {
      {&only24in32, 32, 24, kCheckAll, true},
      {&only24in32, 24, 24, kCheckAll, false},  // packed 24 is refused
      {&only24in32, 32, 32, kCheckAll, false},  // no range states 32 valid bits
      {&only24in32, 16, 16, kCheckAll, true},
      {&only24in32, 24, 24, kCheckSampleRate, true},  // widths not checked
      {&packed, 24, 24, kCheckAll, true},
      {&packed, 32, 24, kCheckAll, true},
      {&noDsound, 24, 24, kCheckAll, true},
      {&noDsound, 32, 24, kCheckAll, false},
  };
  for (const Case& c : cases) {
    WaveFormatExtensible f = extensibleFormat(2, c.container, 48000);
    f.validBitsPerSample = c.valid;
    EXPECT_EQ(anyRangeAccepts(pointers(*c.ranges), &f, c.mask), c.expected)
        << c.container << "/" << c.valid << " mask " << c.mask << " case " << (&c - cases);
  }
  // A plain WAVEFORMATEX is packed: 24 bits is a 24-bit container.
  WaveFormatEx f24 = pcmFormat(2, 24, 48000);
  EXPECT_FALSE(anyRangeAccepts(pointers(only24in32), &f24, kCheckBitsPerSample));
  // Valid bits 0 in an extensible format mean a full container.
  WaveFormatExtensible zeroValid = extensibleFormat(2, 32, 48000);
  zeroValid.validBitsPerSample = 0;
  EXPECT_FALSE(anyRangeAccepts(pointers(only24in32), &zeroValid, kCheckAll));

  // Pin opening: the same answer, and the channels of the ranges that take the samples.
  PcmQuery query;
  query.containerBits = 32;
  query.validBits = 24;
  query.sampleRate = 96000;
  PcmMatch m = matchPcmRanges(pointers(noDsound), query, kCheckBitsPerSample | kCheckSampleRate);
  EXPECT_FALSE(m.matched);
  query.containerBits = 24;
  m = matchPcmRanges(pointers(noDsound), query, kCheckBitsPerSample | kCheckSampleRate);
  EXPECT_TRUE(m.matched);
  EXPECT_EQ(m.maxChannels, 8u);
  // A device's exact channel rule.
  query.channels = 2;
  query.exactChannels = true;
  EXPECT_FALSE(matchPcmRanges(pointers(noDsound), query, kCheckAll).matched);
  query.channels = 8;
  EXPECT_TRUE(matchPcmRanges(pointers(noDsound), query, kCheckAll).matched);
}

struct ConnectRecord {
  uint8_t* bytes = nullptr;
  uint32_t size = 0;
  ~ConnectRecord() { std::free(bytes); }
};

TEST(KsConnect, InitialRecordLayout) {
  ConnectRecord rec;
  rec.bytes = static_cast<uint8_t*>(std::calloc(kConnectInitialSize, 1));
  rec.size = kConnectInitialSize;
  initConnectRecord(rec.bytes, 7);
  EXPECT_EQ(kConnectInitialSize, sizeof(void*) == 4 ? 146u : 154u);
  KsPinConnect c = readConnect(rec.bytes);
  EXPECT_EQ(c.iface.set, kInterfaceSetStandard);
  EXPECT_EQ(c.iface.id, kInterfaceStandardStreaming);
  EXPECT_EQ(c.medium.set, kMediumSetStandard);
  EXPECT_EQ(c.medium.id, kMediumTypeAnyInstance);
  EXPECT_EQ(c.pinId, 7u);
  EXPECT_EQ(c.pinToHandle, nullptr);
  EXPECT_EQ(c.priority.priorityClass, kPriorityNormal);
  EXPECT_EQ(c.priority.prioritySubClass, 1u);
  KsDataFormat f = readConnectDataFormat(rec.bytes);
  EXPECT_EQ(f.formatSize, 82u);
  EXPECT_EQ(f.sampleSize, 0u);
  EXPECT_EQ(f.majorFormat, kDataFormatTypeAudio);
  EXPECT_EQ(f.subFormat, kDataFormatSubtypePcm);
  EXPECT_EQ(f.specifier, kDataFormatSpecifierWaveFormatEx);
  setConnectLooped(rec.bytes, true);
  EXPECT_EQ(readConnect(rec.bytes).iface.id, kInterfaceStandardLoopedStreaming);
  setConnectLooped(rec.bytes, false);
  EXPECT_EQ(readConnect(rec.bytes).iface.id, kInterfaceStandardStreaming);
}

TEST(KsConnect, SetFormatReshapesTheRecord) {
  ConnectRecord rec;
  rec.bytes = static_cast<uint8_t*>(std::calloc(kConnectInitialSize, 1));
  rec.size = kConnectInitialSize;
  initConnectRecord(rec.bytes, 1);
  std::vector<uint8_t> head(rec.bytes, rec.bytes + kConnectWaveFormatOffset);

  WaveFormatEx pcm = pcmFormat(2, 16, 44100);
  ASSERT_TRUE(setConnectFormat(&rec.bytes, &rec.size, &pcm));
  EXPECT_EQ(rec.size, kConnectInitialSize);  // PCM keeps the record
  EXPECT_EQ(readConnectDataFormat(rec.bytes).sampleSize, 4u);
  EXPECT_EQ(std::memcmp(rec.bytes + kConnectWaveFormatOffset, &pcm, sizeof pcm), 0);

  WaveFormatExtensible ext = extensibleFormat(2, 24, 96000);
  ASSERT_TRUE(setConnectFormat(&rec.bytes, &rec.size, &ext));
  EXPECT_EQ(rec.size, kConnectWaveFormatOffset + 40);  // 168 in a 32-bit process
  KsDataFormat f = readConnectDataFormat(rec.bytes);
  EXPECT_EQ(f.formatSize, 104u);
  EXPECT_EQ(f.sampleSize, 6u);
  EXPECT_EQ(f.subFormat, kDataFormatSubtypePcm);  // the data format keeps declaring PCM
  EXPECT_EQ(std::memcmp(rec.bytes + kConnectWaveFormatOffset, &ext, sizeof ext), 0);
  EXPECT_EQ(std::memcmp(rec.bytes, head.data(), head.size() - 64), 0);  // connect part preserved
  EXPECT_EQ(readConnect(rec.bytes).pinId, 1u);

  // A PCM format after an extensible one shrinks the record back.
  ASSERT_TRUE(setConnectFormat(&rec.bytes, &rec.size, &pcm));
  EXPECT_EQ(rec.size, kConnectInitialSize);
  EXPECT_EQ(readConnectDataFormat(rec.bytes).formatSize, 82u);

  // Non-PCM tags carry their cbSize; sample size is kept to 16 bits.
  WaveFormatEx wide = pcmFormat(4096, 32, 48000);
  wide.formatTag = 3;
  wide.cbSize = 2;
  EXPECT_EQ(waveFormatBytes(wide), 20u);
  EXPECT_EQ(formatSampleSize(wide), (4096u * 32 / 8) & 0xFFFF);
}

TEST(KsClassify, PinsJoinTheirLists) {
  using L = PinListId;
  struct Case {
    uint32_t flow, comm;
    std::vector<L> lists;
    bool recognised;
  } cases[] = {
      {kDataFlowIn, kCommunicationNone, {L::NoCommunication}, true},
      {kDataFlowIn, kCommunicationSink, {L::InSink}, true},
      {kDataFlowIn, kCommunicationSource, {L::InSource}, true},
      {kDataFlowIn, kCommunicationBoth, {L::InSink, L::InSource}, true},
      {kDataFlowOut, kCommunicationNone, {L::NoCommunication}, true},
      {kDataFlowOut, kCommunicationSink, {L::OutSink}, true},
      {kDataFlowOut, kCommunicationSource, {L::OutSource}, true},
      {kDataFlowOut, kCommunicationBoth, {L::OutSink, L::OutSource}, true},
      {7, kCommunicationSink, {L::OutSink}, true},  // any flow other than in counts as out
      {kDataFlowIn, kCommunicationBridge, {}, false},
      {kDataFlowOut, 99, {}, false},
  };
  for (const Case& c : cases) {
    PinPlacement p = classifyPin(c.flow, c.comm);
    std::vector<L> got(p.lists, p.lists + p.count);
    EXPECT_EQ(got, c.lists) << c.flow << "/" << c.comm;
    EXPECT_EQ(p.recognised, c.recognised);
  }
  EXPECT_EQ(audioPinKind(kDataFlowIn, kCommunicationSink), AudioPinKind::Render);
  EXPECT_EQ(audioPinKind(kDataFlowOut, kCommunicationSink), AudioPinKind::Capture);
  EXPECT_EQ(audioPinKind(kDataFlowIn, kCommunicationBoth), AudioPinKind::Plain);
  EXPECT_EQ(audioPinKind(kDataFlowOut, kCommunicationSource), AudioPinKind::Plain);
  EXPECT_FALSE(isAudioFilterCommunication(kCommunicationNone));
  EXPECT_FALSE(isAudioFilterCommunication(kCommunicationBridge));
  EXPECT_TRUE(isAudioFilterCommunication(kCommunicationBoth));
}

}  // namespace
}  // namespace tess::ks

namespace tess::ks {
namespace {

TEST(KsDevicePath, InterfacesOfOneDeviceInstance) {
  const char* render = "\\\\?\\usb#vid_1209&pid_0007&mi_01#6&2c4a6e5b&0&0001#{65e8773e-8f56-11d0-a3b9-00a0c9223196}\\global";
  const char* capture = "\\\\?\\USB#VID_1209&PID_0007&MI_01#6&2C4A6E5B&0&0001#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\record";
  const char* otherInstance = "\\\\?\\usb#vid_1209&pid_0007&mi_01#6&2c4a6e5b&0&0002#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\record";
  const char* prefix = "\\\\?\\usb#vid_1209&pid_0007&mi_01#6&2c4a6e5b&0&000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}";
  EXPECT_TRUE(sameDeviceInstance(render, capture));  // case is not significant
  EXPECT_FALSE(sameDeviceInstance(render, otherInstance));
  EXPECT_FALSE(sameDeviceInstance(render, prefix));
  EXPECT_FALSE(sameDeviceInstance("no class part", "no class part"));
  EXPECT_FALSE(sameDeviceInstance(nullptr, render));
  EXPECT_EQ(deviceInstanceLength("ab#{x}"), 2u);
}

}  // namespace
}  // namespace tess::ks
