#include "CAsioSample.h"

#include <windows.h>
#include <mmsystem.h>
#include <shellapi.h>

#include <cstring>

#include "Module.h"
#include "RegKey.h"
#include "SampleFormat.h"
#include "Settings.h"

namespace tess {

CAsioSample::CAsioSample(IUnknown* outer, DeviceBackend* backend) : CUnknown(outer) {
  // The object arrives zero-filled from the module heap: every field starts at 0.
  m_backend = backend;
  m_hidLockReady = InitializeCriticalSectionAndSpinCount(&m_hidLock, 0) != FALSE;
  ModuleBlock block = moduleStatusBlock(&m_pcmRate);
  m_hStatusMapping = block.mapping;
  m_status = block.view;
}

CAsioSample::~CAsioSample() {
  if (m_timerPeriodBegun) timeEndPeriod(1);
  if (m_state == kStateRunning) {
    stop();
    m_state = kStatePrepared;
  }
  if (m_state == kStatePrepared) {
    disposeBuffers();
    m_state = kStateInitialized;
  }
  if (m_state == kStateInitialized) {
    stopMessageThread();
    saveSettings(m_status, m_pcmRate);
    m_state = kStateLoaded;
  }
  closeEngineObjects();
  if (m_deviceOpen) m_backend->close();
  delete m_backend;
  m_state = kStateUnload;
  owned().release(identity());  // the next instance can claim the block
  if (m_hidLockReady) DeleteCriticalSection(&m_hidLock);
}

bool CAsioSample::onOwnThread() const {
  const DWORD self = GetCurrentThreadId();
  return (m_pumpThread && self == m_pumpThreadId) || (m_messageThread && self == m_messageThreadId);
}

void CAsioSample::destroy() {
  if (!onOwnThread()) {
    delete this;
    return;
  }
  HANDLE reaper = CreateThread(nullptr, 0, deferredDestroyProc, this, 0, nullptr);
  // Without a thread the object is left alive: a leak, but never freed under its pump.
  if (reaper) CloseHandle(reaper);
}

DWORD WINAPI CAsioSample::deferredDestroyProc(void* self) {
  // The object still counts in the module, so the module is loaded: hold it until this
  // thread is out of its code.
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&deferredDestroyProc), &module);
  delete static_cast<CAsioSample*>(self);
  if (module) FreeLibraryAndExitThread(module, 0);
  return 0;
}

Identity CAsioSample::identity() const {
  Identity id;
  static_assert(sizeof id.bytes == sizeof(CLSID), "identity is a class identifier");
  std::memcpy(id.bytes, &m_identity, sizeof id.bytes);
  return id;
}

HRESULT STDMETHODCALLTYPE CAsioSample::QueryInterface(REFIID iid, void** out) {
  return outerUnknown()->QueryInterface(iid, out);
}
ULONG STDMETHODCALLTYPE CAsioSample::AddRef() { return outerUnknown()->AddRef(); }
ULONG STDMETHODCALLTYPE CAsioSample::Release() { return outerUnknown()->Release(); }

