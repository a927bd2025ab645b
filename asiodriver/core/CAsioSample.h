// The ASIO driver object that hosts obtain through the class factory: it binds to the
// device through its backend, reports its channels and formats, opens the device's streams
// and runs the streaming engine. The same object serves both variants of the driver.
#pragma once

#include <windows.h>

#include "Asio.h"
#include "CUnknown.h"
#include "DeviceBackend.h"
#include "DriverRules.h"
#include "HidReport.h"
#include "PositionPair.h"
#include "RateRecord.h"
#include "SampleCopy.h"
#include "StatusBlock.h"
#include "TessConstants.h"

namespace tess {

class CAsioSample : public IASIO, public CUnknown, private PumpSink {
 public:
  // Attaches the status block (loading the settings when this object created it). The
  // object owns `backend` (null: every call that needs the device fails).
  CAsioSample(IUnknown* outer, DeviceBackend* backend);
  ~CAsioSample() override;

  // Records `identity`, claims the status block if free, and finds the device.
  // E_FAIL when no supported device is found.
  HRESULT bindDevice(REFCLSID identity);

  // IUnknown: forwarded to the controlling unknown.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IUnknown and the object's own class identifier yield IASIO.
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override;

  // IASIO
  ASIOBool init(void* sysHandle) override;
  void getDriverName(char* name) override;
  int32_t getDriverVersion() override;
  void getErrorMessage(char* string) override;
  ASIOError start() override;
  ASIOError stop() override;
  ASIOError getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) override;
  ASIOError getLatencies(int32_t* inputLatency, int32_t* outputLatency) override;
  ASIOError getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                          int32_t* granularity) override;
  ASIOError canSampleRate(ASIOSampleRate sampleRate) override;
  ASIOError getSampleRate(ASIOSampleRate* sampleRate) override;
  ASIOError setSampleRate(ASIOSampleRate sampleRate) override;
  ASIOError getClockSources(ASIOClockSource* clocks, int32_t* numSources) override;
  ASIOError setClockSource(int32_t reference) override;
  ASIOError getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) override;
  ASIOError getChannelInfo(ASIOChannelInfo* info) override;
  ASIOError createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels, int32_t bufferSize,
                          ASIOCallbacks* callbacks) override;
  ASIOError disposeBuffers() override;
  ASIOError controlPanel() override;
  ASIOError future(int32_t selector, void* opt) override;
  ASIOError outputReady() override;

 private:
  // Host buffers of one device slot, ready for the copy kernels (built by prepareDirection so
  // the streaming path allocates nothing).
  struct SlotChannels {
    uint32_t count;
    fmt::HostOutput outputs[2][kMaxRecordChannels];  // per half
    fmt::HostInput inputs[2][kMaxRecordChannels];
  };

  // Host features the host accepted (probeHostFeatures).
  struct HostFeatures {
    bool timeInfo, timeCode, inputMonitor, inputGain, inputMeter, outputGain, outputMeter;
    bool resync;  // takes kAsioResyncRequest
  };

  // The last reference dropped inside a host callback (on the pump or message thread):
  // the object cannot end the threads it is running on, so a short-lived thread of its
  // own destroys it once they have returned from the host.
  void destroy() override;
  static DWORD WINAPI deferredDestroyProc(void* self);
  bool onOwnThread() const;

  Identity identity() const;
  // The block as this object may write it as its owner: the block when this object claimed
  // it at bind and still holds it, else an empty view (every owner write is then skipped).
  StatusBlockView owned() const { return m_claimedBlock && m_status.ownedBy(identity()) ? m_status : StatusBlockView{}; }
  bool ownsBlock() const { return owned().exists(); }

  // HID reports (HidCommands.cpp).
  void sendHidCommand(fmt::HidCommand command, bool on);

  // Records and the host's buffers (BufferSetup.cpp).
  void buildRateRecords(Direction dir);
  RateRecord* recordFor(Direction dir, uint32_t rate);
  ASIOError prepareDirection(Direction dir, const ASIOBufferInfo* infos, int32_t numChannels, int32_t bufferSize);
  void releaseDirection(Direction dir);
  // Stops the stream threads and releases both directions' buffers and device streams.
  void releaseBuffers();
  void setErrorMessage(const char* text);
  ASIOError validateBufferInfos(const ASIOBufferInfo* infos, int32_t numChannels, int32_t bufferSize) const;

  // Engine (StreamEngine.cpp).
  bool createEngineObjects();
  void closeEngineObjects();
  ASIOError startStreamThreads();
  void stopStreamThreads();
  bool startMessageThread();
  void stopMessageThread();
  void probeHostFeatures();
  static DWORD WINAPI pumpThreadProc(void* self);
  static DWORD WINAPI watchdogThreadProc(void* self);
  static DWORD WINAPI messageThreadProc(void* self);
  void pumpLoop();
  void watchdogLoop();
  void messageLoop();
  void startStreaming();
  void slotFinished(Direction dir, uint32_t slot, uint32_t half, uint32_t token) override;
  // A backend that asks for each period: the output it gets (StreamEngine.cpp).
  void renderOnRequest(uint32_t slot, uint32_t token);
  void periodStep(uint32_t half);
  void deliverBufferSwitch(uint32_t half);
  // The host's output of the period that just switched (after-switch backends).
  void copyOutput();
  // Output half `half` into the render buffers `token` of the slots in `slots`; only the
  // buffers are handed over (holding what the backend put there) when not `hostWrote`.
  void copyOutputHalf(uint32_t half, uint32_t token, uint32_t slots, bool hostWrote);
  // A finished capture period: every opened slot's data, copied into input half `half`
  // when `copy`, and given back to the device.
  void takeInput(uint32_t token, uint32_t half, bool copy);
  void armWatchdog();
  void askHostForReset();
  ASIOError waitForPump(HANDLE controlEvent);
  // True on the pump thread (inside a host callback), where waiting for the pump would hang.
  bool onPumpThread() const { return m_pumpThread && GetCurrentThreadId() == m_pumpThreadId; }

  // Identity and device.
  CLSID m_identity;
  DeviceBackend* m_backend;
  DeviceFacts m_device;  // what bindDevice found
  bool m_deviceOpen;     // the backend's open succeeded (init)
  volatile uint32_t m_state;  // DriverState

  // Format and buffers.
  uint32_t m_widthInUse;
  uint32_t m_pcmRate;   // the rate the device streams at (the carrier rate for DSD)
  uint32_t m_asioRate;  // the rate the host set
  uint32_t m_configuredWidth;
  uint64_t m_preferredDuration;  // 100 ns units
  uint32_t m_bufferSize;         // frames
  volatile LONG m_rateChanged;
  uint32_t m_minDurationIndex;

  // The format the buffers were created with: a rate set later (the host is then asked to
  // reset) must not change how the running engine reads and writes its packets.
  uint32_t m_streamWidth;      // container bits
  uint32_t m_streamValidBits;  // valid bits in each container
  bool m_streamDsd;

  RateRecord m_records[2][kRateCount];
  RateRecord* m_selected[2];
  RateRecord* m_active[2];
  SlotChannels m_slotChannels[2][fmt::kPinSlots];

  // Host callbacks (kept after disposeBuffers).
  ASIOCallbacks m_callbacks;

  // Engine.
  HANDLE m_pumpEvents[4];  // stop, start, halt, watchdog (auto-reset)
  HANDLE m_watchdogStop;
  HANDLE m_watchdogTimer;
  HANDLE m_pumpThread;
  HANDLE m_watchdogThread;
  DWORD m_pumpThreadId;
  HANDLE m_messageEvents[4];  // 0 exit, 1 DoP report, 2 unused, 3 resync check
  HANDLE m_messageThread;
  DWORD m_messageThreadId;
  HANDLE m_ackEvent;
  // start and stop leave their request here too: the pump takes a start request before
  // each wait, and no buffer switch reaches the host once stop has asked for the halt.
  volatile LONG m_startRequested;
  volatile LONG m_stopRequested;
  // Pump-thread state of a run.
  fmt::PeriodGate m_gate;
  bool m_streaming;           // the device streams (started and not halted)
  uint64_t m_capturePeriods;  // capture periods finished in this run
  bool m_renderPaces;         // render completions count for the periods (else capture alone)
  // A device that asks for each period: the switch whose output its last request took.
  bool m_renderScheduled;
  int64_t m_renderSwitch;
  fmt::PositionPair m_reported;  // position and time of the last switch, for getSamplePosition
  uint64_t m_samplePosition;  // frames
  uint64_t m_systemTime;      // nanoseconds
  uint64_t m_switchCount;
  volatile LONG m_outputCopied;  // the output of the current period reached its packet
  ASIOTime m_timeInfo;           // filled for bufferSwitchTimeInfo on the pump thread

  volatile ASIOError m_startResult;  // the pump's verdict on the last start request

  static constexpr int kErrorMessageBytes = 124;  // the host's buffer
  char m_errorMessage[kErrorMessageBytes];

  drv::FeatureFlags m_features;
  HostFeatures m_hostFeatures;
  drv::FutureState m_future;

  // Status block (the mapping is the module's).
  HANDLE m_hStatusMapping;
  StatusBlockView m_status;
  bool m_claimedBlock;  // this object claimed the block at bind

  volatile LONG m_dopReported;
  CRITICAL_SECTION m_hidLock;  // orders the DoP "on" and "off" reports
  bool m_hidLockReady;
  bool m_timerPeriodBegun;  // timeBeginPeriod(1) taken at a successful bind
};

}  // namespace tess
