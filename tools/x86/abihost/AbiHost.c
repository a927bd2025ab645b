/* abihost: an x86 ASIO host written in C straight from the published binary interface,
 * sharing no header or code with the driver, for the x86 lane. It declares the IASIO
 * vtable itself (IUnknown slots __stdcall, the 21 driver slots __thiscall: `this` in
 * ECX, the callee pops the arguments, doubles on the stack), the records packed to 4
 * bytes, and the __cdecl host callbacks; then it drives a registered driver through a
 * short stream. A driver whose slots, conventions or record layout differ from what
 * hosts built by other compilers expect fails here (or crashes) rather than passing.
 *   abihost DRIVER_NAME   (as listed under HKLM\SOFTWARE\ASIO) */
#include <windows.h>
#include <objbase.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#if !defined(__i386__)
#error "abihost checks the x86 calling conventions: build it for x86 only"
#endif

typedef long ASIOBool;
typedef long ASIOError;
typedef double ASIOSampleRate;

#pragma pack(push, 4)
typedef struct { unsigned long hi, lo; } ASIOSamples;
typedef struct { unsigned long hi, lo; } ASIOTimeStamp;
typedef struct {
  long index, associatedChannel, associatedGroup;
  ASIOBool isCurrentSource;
  char name[32];
} ASIOClockSource;
typedef struct {
  long channel;
  ASIOBool isInput, isActive;
  long channelGroup;
  long type;
  char name[32];
} ASIOChannelInfo;
typedef struct {
  ASIOBool isInput;
  long channelNum;
  void* buffers[2];
} ASIOBufferInfo;
typedef struct {
  double speed;
  ASIOTimeStamp systemTime;
  ASIOSamples samplePosition;
  ASIOSampleRate sampleRate;
  unsigned long flags;
  char reserved[12];
} AsioTimeInfo;
typedef struct {
  double speed;
  ASIOSamples timeCodeSamples;
  unsigned long flags;
  char future[64];
} ASIOTimeCode;
typedef struct {
  long reserved[4];
  AsioTimeInfo timeInfo;
  ASIOTimeCode timeCode;
} ASIOTime;
typedef struct {
  void(__cdecl* bufferSwitch)(long index, ASIOBool directProcess);
  void(__cdecl* sampleRateDidChange)(ASIOSampleRate rate);
  long(__cdecl* asioMessage)(long selector, long value, void* message, double* opt);
  ASIOTime*(__cdecl* bufferSwitchTimeInfo)(ASIOTime* params, long index, ASIOBool directProcess);
} ASIOCallbacks;
#pragma pack(pop)

/* The layout hosts built by other compilers use. */
typedef char abi_channel_info[sizeof(ASIOChannelInfo) == 52 ? 1 : -1];
typedef char abi_buffer_info[sizeof(ASIOBufferInfo) == 16 ? 1 : -1];
typedef char abi_clock_source[sizeof(ASIOClockSource) == 48 ? 1 : -1];
typedef char abi_time[sizeof(ASIOTime) == 148 ? 1 : -1];
typedef char abi_sample_position[offsetof(ASIOTime, timeInfo.samplePosition) == 32 ? 1 : -1];
typedef char abi_time_rate[offsetof(ASIOTime, timeInfo.sampleRate) == 40 ? 1 : -1];