HRESULT STDMETHODCALLTYPE CAsioSample::NonDelegatingQueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  // Hosts ask for the interface under the class identifier they created the object with.
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, m_identity)) {
    *out = static_cast<IASIO*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

HRESULT CAsioSample::bindDevice(REFCLSID identity) {
  m_identity = identity;
  m_state = kStateLoaded;
  // Ownership belongs to this object, not to its class id: two instances of one
  // registration share the id, and only the one that claimed the block may write it.
  m_claimedBlock = m_status.claim(this->identity());
  std::memset(&m_device, 0, sizeof m_device);
  if (!m_backend || !m_backend->bind(m_device)) {
    std::memset(&m_device, 0, sizeof m_device);
    return E_FAIL;
  }
  if (!m_device.deviceName[0]) lstrcpynA(m_device.deviceName, kDriverName, sizeof m_device.deviceName);
  m_timerPeriodBegun = timeBeginPeriod(1) == TIMERR_NOERROR;
  owned().publishDeviceName(this->identity(), m_device.deviceName);
  return S_OK;
}

// ---------------------------------------------------------------------------------------

ASIOBool CAsioSample::init(void*) {
  // A second init would rebuild what buffers and threads already use.
  if (m_state >= kStateInitialized) return ASIOTrue;
  if (m_state != kStateLoaded || !m_backend) return ASIOFalse;
  if (!m_backend->open(m_device)) return ASIOFalse;
  m_deviceOpen = true;
  auto fail = [this] {
    closeEngineObjects();
    m_backend->close();
    m_deviceOpen = false;
    return ASIOFalse;
  };
  if (!createEngineObjects()) return fail();

  loadSettings(m_status, m_pcmRate);
  if (ownsBlock()) {
    BlockSettings s;
    m_status.readSettings(s);
    // A duration beyond the longest buffer would only make absurd sizes.
    uint64_t duration = uint64_t{s.bufferSize} * 1000;
    const uint64_t longest = static_cast<uint64_t>(drv::kBufferDurationsMs[drv::kBufferDurationCount - 1] * 10000);
    m_preferredDuration = duration > longest ? longest : duration;
    m_configuredWidth = m_widthInUse = s.bitsPerSample;
  }
  m_widthInUse = drv::chooseWidth(m_widthInUse, m_device.capabilityMask);
  m_configuredWidth = m_widthInUse;

  buildRateRecords(kRender);
  buildRateRecords(kCapture);
  if (m_preferredDuration == 0) m_preferredDuration = drv::kDefaultDuration;

  drv::RateValidity validity{};
  for (int i = 0; i < kRateCount; ++i) {
    validity.render[i] = m_records[kRender][i].valid != 0;
    validity.capture[i] = m_records[kCapture][i].valid != 0;
  }
  m_pcmRate = drv::choosePcmRate(m_pcmRate, validity);
  // The host has not chosen yet: its rate is the device's, so setting the same rate again
  // is no change (and asks for no reset).
  m_asioRate = m_pcmRate;
  m_selected[kRender] = recordFor(kRender, m_pcmRate);
  m_selected[kCapture] = recordFor(kCapture, m_pcmRate);

  m_features = drv::kOfferedFeatures;
  m_future = drv::FutureState{};
  if (!startMessageThread()) return fail();

  m_state = kStateInitialized;
  owned().publishInit(identity(), InitPublication{static_cast<uint32_t>(m_preferredDuration / 1000), m_pcmRate,
                                                   m_widthInUse, m_device.capabilityMask & 0xFu,
                                                   drv::supportedRatesMask(validity)});
  return ASIOTrue;
}

void CAsioSample::getDriverName(char* name) {
  if (!name) return;
  lstrcpynA(name, m_device.deviceName[0] ? m_device.deviceName : kDriverName, 32);
}

int32_t CAsioSample::getDriverVersion() { return 2; }

void CAsioSample::getErrorMessage(char* string) {
  // The host's buffer holds 124 bytes; it always gets a terminated message.
  if (string) lstrcpynA(string, m_errorMessage, kErrorMessageBytes);
}

ASIOError CAsioSample::getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) {
  int32_t in = m_selected[kCapture] ? static_cast<int32_t>(m_selected[kCapture]->totalChannels) : 0;
  int32_t out = m_selected[kRender] ? static_cast<int32_t>(m_selected[kRender]->totalChannels) : 0;
  if (numInputChannels) *numInputChannels = in;
  if (numOutputChannels) *numOutputChannels = out;
  return in || out ? ASE_OK : ASE_NotPresent;
}

ASIOError CAsioSample::getLatencies(int32_t* inputLatency, int32_t* outputLatency) {
  ASIOError err = getChannels(nullptr, nullptr);
  int32_t latency = 0;
  if (err == ASE_OK) {
    // Once buffers exist (also while running) the latency is the buffer.
    latency = m_state >= kStatePrepared ? static_cast<int32_t>(m_bufferSize)
                                        : drv::bufferSizes(m_pcmRate, m_asioRate, m_preferredDuration).preferred;
  }
  if (inputLatency) *inputLatency = latency;
  // Recording too, once buffers exist; before, whenever the device can record.
  const bool duplex = m_state >= kStatePrepared ? m_active[kCapture] && m_active[kCapture]->openedSlots
                                                : m_device.capturePresent;
  const uint32_t periods = m_backend ? m_backend->outputLatencyPeriods(duplex) : 1;
  if (outputLatency) *outputLatency = latency * static_cast<int32_t>(periods);
  return err;
}

