// The ASIO host interface, written from its published binary interface.
//
// ABI choices, all pinned by static_asserts below:
//  - ASIO "long" is 32 bits on Windows; we spell it int32_t so the records keep
//    their layout in the native (LP64) build of the portable core too.
//  - Records are packed to 4 bytes, as hosts built with other compilers expect
//    (so ASIOTime is 148 bytes and its doubles may sit on 4-byte boundaries).
//  - On x86, IASIO methods after the three IUnknown slots use the C++ member
//    convention (__thiscall), the IUnknown slots __stdcall, host callbacks __cdecl.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#include <unknwn.h>
#define ASIO_CALLBACK __cdecl
#else
#define ASIO_CALLBACK
#endif

#pragma pack(push, 4)

typedef int32_t ASIOBool;
typedef int32_t ASIOError;
typedef int32_t ASIOSampleType;
typedef double ASIOSampleRate;

enum : int32_t { ASIOFalse = 0, ASIOTrue = 1 };

enum : int32_t {
  ASE_OK = 0,
  ASE_SUCCESS = 0x3f4847a0,
  ASE_NotPresent = -1000,
  ASE_HWMalfunction = -999,
  ASE_InvalidParameter = -998,
  ASE_InvalidMode = -997,
  ASE_SPNotAdvancing = -996,
  ASE_NoClock = -995,
  ASE_NoMemory = -994,
};

enum : int32_t {
  ASIOSTInt16MSB = 0,
  ASIOSTInt24MSB = 1,
  ASIOSTInt32MSB = 2,
  ASIOSTFloat32MSB = 3,
  ASIOSTFloat64MSB = 4,
  ASIOSTInt32MSB16 = 8,
  ASIOSTInt32MSB18 = 9,
  ASIOSTInt32MSB20 = 10,
  ASIOSTInt32MSB24 = 11,
  ASIOSTInt16LSB = 16,
  ASIOSTInt24LSB = 17,
  ASIOSTInt32LSB = 18,
  ASIOSTFloat32LSB = 19,
  ASIOSTFloat64LSB = 20,
  ASIOSTInt32LSB16 = 24,
  ASIOSTInt32LSB18 = 25,
  ASIOSTInt32LSB20 = 26,
  ASIOSTInt32LSB24 = 27,
  ASIOSTDSDInt8LSB1 = 32,
  ASIOSTDSDInt8MSB1 = 33,
  ASIOSTDSDInt8NER8 = 40,
};

// Host message selectors (asioMessage).
enum : int32_t {
  kAsioSelectorSupported = 1,
  kAsioEngineVersion = 2,
  kAsioResetRequest = 3,
  kAsioBufferSizeChange = 4,
  kAsioResyncRequest = 5,
  kAsioLatenciesChanged = 6,
  kAsioSupportsTimeInfo = 7,
  kAsioSupportsTimeCode = 8,
  kAsioMMCCommand = 9,
  kAsioSupportsInputMonitor = 10,
  kAsioSupportsInputGain = 11,
  kAsioSupportsInputMeter = 12,
  kAsioSupportsOutputGain = 13,
  kAsioSupportsOutputMeter = 14,
  kAsioOverload = 15,
};

// Driver `future` selectors.
enum : int32_t {
  kAsioEnableTimeCodeRead = 1,
  kAsioDisableTimeCodeRead = 2,
  kAsioSetInputMonitor = 3,
  kAsioTransport = 4,
  kAsioSetInputGain = 5,
  kAsioGetInputMeter = 6,
  kAsioSetOutputGain = 7,
  kAsioGetOutputMeter = 8,
  kAsioCanInputMonitor = 9,
  kAsioCanTimeInfo = 10,
  kAsioCanTimeCode = 11,
  kAsioCanTransport = 12,
  kAsioCanInputGain = 13,
  kAsioCanInputMeter = 14,
  kAsioCanOutputGain = 15,
  kAsioCanOutputMeter = 16,
  kAsioSetIoFormat = 0x23111961,
  kAsioGetIoFormat = 0x23111983,
  kAsioCanDoIoFormat = 0x23112004,
};

// ASIOTime.timeInfo.flags
enum : uint32_t {
  kSystemTimeValid = 1,
  kSamplePositionValid = 1 << 1,
  kSampleRateValid = 1 << 2,
  kSpeedValid = 1 << 3,
  kSampleRateChanged = 1 << 4,
  kClockSourceChanged = 1 << 5,
};

// ASIOTime.timeCode.flags
enum : uint32_t {
  kTcValid = 1,
  kTcRunning = 1 << 1,
  kTcReverse = 1 << 2,
  kTcOnspeed = 1 << 3,
  kTcStill = 1 << 4,
  kTcSpeedValid = 1 << 8,
};

typedef int32_t ASIOIoFormatType;
enum : int32_t { kASIOFormatInvalid = -1, kASIOPCMFormat = 0, kASIODSDFormat = 1 };

struct ASIOSamples {
  uint32_t hi;
  uint32_t lo;
};
typedef ASIOSamples ASIOTimeStamp;

struct ASIOClockSource {
  int32_t index;
  int32_t associatedChannel;
  int32_t associatedGroup;
  ASIOBool isCurrentSource;
  char name[32];
};

struct ASIOChannelInfo {
  int32_t channel;
  ASIOBool isInput;
  ASIOBool isActive;
  int32_t channelGroup;
  ASIOSampleType type;
  char name[32];
};

