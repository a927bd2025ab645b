// Kernel-streaming wire formats as the platform lays them out in memory, defined here
// without any Windows header so that they can be built and tested everywhere. The
// Windows build checks every layout against ks.h / ksmedia.h / mmreg.h
// (KsLayoutChecks.cpp). Layouts that hold a pointer follow the process's pointer size,
// as the platform's do (a connect record is 64 bytes in a 32-bit process, 72 in a
// 64-bit one).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tess::ks {

struct Guid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};
static_assert(sizeof(Guid) == 16);

inline bool operator==(const Guid& a, const Guid& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
inline bool operator!=(const Guid& a, const Guid& b) { return !(a == b); }
inline bool isNullGuid(const Guid& g) { return g == Guid{}; }

// Property sets.
inline constexpr Guid kPropSetGeneral{0x1464EDA5, 0x6A8F, 0x11D1, {0x9A, 0xA7, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr Guid kPropSetConnection{0x1D58C920, 0xAC9B, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
inline constexpr Guid kPropSetTopology{0x720D4AC0, 0x7533, 0x11D0, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
inline constexpr Guid kPropSetPin{0x8C134960, 0x51AD, 0x11CF, {0x87, 0x8A, 0x94, 0xF8, 0x01, 0xC1, 0x00, 0x00}};
// Interfaces and mediums.
inline constexpr Guid kInterfaceSetStandard{0x1A8766A0, 0x62CE, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
inline constexpr Guid kMediumSetStandard{0x4747B320, 0x62CE, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
// Data formats.
inline constexpr Guid kDataFormatTypeAudio{0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr Guid kDataFormatSubtypePcm{0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr Guid kDataFormatSubtypeAnalog{0x6DBA3190, 0x67BD, 0x11CF, {0xA0, 0xF7, 0x00, 0x20, 0xAF, 0xD1, 0x56, 0xE4}};
// The wave-format-tag family {tag-0000-0010-8000-00AA00389B71}; this is tag 0.
inline constexpr Guid kWaveFormatTagBase{0x00000000, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr Guid kDataFormatSpecifierWaveFormatEx{0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
inline constexpr Guid kDataFormatSpecifierDSound{0x518590A2, 0xA184, 0x11D0, {0x85, 0x22, 0x00, 0xC0, 0x4F, 0xD9, 0xBA, 0xF3}};
inline constexpr Guid kDataFormatSpecifierNone{0x0F6417D6, 0xC318, 0x11D0, {0xA4, 0x3F, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
// Device-interface categories.
inline constexpr Guid kCategoryAudio{0x6994AD04, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr Guid kCategoryRender{0x65E8773E, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr Guid kCategoryCapture{0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
// Topology node types and terminal (pin) categories.
inline constexpr Guid kNodeTypeDac{0x507AE360, 0xC554, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};
inline constexpr Guid kNodeTypeAdc{0x4D837FE0, 0xC555, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};
inline constexpr Guid kNodeTypeVolume{0x3A5ACC00, 0xC557, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};
inline constexpr Guid kNodeTypeMute{0x02B223C0, 0xC557, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};
inline constexpr Guid kNodeTypeSpeaker{0xDFF21CE1, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr Guid kNodeTypeLineConnector{0xDFF21FE3, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr Guid kNodeTypeSpdifInterface{0xDFF21FE5, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};

// Control codes.
inline constexpr uint32_t kIoctlKsProperty = 0x2F0003;
inline constexpr uint32_t kIoctlKsResetState = 0x2F001B;
inline constexpr uint32_t kIoctlKsWriteStream = 0x2F8013;
inline constexpr uint32_t kIoctlKsReadStream = 0x2F4017;

// Property flags and ids.
inline constexpr uint32_t kPropertyTypeGet = 1;
inline constexpr uint32_t kPropertyTypeSet = 2;
inline constexpr uint32_t kPropertyGeneralComponentId = 0;
inline constexpr uint32_t kPropertyConnectionState = 0;
inline constexpr uint32_t kPropertyConnectionDataFormat = 2;
inline constexpr uint32_t kPropertyTopologyCategories = 0;
inline constexpr uint32_t kPropertyTopologyNodes = 1;
inline constexpr uint32_t kPropertyPinCInstances = 0;
inline constexpr uint32_t kPropertyPinCTypes = 1;
inline constexpr uint32_t kPropertyPinDataFlow = 2;
inline constexpr uint32_t kPropertyPinDataRanges = 3;
inline constexpr uint32_t kPropertyPinInterfaces = 5;
inline constexpr uint32_t kPropertyPinMediums = 6;
inline constexpr uint32_t kPropertyPinCommunication = 7;
inline constexpr uint32_t kPropertyPinGlobalCInstances = 8;
inline constexpr uint32_t kPropertyPinNecessaryInstances = 9;
inline constexpr uint32_t kPropertyPinPhysicalConnection = 10;
inline constexpr uint32_t kPropertyPinCategory = 11;
inline constexpr uint32_t kPropertyPinName = 12;

// Pin descriptor values.
inline constexpr uint32_t kDataFlowIn = 1;
inline constexpr uint32_t kDataFlowOut = 2;
inline constexpr uint32_t kCommunicationNone = 0;
inline constexpr uint32_t kCommunicationSink = 1;
inline constexpr uint32_t kCommunicationSource = 2;
inline constexpr uint32_t kCommunicationBoth = 3;
inline constexpr uint32_t kCommunicationBridge = 4;
inline constexpr uint32_t kInterfaceStandardStreaming = 0;
inline constexpr uint32_t kInterfaceStandardLoopedStreaming = 1;
inline constexpr uint32_t kMediumTypeAnyInstance = 0;
inline constexpr uint32_t kPriorityNormal = 0x40000000;

// Stream states and reset values.
inline constexpr uint32_t kStateStop = 0;
inline constexpr uint32_t kStateAcquire = 1;
inline constexpr uint32_t kStatePause = 2;
inline constexpr uint32_t kStateRun = 3;
inline constexpr uint32_t kResetBegin = 0;
inline constexpr uint32_t kResetEnd = 1;

// Wave format tags.
inline constexpr uint16_t kWaveFormatPcm = 1;
inline constexpr uint16_t kWaveFormatExtensible = 0xFFFE;

// KSIDENTIFIER (KSPROPERTY, KSPIN_INTERFACE, KSPIN_MEDIUM): 24 bytes, 8-aligned.
struct alignas(8) KsIdentifier {
  Guid set;
  uint32_t id;
  uint32_t flags;
};
static_assert(sizeof(KsIdentifier) == 24);
using KsProperty = KsIdentifier;

// KSP_PIN: a pin property request, 32 bytes.
struct KsPinProperty {
  KsProperty property;
  uint32_t pinId;
  uint32_t reserved;
};
static_assert(sizeof(KsPinProperty) == 32);

// KSMULTIPLE_ITEM header: total size (header included), item count, then the items.
struct KsMultipleItem {
  uint32_t size;
  uint32_t count;
};
static_assert(sizeof(KsMultipleItem) == 8);

// KSPIN_CINSTANCES.
struct KsPinCInstances {
  uint32_t possibleCount;
  uint32_t currentCount;
};

// KSCOMPONENTID: 72 bytes.
struct KsComponentId {
  Guid manufacturer;
  Guid product;
  Guid component;
  Guid name;
  uint32_t version;
  uint32_t revision;
};
static_assert(sizeof(KsComponentId) == 72);

// KSDATAFORMAT / KSDATARANGE: 64 bytes, 8-aligned.
struct alignas(8) KsDataFormat {
  uint32_t formatSize;
  uint32_t flags;
  uint32_t sampleSize;
  uint32_t reserved;
  Guid majorFormat;
  Guid subFormat;
  Guid specifier;
};
static_assert(sizeof(KsDataFormat) == 64);
using KsDataRange = KsDataFormat;

// KSDATARANGE_AUDIO: 84 bytes of fields, 88 with the platform's padding (named, so that
// records built here carry zeros there, not whatever a copy left).
struct alignas(8) KsDataRangeAudio {
  KsDataRange dataRange;
  uint32_t maximumChannels;
  uint32_t minimumBitsPerSample;
  uint32_t maximumBitsPerSample;
  uint32_t minimumSampleFrequency;
  uint32_t maximumSampleFrequency;
  uint32_t padding;
};
static_assert(sizeof(KsDataRangeAudio) == 88);

struct KsPriority {
  uint32_t priorityClass;
  uint32_t prioritySubClass;
};

// KSPIN_CONNECT: the pin-to handle is a pointer, so the size follows the process.
struct KsPinConnect {
  KsIdentifier iface;
  KsIdentifier medium;
  uint32_t pinId;
  void* pinToHandle;
  KsPriority priority;
};
static_assert(sizeof(KsPinConnect) == (sizeof(void*) == 8 ? 72 : 64));

#pragma pack(push, 1)
// WAVEFORMATEX: 18 bytes, byte-packed.
struct WaveFormatEx {
  uint16_t formatTag;
  uint16_t channels;
  uint32_t samplesPerSec;
  uint32_t avgBytesPerSec;
  uint16_t blockAlign;
  uint16_t bitsPerSample;
  uint16_t cbSize;
};
// WAVEFORMATEXTENSIBLE: 40 bytes, cbSize 22.
struct WaveFormatExtensible {
  WaveFormatEx format;
  uint16_t validBitsPerSample;
  uint32_t channelMask;
  Guid subFormat;
};
#pragma pack(pop)
static_assert(sizeof(WaveFormatEx) == 18);
static_assert(sizeof(WaveFormatExtensible) == 40);
inline constexpr uint16_t kWaveFormatExtensibleCbSize = sizeof(WaveFormatExtensible) - sizeof(WaveFormatEx);

// Property requests.
KsProperty makeProperty(const Guid& set, uint32_t id, uint32_t flags);
KsPinProperty makePinProperty(uint32_t pinId, uint32_t id);

// A bounded view of a KSMULTIPLE_ITEM reply. The items end at the smaller of the
// reply's buffer size and the header's own total size; a reply shorter than its
// header has no items.
struct MultipleItemView {
  const uint8_t* items = nullptr;
  size_t itemBytes = 0;
  uint32_t declaredCount = 0;
};
MultipleItemView viewMultipleItem(const void* reply, size_t replySize);
// How many fixed-size items really lie inside the reply (at most the declared count).
uint32_t itemsInReply(const MultipleItemView& view, size_t itemSize);

// True when one of count identifiers (24 bytes each, at items) has this set and id;
// their flags are not looked at.
bool containsIdentifier(const void* items, uint32_t count, const Guid& set, uint32_t id);

}  // namespace tess::ks