ASIOError CAsioSample::getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                                     int32_t* granularity) {
  ASIOError err = getChannels(nullptr, nullptr);
  if (err != ASE_OK) return err;
  drv::BufferSizes s = drv::bufferSizes(m_pcmRate, m_asioRate, m_preferredDuration);
  if (minSize) *minSize = s.minSize;
  if (maxSize) *maxSize = s.maxSize;
  if (preferredSize) *preferredSize = s.preferred;
  if (granularity) *granularity = s.granularity;
  return ASE_OK;
}

RateRecord* CAsioSample::recordFor(Direction dir, uint32_t rate) {
  int i = rateIndex(rate);
  return i >= 0 && m_records[dir][i].valid ? &m_records[dir][i] : nullptr;
}

ASIOError CAsioSample::canSampleRate(ASIOSampleRate sampleRate) {
  uint32_t rate = drv::rateFromAsio(sampleRate);
  if (isDsdRate(rate)) {
    // Native DSD needs 32-bit containers and the block that announces it to the panel.
    if (!ownsBlock() || !(m_status.field(offsetof(StatusBlockLayout, supportedWidths)) & widthBit(32)))
      return ASE_NoClock;
    rate = dsdCarrierRate(rate);
  }
  int i = rateIndex(rate);
  if (i < 0) return ASE_NotPresent;
  const RateRecord& capture = m_records[kCapture][i];
  const RateRecord& render = m_records[kRender][i];
  bool usable = (capture.valid && capture.totalChannels > 0) || (render.valid && render.totalChannels > 0);
  return usable ? ASE_OK : ASE_NotPresent;
}

ASIOError CAsioSample::getSampleRate(ASIOSampleRate* sampleRate) {
  if (!sampleRate) return ASE_OK;
  if (m_pcmRate == 0) {
    *sampleRate = 0;
    return ASE_NoClock;
  }
  *sampleRate = isDsdRate(m_asioRate) ? m_asioRate : m_pcmRate;
  return ASE_OK;
}

ASIOError CAsioSample::setSampleRate(ASIOSampleRate sampleRate) {
  ASIOError err = canSampleRate(sampleRate);
  if (err != ASE_OK) return err;
  uint32_t rate = drv::rateFromAsio(sampleRate);
  bool asioRateChanged = rate != m_asioRate;
  if (asioRateChanged) m_asioRate = rate;
  uint32_t pcmRate = isDsdRate(rate) ? dsdCarrierRate(rate) : rate;
  if (pcmRate == m_pcmRate && !asioRateChanged) return ASE_OK;

  m_pcmRate = pcmRate;
  m_status.publishRate(pcmRate);
  m_selected[kRender] = recordFor(kRender, pcmRate);
  m_selected[kCapture] = recordFor(kCapture, pcmRate);
  // Everything is recorded before the host hears of it: it may call back in.
  InterlockedExchange(&m_rateChanged, 1);
  // The host hears the rate it set (the DSD rate, not the carrier the pins run at).
  if (m_callbacks.sampleRateDidChange) m_callbacks.sampleRateDidChange(m_asioRate);
  if (m_callbacks.asioMessage) m_callbacks.asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
  return ASE_OK;
}

ASIOError CAsioSample::getClockSources(ASIOClockSource* clocks, int32_t* numSources) {
  if (!numSources) return ASE_InvalidParameter;
  if (*numSources > 0 && clocks) {
    std::memset(&clocks[0], 0, sizeof clocks[0]);
    clocks[0].index = 0;
    clocks[0].associatedChannel = -1;
    clocks[0].associatedGroup = -1;
    clocks[0].isCurrentSource = ASIOTrue;
    lstrcpynA(clocks[0].name, "Internal", sizeof clocks[0].name);
  }
  *numSources = 1;
  return ASE_OK;
}

ASIOError CAsioSample::setClockSource(int32_t reference) {
  if (getChannels(nullptr, nullptr) != ASE_OK || reference > 1) return ASE_NotPresent;
  return ASE_OK;
}

ASIOError CAsioSample::getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) {
  if (getChannels(nullptr, nullptr) != ASE_OK) return ASE_NotPresent;
  const fmt::PositionPair::Value reported = m_reported.load();
  if (sPos) *sPos = asioFromU64(reported.position);
  if (tStamp) *tStamp = asioFromU64(reported.time);
  return ASE_OK;
}