struct ASIOBufferInfo {
  ASIOBool isInput;
  int32_t channelNum;
  void* buffers[2];
};

struct AsioTimeInfo {
  double speed;
  ASIOTimeStamp systemTime;
  ASIOSamples samplePosition;
  ASIOSampleRate sampleRate;
  uint32_t flags;
  char reserved[12];
};

struct ASIOTimeCode {
  double speed;
  ASIOSamples timeCodeSamples;
  uint32_t flags;
  char future[64];
};

struct ASIOTime {
  int32_t reserved[4];
  AsioTimeInfo timeInfo;
  ASIOTimeCode timeCode;
};

struct ASIOIoFormat {
  ASIOIoFormatType FormatType;
  char future[512 - sizeof(ASIOIoFormatType)];
};

struct ASIOCallbacks {
  void(ASIO_CALLBACK* bufferSwitch)(int32_t doubleBufferIndex, ASIOBool directProcess);
  void(ASIO_CALLBACK* sampleRateDidChange)(ASIOSampleRate sRate);
  int32_t(ASIO_CALLBACK* asioMessage)(int32_t selector, int32_t value, void* message, double* opt);
  ASIOTime*(ASIO_CALLBACK* bufferSwitchTimeInfo)(ASIOTime* params, int32_t doubleBufferIndex,
                                                 ASIOBool directProcess);
};

#pragma pack(pop)

static_assert(sizeof(ASIOSamples) == 8, "ASIOSamples");
static_assert(sizeof(ASIOClockSource) == 48, "ASIOClockSource");
static_assert(offsetof(ASIOClockSource, name) == 16, "ASIOClockSource.name");
static_assert(sizeof(ASIOChannelInfo) == 52, "ASIOChannelInfo");
static_assert(offsetof(ASIOChannelInfo, type) == 16, "ASIOChannelInfo.type");
static_assert(offsetof(ASIOChannelInfo, name) == 20, "ASIOChannelInfo.name");
static_assert(offsetof(ASIOBufferInfo, buffers) == 8, "ASIOBufferInfo.buffers");
static_assert(sizeof(ASIOBufferInfo) == 8 + 2 * sizeof(void*), "ASIOBufferInfo");
static_assert(sizeof(AsioTimeInfo) == 48, "AsioTimeInfo");
static_assert(offsetof(AsioTimeInfo, systemTime) == 8, "AsioTimeInfo.systemTime");
static_assert(offsetof(AsioTimeInfo, samplePosition) == 16, "AsioTimeInfo.samplePosition");
static_assert(offsetof(AsioTimeInfo, sampleRate) == 24, "AsioTimeInfo.sampleRate");
static_assert(offsetof(AsioTimeInfo, flags) == 32, "AsioTimeInfo.flags");
static_assert(sizeof(ASIOTimeCode) == 84, "ASIOTimeCode");
static_assert(offsetof(ASIOTimeCode, flags) == 16, "ASIOTimeCode.flags");
static_assert(sizeof(ASIOTime) == 148, "ASIOTime");
static_assert(offsetof(ASIOTime, timeInfo) == 16, "ASIOTime.timeInfo");
static_assert(offsetof(ASIOTime, timeCode) == 64, "ASIOTime.timeCode");
static_assert(sizeof(ASIOIoFormat) == 512, "ASIOIoFormat");
static_assert(sizeof(ASIOCallbacks) == 4 * sizeof(void*), "ASIOCallbacks");

#if defined(_WIN32)
// The 24-slot driver interface: IUnknown (stdcall) then 21 member-convention slots.
struct IASIO : public IUnknown {
  virtual ASIOBool init(void* sysHandle) = 0;
  virtual void getDriverName(char* name) = 0;
  virtual int32_t getDriverVersion() = 0;
  virtual void getErrorMessage(char* string) = 0;
  virtual ASIOError start() = 0;
  virtual ASIOError stop() = 0;
  virtual ASIOError getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) = 0;
  virtual ASIOError getLatencies(int32_t* inputLatency, int32_t* outputLatency) = 0;
  virtual ASIOError getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                                  int32_t* granularity) = 0;
  virtual ASIOError canSampleRate(ASIOSampleRate sampleRate) = 0;
  virtual ASIOError getSampleRate(ASIOSampleRate* sampleRate) = 0;
  virtual ASIOError setSampleRate(ASIOSampleRate sampleRate) = 0;
  virtual ASIOError getClockSources(ASIOClockSource* clocks, int32_t* numSources) = 0;
  virtual ASIOError setClockSource(int32_t reference) = 0;
  virtual ASIOError getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) = 0;
  virtual ASIOError getChannelInfo(ASIOChannelInfo* info) = 0;
  virtual ASIOError createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels,
                                  int32_t bufferSize, ASIOCallbacks* callbacks) = 0;
  virtual ASIOError disposeBuffers() = 0;
  virtual ASIOError controlPanel() = 0;
  virtual ASIOError future(int32_t selector, void* opt) = 0;
  virtual ASIOError outputReady() = 0;
};
#endif

// 64-bit sample position or time stamp from its two 32-bit halves, and back.
inline uint64_t asioToU64(const ASIOSamples& s) {
  return (static_cast<uint64_t>(s.hi) << 32) | s.lo;
}
inline ASIOSamples asioFromU64(uint64_t v) {
  return ASIOSamples{static_cast<uint32_t>(v >> 32), static_cast<uint32_t>(v)};
}