typedef struct IAsioDriver IAsioDriver;
typedef struct {
  HRESULT(__stdcall* QueryInterface)(IAsioDriver*, REFIID, void**);
  ULONG(__stdcall* AddRef)(IAsioDriver*);
  ULONG(__stdcall* Release)(IAsioDriver*);
  ASIOBool(__thiscall* init)(IAsioDriver*, void* sysHandle);
  void(__thiscall* getDriverName)(IAsioDriver*, char* name);
  long(__thiscall* getDriverVersion)(IAsioDriver*);
  void(__thiscall* getErrorMessage)(IAsioDriver*, char* message);
  ASIOError(__thiscall* start)(IAsioDriver*);
  ASIOError(__thiscall* stop)(IAsioDriver*);
  ASIOError(__thiscall* getChannels)(IAsioDriver*, long* inputs, long* outputs);
  ASIOError(__thiscall* getLatencies)(IAsioDriver*, long* input, long* output);
  ASIOError(__thiscall* getBufferSize)(IAsioDriver*, long* min, long* max, long* preferred, long* granularity);
  ASIOError(__thiscall* canSampleRate)(IAsioDriver*, ASIOSampleRate rate);
  ASIOError(__thiscall* getSampleRate)(IAsioDriver*, ASIOSampleRate* rate);
  ASIOError(__thiscall* setSampleRate)(IAsioDriver*, ASIOSampleRate rate);
  ASIOError(__thiscall* getClockSources)(IAsioDriver*, ASIOClockSource* clocks, long* count);
  ASIOError(__thiscall* setClockSource)(IAsioDriver*, long reference);
  ASIOError(__thiscall* getSamplePosition)(IAsioDriver*, ASIOSamples* position, ASIOTimeStamp* stamp);
  ASIOError(__thiscall* getChannelInfo)(IAsioDriver*, ASIOChannelInfo* info);
  ASIOError(__thiscall* createBuffers)(IAsioDriver*, ASIOBufferInfo* infos, long count, long size, ASIOCallbacks* callbacks);
  ASIOError(__thiscall* disposeBuffers)(IAsioDriver*);
  ASIOError(__thiscall* controlPanel)(IAsioDriver*);
  ASIOError(__thiscall* future)(IAsioDriver*, long selector, void* opt);
  ASIOError(__thiscall* outputReady)(IAsioDriver*);
} IAsioDriverVtbl;
struct IAsioDriver {
  const IAsioDriverVtbl* vtbl;
};

enum { kRate = 48000, kSwitchesWanted = 50, kOutputs = 2 };
enum { kAsioSelectorSupported = 1, kAsioEngineVersion = 2, kAsioSupportsTimeInfo = 7 };
enum { kSamplePositionValid = 2, kSampleRateValid = 4 };
enum { ASIOSTInt16LSB = 16, ASIOSTInt24LSB = 17, ASIOSTInt32LSB = 18, ASE_OK = 0, ASE_NotPresent = -1000 };

static int failures;
static void check(int ok, const char* what, long got) {
  printf("  [%s] %s (%ld)\n", ok ? "pass" : "FAIL", what, got);
  if (!ok) ++failures;
}

/* What the callbacks see; they run on the driver's thread. */
static IAsioDriver* driver;
static ASIOBufferInfo buffers[kOutputs];
static long bufferFrames;
static volatile LONG switches, badIndex, badPosition, badRate, badOutputReady;
static long lastIndex = -1;
static unsigned long long expectedPosition;
static HANDLE enoughSwitches;

static long sampleBytes;

static void fill(long index) {
  for (int c = 0; c < kOutputs; ++c) {
    unsigned char* out = (unsigned char*)buffers[c].buffers[index];
    for (long i = 0; i < bufferFrames; ++i) {
      const unsigned long value = ((unsigned long)(switches * bufferFrames + i) << 8) | (unsigned long)c;
      memcpy(out + i * sampleBytes, &value, (size_t)sampleBytes);
    }
  }
}

static ASIOTime* __cdecl onSwitchTimeInfo(ASIOTime* t, long index, ASIOBool directProcess) {
  (void)directProcess;
  if (index != 0 && index != 1) InterlockedIncrement(&badIndex);
  if (lastIndex >= 0 && index == lastIndex) InterlockedIncrement(&badIndex);
  lastIndex = index;
  if (t) {
    const unsigned long long at = ((unsigned long long)t->timeInfo.samplePosition.hi << 32) | t->timeInfo.samplePosition.lo;
    if (!(t->timeInfo.flags & kSamplePositionValid) || (switches > 0 && at != expectedPosition)) InterlockedIncrement(&badPosition);
    expectedPosition = at + (unsigned long long)bufferFrames;
    if (!(t->timeInfo.flags & kSampleRateValid) || t->timeInfo.sampleRate != (double)kRate) InterlockedIncrement(&badRate);
  }
  fill(index);
  const ASIOError ready = driver->vtbl->outputReady(driver);
  if (ready != ASE_OK && ready != ASE_NotPresent) InterlockedIncrement(&badOutputReady);
  if (InterlockedIncrement(&switches) == kSwitchesWanted) SetEvent(enoughSwitches);
  return t;
}