ASIOError CAsioSample::getChannelInfo(ASIOChannelInfo* info) {
  if (!info) return ASE_InvalidParameter;
  int32_t inputs = 0, outputs = 0;
  ASIOError err = getChannels(&inputs, &outputs);
  if (err != ASE_OK) return err;
  bool input = info->isInput != ASIOFalse;
  if (info->channel < 0 || info->channel >= (input ? inputs : outputs)) return ASE_InvalidParameter;
  const RateRecord* record = m_selected[input ? kCapture : kRender];
  if (!record || static_cast<uint32_t>(info->channel) >= kMaxRecordChannels) return ASE_NotPresent;

  const ChannelEntry& entry = record->channels[info->channel];
  const uint32_t slot = entry.slot < fmt::kPinSlots ? entry.slot : 0;
  info->isActive = entry.active && record->slots[slot].opened ? ASIOTrue : ASIOFalse;
  info->channelGroup = m_backend->channelGroup(input ? kCapture : kRender, *record, slot);
  if (isDsdRate(m_asioRate)) {
    m_widthInUse = 32;
    m_status.publishWidthInUse(32);
  }
  // Under 24-in-32 the host's samples fill the device's 4-byte containers as they are.
  info->type =
      fmt::asioSampleType(fmt::deviceWidth(m_widthInUse, m_asioRate, m_device.twentyFourIn32), m_asioRate);
  drv::channelName(info->name, m_device.deviceName, input, info->channel);
  return err;
}

ASIOError CAsioSample::createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels, int32_t bufferSize,
                                     ASIOCallbacks* callbacks) {
  ASIOError err = getChannels(nullptr, nullptr);
  if (err != ASE_OK) return err;
  // Buffers exist already (or init did not run): a second set would orphan the first.
  if (m_state != kStateInitialized) return ASE_InvalidParameter;
  if (!callbacks) return ASE_InvalidParameter;
  err = validateBufferInfos(bufferInfos, numChannels, bufferSize);
  if (err != ASE_OK) return err;

  m_active[kRender] = m_selected[kRender];
  m_active[kCapture] = m_selected[kCapture];
  m_streamWidth = fmt::deviceWidth(m_widthInUse, m_asioRate, m_device.twentyFourIn32);
  m_streamValidBits = fmt::deviceValidBits(m_widthInUse, m_asioRate, m_device.twentyFourIn32);
  m_streamDsd = isDsdRate(m_asioRate);
  int32_t inputs = 0, outputs = 0;
  getChannels(&inputs, &outputs);
  bool inputRequested = false;
  for (int32_t i = 0; i < numChannels; ++i) inputRequested |= bufferInfos[i].isInput != ASIOFalse;

  setErrorMessage("");
  if (inputs > 0 && inputRequested) err = prepareDirection(kCapture, bufferInfos, numChannels, bufferSize);
  if (err == ASE_OK && outputs > 0) err = prepareDirection(kRender, bufferInfos, numChannels, bufferSize);
  if (err == ASE_OK) {
    m_callbacks = *callbacks;
    m_bufferSize = static_cast<uint32_t>(bufferSize);
    err = startStreamThreads();
    if (err != ASE_OK) setErrorMessage("The driver could not start its streaming threads");
  }
  if (err != ASE_OK) {
    // Nothing was published and nothing told to the device: only release what was made.
    if (err == ASE_NoMemory && !m_errorMessage[0]) setErrorMessage("Out of memory for the buffers");
    releaseBuffers();
    return err;
  }
  probeHostFeatures();

  m_state = kStatePrepared;
  bool dsd = isDsdRate(m_asioRate);
  BuffersPublication p{dsd ? m_bufferSize / 32 : m_bufferSize, dsd, m_asioRate == kDsd128, m_asioRate == kDsd256, dsd};
  owned().publishBuffers(identity(), p);
  fmt::HidCommand mode;
  if (fmt::dsdModeCommand(m_asioRate, mode)) sendHidCommand(mode, true);
  return ASE_OK;
}

