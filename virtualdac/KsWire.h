// Kernel-streaming wire layouts and identifiers as the virtual DAC reads and writes them.
// Portable: no Windows header, so the device model is built and tested natively too.
// Only layouts that are the same in 32- and 64-bit processes live here; the connect
// record and the stream header (which hold pointers) are read by the Win32 layer.
#pragma once

#include <cstdint>
#include <cstring>

namespace tess::vdac {

struct Guid {
  uint32_t data1;
  uint16_t data2, data3;
  uint8_t data4[8];
};
static_assert(sizeof(Guid) == 16, "GUID layout");

inline bool operator==(const Guid& a, const Guid& b) { return std::memcmp(&a, &b, sizeof(Guid)) == 0; }
inline bool operator!=(const Guid& a, const Guid& b) { return !(a == b); }

inline constexpr Guid kNullGuid{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// Property sets.
inline constexpr Guid kPropSetPin{0x8C134960, 0x51AD, 0x11CF, {0x87, 0x8A, 0x94, 0xF8, 0x01, 0xC1, 0x00, 0x00}};
inline constexpr Guid kPropSetTopology{0x720D4AC0, 0x7533, 0x11D0, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
inline constexpr Guid kPropSetGeneral{0x1464EDA5, 0x6A8F, 0x11D1, {0x9A, 0xA7, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr Guid kPropSetConnection{0x1D58C920, 0xAC9B, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};

// Categories.
inline constexpr Guid kCategoryAudio{0x6994AD04, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr Guid kCategoryRender{0x65E8773E, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr Guid kCategoryCapture{0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr Guid kHidInterfaceClass{0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
// Setup classes of the device functions.
inline constexpr Guid kSetupClassMedia{0x4D36E96C, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
inline constexpr Guid kSetupClassHid{0x745A17A0, 0x74D3, 0x11D0, {0xB6, 0xFE, 0x00, 0xA0, 0xC9, 0x0F, 0x57, 0xDA}};

// Interfaces and mediums.
inline constexpr Guid kInterfaceSetStandard{0x1A8766A0, 0x62CE, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
inline constexpr Guid kMediumSetStandard{0x4747B320, 0x62CE, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
inline constexpr uint32_t kInterfaceStandardStreaming = 0;
inline constexpr uint32_t kInterfaceStandardLoopedStreaming = 1;
inline constexpr uint32_t kMediumAnyInstance = 0;

// Data formats.
inline constexpr Guid kFormatTypeAudio{0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr Guid kSubtypePcm{0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr Guid kSubtypeAnalog{0x6DBA3190, 0x67BD, 0x11CF, {0xA0, 0xF7, 0x00, 0x20, 0xAF, 0xD1, 0x56, 0xE4}};
inline constexpr Guid kSpecifierWaveFormatEx{0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
inline constexpr Guid kSpecifierDSound{0x518590A2, 0xA184, 0x11D0, {0x85, 0x22, 0x00, 0xC0, 0x4F, 0xD9, 0xBA, 0xF3}};
inline constexpr Guid kSpecifierNone{0x0F6417D6, 0xC318, 0x11D0, {0xA4, 0x3F, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};

// Node types and terminal categories.
inline constexpr Guid kNodeDac{0x507AE360, 0xC554, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};
inline constexpr Guid kNodeAdc{0x4D837FE0, 0xC555, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};
inline constexpr Guid kNodeVolume{0x3A5ACC00, 0xC557, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};
inline constexpr Guid kNodeMute{0x02B223C0, 0xC557, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};
inline constexpr Guid kNodeSpeaker{0xDFF21CE1, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr Guid kNodeLineConnector{0xDFF21FE3, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr Guid kNodeSpdifInterface{0xDFF21FE5, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};

// Property ids and flags.
enum PinProperty : uint32_t {
  kPinCInstances = 0,
  kPinCTypes = 1,
  kPinDataFlow = 2,
  kPinDataRanges = 3,
  kPinDataIntersection = 4,
  kPinInterfaces = 5,
  kPinMediums = 6,
  kPinCommunication = 7,
  kPinGlobalCInstances = 8,
  kPinNecessaryInstances = 9,
  kPinPhysicalConnection = 10,
  kPinCategory = 11,
  kPinName = 12,
};
enum TopologyProperty : uint32_t { kTopologyCategories = 0, kTopologyNodes = 1, kTopologyConnections = 2, kTopologyName = 3 };
inline constexpr uint32_t kGeneralComponentId = 0;
inline constexpr uint32_t kConnectionState = 0;
inline constexpr uint32_t kConnectionDataFormat = 2;
inline constexpr uint32_t kPropertyGet = 1;
inline constexpr uint32_t kPropertySet = 2;

enum DataFlow : uint32_t { kDataFlowIn = 1, kDataFlowOut = 2 };
enum Communication : uint32_t {
  kCommunicationNone = 0,
  kCommunicationSink = 1,
  kCommunicationSource = 2,
  kCommunicationBoth = 3,
  kCommunicationBridge = 4,
};
enum KsState : uint32_t { kStateStop = 0, kStateAcquire = 1, kStatePause = 2, kStateRun = 3 };
enum KsReset : uint32_t { kResetBegin = 0, kResetEnd = 1 };

inline constexpr uint16_t kWaveFormatPcm = 1;
inline constexpr uint16_t kWaveFormatExtensible = 0xFFFE;

// Win32 error codes and NT status values that replies carry (the device model has no
// Windows header, so it names the ones it uses).
enum Win32Error : uint32_t {
  kErrSuccess = 0,
  kErrFileNotFound = 2,
  kErrInvalidHandle = 6,
  kErrNotReady = 21,
  kErrBadCommand = 22,
  kErrNotSupported = 50,
  kErrInvalidParameter = 87,
  kErrInsufficientBuffer = 122,
  kErrBusy = 170,
  kErrMoreData = 234,
  kErrNoMoreItems = 259,
  kErrIoPending = 997,
  kErrNotFound = 1168,
  kErrNoMatch = 1169,
  kErrSetNotFound = 1170,
  kErrDeviceRemoved = 1617,
};

// Wire records (little-endian, natural alignment identical in 32- and 64-bit processes).
struct KsProperty {
  Guid set;
  uint32_t id;
  uint32_t flags;
};
struct KsPinProperty {
  KsProperty property;
  uint32_t pinId;
  uint32_t reserved;
};
struct KsMultipleItem {
  uint32_t size;
  uint32_t count;
};
struct KsIdentifier {
  Guid set;
  uint32_t id;
  uint32_t flags;
};
struct KsPinCInstances {
  uint32_t possibleCount;
  uint32_t currentCount;
};
struct KsComponentId {
  Guid manufacturer, product, component, name;
  uint32_t version, revision;
};
// KSDATAFORMAT and KSDATARANGE share one 64-byte layout.
struct KsDataFormat {
  uint32_t formatSize;
  uint32_t flags;
  uint32_t sampleSize;
  uint32_t reserved;
  Guid majorFormat;
  Guid subFormat;
  Guid specifier;
};
struct KsDataRangeAudio {
  KsDataFormat dataRange;
  uint32_t maximumChannels;
  uint32_t minimumBitsPerSample;
  uint32_t maximumBitsPerSample;
  uint32_t minimumSampleFrequency;
  uint32_t maximumSampleFrequency;
  uint32_t padding;  // the platform's record is 8-byte aligned: 88 bytes
};
#pragma pack(push, 1)
struct WaveFormatEx {
  uint16_t formatTag;
  uint16_t channels;
  uint32_t samplesPerSec;
  uint32_t avgBytesPerSec;
  uint16_t blockAlign;
  uint16_t bitsPerSample;
  uint16_t cbSize;
};
struct WaveFormatExtensible {
  WaveFormatEx format;
  uint16_t validBitsPerSample;
  uint32_t channelMask;
  Guid subFormat;
};
#pragma pack(pop)

static_assert(sizeof(KsProperty) == 24 && sizeof(KsPinProperty) == 32, "KSPROPERTY / KSP_PIN");
static_assert(sizeof(KsMultipleItem) == 8 && sizeof(KsIdentifier) == 24, "KSMULTIPLE_ITEM / KSIDENTIFIER");
static_assert(sizeof(KsComponentId) == 72, "KSCOMPONENTID");
static_assert(sizeof(KsDataFormat) == 64 && sizeof(KsDataRangeAudio) == 88, "KSDATARANGE(_AUDIO)");
static_assert(sizeof(WaveFormatEx) == 18 && sizeof(WaveFormatExtensible) == 40, "WAVEFORMATEX(TENSIBLE)");

}  // namespace tess::vdac