static void __cdecl onSwitch(long index, ASIOBool directProcess) { onSwitchTimeInfo(NULL, index, directProcess); }
static void __cdecl onRateChange(ASIOSampleRate rate) { (void)rate; }
static long __cdecl onMessage(long selector, long value, void* message, double* opt) {
  (void)message, (void)opt;
  switch (selector) {
    case kAsioSelectorSupported: return value == kAsioEngineVersion || value == kAsioSupportsTimeInfo;
    case kAsioEngineVersion: return 2;
    case kAsioSupportsTimeInfo: return 1;
    default: return 0;
  }
}

static int findClassId(const char* name, CLSID* clsid) {
  char key[300];
  snprintf(key, sizeof key, "SOFTWARE\\ASIO\\%s", name);
  char text[64];
  DWORD size = sizeof text - 1;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, key, "CLSID", RRF_RT_REG_SZ, NULL, text, &size) != ERROR_SUCCESS) return 0;
  text[sizeof text - 1] = 0;
  WCHAR wide[64];
  if (!MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 64)) return 0;
  return SUCCEEDED(CLSIDFromString(wide, clsid));
}

/* The buffer closest to 20 ms that the driver's size rules allow. */
static long chooseBufferSize(long min, long max, long preferred, long granularity) {
  long want = kRate / 50;
  if (want < min) want = min;
  if (want > max) want = max;
  if (granularity > 0) return min + (want - min) / granularity * granularity;
  if (granularity == -1) {
    long p = min;
    while (p * 2 <= want) p *= 2;
    return p;
  }
  return preferred;
}