ASIOError CAsioSample::disposeBuffers() {
  ASIOError err = getChannels(nullptr, nullptr);
  if (err != ASE_OK) return err;
  if (onPumpThread()) return ASE_InvalidParameter;
  if (m_state == kStateRunning) stop();
  // Without buffers there is nothing to release (and nothing to report to the device).
  if (m_state != kStatePrepared) return ASE_InvalidParameter;
  releaseBuffers();
  m_state = kStateInitialized;
  owned().publishDisposed(identity());
  for (fmt::HidCommand mode : fmt::kDsdModesOffOrder) sendHidCommand(mode, false);
  return err;
}

void CAsioSample::releaseBuffers() {
  stopStreamThreads();
  if (m_active[kCapture]) releaseDirection(kCapture);
  if (m_active[kRender]) releaseDirection(kRender);
  m_active[kRender] = m_active[kCapture] = nullptr;
}

void CAsioSample::setErrorMessage(const char* text) { lstrcpynA(m_errorMessage, text, sizeof m_errorMessage); }

ASIOError CAsioSample::start() {
  ASIOError err = getChannels(nullptr, nullptr);
  if (err != ASE_OK) return err;
  if (m_state != kStatePrepared) return ASE_OK;
  if (onPumpThread()) return ASE_InvalidParameter;  // from a buffer switch: it would wait for itself
  m_state = kStateRunning;
  owned().publishState(identity(), kStateRunning);
  // Only a prepared driver leaves a start request: one refused earlier would otherwise
  // start the pump of the next createBuffers at once.
  InterlockedExchange(&m_stopRequested, 0);
  InterlockedExchange(&m_startRequested, 1);
  err = waitForPump(m_pumpEvents[fmt::kStartEvent]);
  if (err == ASE_OK) err = m_startResult;
  if (err != ASE_OK) {
    InterlockedExchange(&m_startRequested, 0);
    setErrorMessage("The device did not start streaming: it is in use, removed or not answering");
    m_state = kStatePrepared;
    owned().publishState(identity(), kStatePrepared);
  }
  return err;
}

ASIOError CAsioSample::stop() {
  ASIOError err = getChannels(nullptr, nullptr);
  if (onPumpThread()) return ASE_InvalidParameter;  // from a buffer switch: it would wait for itself
  if (err == ASE_OK && m_state == kStateRunning) {
    // From here no buffer switch reaches the host, even one of a period in progress.
    InterlockedExchange(&m_startRequested, 0);
    InterlockedExchange(&m_stopRequested, 1);
    waitForPump(m_pumpEvents[fmt::kHaltEvent]);
    m_state = kStatePrepared;
    owned().publishState(identity(), kStatePrepared);
  }
  if (m_hidLockReady) EnterCriticalSection(&m_hidLock);
  if (InterlockedExchange(&m_dopReported, 0)) sendHidCommand(fmt::HidCommand::kDop, false);
  if (m_hidLockReady) LeaveCriticalSection(&m_hidLock);
  return err;
}

ASIOError CAsioSample::controlPanel() {
  HWND panel = FindWindowA(nullptr, kPanelWindowTitle);
  if (!panel) {
    RegKey asio, key;
    char folder[MAX_PATH + 1] = {};
    DWORD type = 0, size = MAX_PATH;
    if (asio.open(HKEY_CURRENT_USER, kAsioKeyPath, KEY_READ) == ERROR_SUCCESS &&
        key.open(asio.get(), kDriverName, KEY_READ) == ERROR_SUCCESS &&
        RegQueryValueExA(key.get(), kValueControlPanelFolder, nullptr, &type, reinterpret_cast<BYTE*>(folder), &size) ==
            ERROR_SUCCESS &&
        type == REG_SZ) {
      folder[size < sizeof folder ? size : MAX_PATH] = 0;
      char program[2 * MAX_PATH];
      int n = wsprintfA(program, "%s%s", folder, kPanelProgramName);
      if (n > 0 && n < MAX_PATH) ShellExecuteA(nullptr, "open", program, nullptr, nullptr, SW_SHOWNORMAL);
    }
    panel = FindWindowA(nullptr, kPanelWindowTitle);
  }
  if (panel) m_status.requestShowPanel();
  return ASE_OK;
}

ASIOError CAsioSample::future(int32_t selector, void* opt) {
  return drv::futureSelector(selector, opt, m_features, m_future);
}

ASIOError CAsioSample::outputReady() {
  if (m_state == kStateRunning && m_backend->copiesOutputAfterSwitch()) copyOutput();
  return ASE_OK;
}

}  // namespace tess