static int stream(void) {
  long inputs = 0, outputs = 0;
  ASIOError e = driver->vtbl->getChannels(driver, &inputs, &outputs);
  check(e == ASE_OK && outputs >= kOutputs, "getChannels: outputs", outputs);
  if (outputs < kOutputs) return 0;
  check(driver->vtbl->canSampleRate(driver, (double)kRate) == ASE_OK, "canSampleRate(48000.0)", kRate);
  e = driver->vtbl->canSampleRate(driver, 12345.0);
  check(e != ASE_OK, "canSampleRate(12345.0) refused (error)", e);
  check(driver->vtbl->setSampleRate(driver, (double)kRate) == ASE_OK, "setSampleRate(48000.0)", kRate);
  ASIOSampleRate rate = 0;
  e = driver->vtbl->getSampleRate(driver, &rate);
  check(e == ASE_OK && rate == (double)kRate, "getSampleRate returns the double set", (long)rate);

  long min = 0, max = 0, preferred = 0, granularity = 0;
  e = driver->vtbl->getBufferSize(driver, &min, &max, &preferred, &granularity);
  check(e == ASE_OK && min > 0 && min <= preferred && preferred <= max, "getBufferSize: 0 < min <= preferred <= max (preferred)",
        preferred);
  bufferFrames = chooseBufferSize(min, max, preferred, granularity);

  ASIOChannelInfo info;
  memset(&info, 0, sizeof info);
  info.channel = 0;
  info.isInput = 0;
  e = driver->vtbl->getChannelInfo(driver, &info);
  check(e == ASE_OK && info.name[0] != 0 && memchr(info.name, 0, sizeof info.name) != NULL,
        "getChannelInfo(output 0): a terminated name (length)", (long)strnlen(info.name, sizeof info.name));
  printf("  output 0: \"%s\", sample type %ld\n", info.name, info.type);
  sampleBytes = info.type == ASIOSTInt16LSB ? 2 : info.type == ASIOSTInt24LSB ? 3 : info.type == ASIOSTInt32LSB ? 4 : 0;
  check(sampleBytes != 0, "output 0 streams Int16LSB, Int24LSB or Int32LSB", info.type);
  if (!sampleBytes) return 0;

  ASIOClockSource clocks[4];
  long clockCount = 4;
  memset(clocks, 0, sizeof clocks);
  e = driver->vtbl->getClockSources(driver, clocks, &clockCount);
  check(e == ASE_OK && clockCount >= 1 && clockCount <= 4, "getClockSources (sources)", clockCount);

  static ASIOCallbacks callbacks = {onSwitch, onRateChange, onMessage, onSwitchTimeInfo};
  for (int c = 0; c < kOutputs; ++c) {
    buffers[c].isInput = 0;
    buffers[c].channelNum = c;
  }
  const ASIOError created = driver->vtbl->createBuffers(driver, buffers, kOutputs, bufferFrames, &callbacks);
  check(created == ASE_OK && buffers[0].buffers[0] && buffers[0].buffers[1] && buffers[1].buffers[0] && buffers[1].buffers[1],
        "createBuffers: two halves per channel (frames)", bufferFrames);
  if (created != ASE_OK) return 0;
  long inputLatency = 0, outputLatency = 0;
  e = driver->vtbl->getLatencies(driver, &inputLatency, &outputLatency);
  check(e == ASE_OK && outputLatency >= bufferFrames, "getLatencies: output latency at least one buffer", outputLatency);

  fill(0);
  fill(1);
  check(driver->vtbl->start(driver) == ASE_OK, "start", 0);
  const DWORD waited = WaitForSingleObject(enoughSwitches, 120000);
  const long switched = switches;
  check(waited == WAIT_OBJECT_0, "buffer switches arrive (switches)", switched);
  ASIOSamples position;
  ASIOTimeStamp stamp;
  const ASIOError where = driver->vtbl->getSamplePosition(driver, &position, &stamp);
  check(where == ASE_OK && (position.hi != 0 || position.lo != 0), "getSamplePosition while running (low word)", (long)position.lo);
  check(driver->vtbl->stop(driver) == ASE_OK, "stop", 0);
  const long wrongIndex = badIndex, wrongPosition = badPosition, wrongRate = badRate, wrongReady = badOutputReady;
  check(wrongIndex == 0, "switch indexes alternate 0, 1 (bad ones)", wrongIndex);
  check(wrongPosition == 0, "ASIOTime sample position valid, one buffer per switch (bad ones)", wrongPosition);
  check(wrongRate == 0, "ASIOTime sample rate valid, 48000.0 (bad ones)", wrongRate);
  check(wrongReady == 0, "outputReady: ASE_OK or ASE_NotPresent (bad ones)", wrongReady);
  check(driver->vtbl->disposeBuffers(driver) == ASE_OK, "disposeBuffers", 0);
  return 1;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: abihost DRIVER_NAME\n");
    return 2;
  }
  setvbuf(stdout, NULL, _IONBF, 0);
  if (FAILED(CoInitialize(NULL))) return 3;
  CLSID clsid;
  if (!findClassId(argv[1], &clsid)) {
    printf("abihost: \"%s\" is not registered under HKLM\\SOFTWARE\\ASIO\n", argv[1]);
    return 3;
  }
  /* Hosts pass the class id as the interface id too. */
  const HRESULT hr = CoCreateInstance(&clsid, NULL, CLSCTX_INPROC_SERVER, &clsid, (void**)&driver);
  if (FAILED(hr) || !driver) {
    printf("abihost: \"%s\" cannot be created: 0x%08lx\n", argv[1], (unsigned long)hr);
    return 3;
  }
  enoughSwitches = CreateEventA(NULL, TRUE, FALSE, NULL);
  printf("abihost (x86, C, thiscall vtable) against \"%s\":\n", argv[1]);
  const ASIOBool ready = driver->vtbl->init(driver, GetDesktopWindow());
  char text[128];
  memset(text, 0, sizeof text);
  if (!ready) {
    driver->vtbl->getErrorMessage(driver, text);
    printf("  init refused: %.124s\n", text);
  }
  check(ready == 1, "init", ready);
  if (ready) {
    driver->vtbl->getDriverName(driver, text);
    check(text[0] != 0 && memchr(text, 0, 32) != NULL, "getDriverName: a name within 32 bytes", (long)strlen(text));
    printf("  driver \"%s\", version %ld\n", text, driver->vtbl->getDriverVersion(driver));
    if (enoughSwitches) stream();
  }
  const ULONG left = driver->vtbl->Release(driver);
  check(left == 0, "Release drops the last reference", (long)left);
  if (enoughSwitches) CloseHandle(enoughSwitches);
  CoUninitialize();
  printf("abihost: %d check(s) failed\n", failures);
  return failures ? 1 : 0;
}
