// The streaming engine: a time-critical pump thread that moves each period between the
// device (through the backend) and the host's double buffers, a watchdog that turns a
// stall into a reset request, and the message thread.
#include <windows.h>
#include <mmsystem.h>

#include <cstring>
#include <initializer_list>

#include "CAsioSample.h"
#include "DopDetect.h"
#include "SampleFormat.h"
#include "ThreadScheduling.h"

namespace tess {
namespace {

// Two seconds, relative, in 100 ns units.
constexpr LONGLONG kWatchdogDue = -20000000LL;

enum MessageEvent : uint32_t { kMessageExit = 0, kMessageDopReport = 1, kMessageUnused = 2, kMessageResync = 3 };

void closeHandle(HANDLE& h) {
  if (h) CloseHandle(h);
  h = nullptr;
}

uint64_t nowNanoseconds() { return uint64_t{timeGetTime()} * 1000000u; }

}  // namespace

bool CAsioSample::createEngineObjects() {
  bool ok = true;
  for (HANDLE& e : m_pumpEvents) ok &= (e = CreateEventA(nullptr, FALSE, FALSE, nullptr)) != nullptr;
  for (HANDLE& e : m_messageEvents) ok &= (e = CreateEventA(nullptr, FALSE, FALSE, nullptr)) != nullptr;
  ok &= (m_watchdogStop = CreateEventA(nullptr, FALSE, FALSE, nullptr)) != nullptr;
  ok &= (m_watchdogTimer = CreateWaitableTimerA(nullptr, FALSE, nullptr)) != nullptr;
  ok &= (m_ackEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr)) != nullptr;
  return ok;
}

void CAsioSample::closeEngineObjects() {
  for (HANDLE& e : m_pumpEvents) closeHandle(e);
  for (HANDLE& e : m_messageEvents) closeHandle(e);
  closeHandle(m_watchdogStop);
  closeHandle(m_watchdogTimer);
  closeHandle(m_ackEvent);
}

// --- Threads --------------------------------------------------------------------------

ASIOError CAsioSample::startStreamThreads() {
  // A signal left from the previous threads (the stop event of a watchdog that had already
  // fired and gone, a start nobody took) would end or steer the new ones at once.
  for (HANDLE e : m_pumpEvents) ResetEvent(e);
  ResetEvent(m_watchdogStop);
  ResetEvent(m_ackEvent);
  // Cancelling leaves a timer that already expired signalled: take that signal too.
  CancelWaitableTimer(m_watchdogTimer);
  WaitForSingleObject(m_watchdogTimer, 0);
  m_pumpThread = CreateThread(nullptr, 0, pumpThreadProc, this, CREATE_SUSPENDED, &m_pumpThreadId);
  m_watchdogThread = CreateThread(nullptr, 0, watchdogThreadProc, this, CREATE_SUSPENDED, nullptr);
  if (!m_pumpThread || !m_watchdogThread) {
    // Never started: they can be ended without running.
    if (m_pumpThread) TerminateThread(m_pumpThread, 0);
    if (m_watchdogThread) TerminateThread(m_watchdogThread, 0);
    closeHandle(m_pumpThread);
    closeHandle(m_watchdogThread);
    return ASE_NoMemory;
  }
  DWORD_PTR processMask = 0, systemMask = 0;
  bool haveMask = GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask) && processMask;
  for (HANDLE thread : {m_pumpThread, m_watchdogThread}) {
    if (haveMask) SetThreadAffinityMask(thread, processMask);
    SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL);
    SetThreadPriorityBoost(thread, FALSE);
    ResumeThread(thread);
  }
  return ASE_OK;
}

void CAsioSample::stopStreamThreads() {
  // Watchdog first, then the pump; each is waited for, not polled.
  if (m_watchdogThread) {
    SetEvent(m_watchdogStop);
    WaitForSingleObject(m_watchdogThread, INFINITE);
    closeHandle(m_watchdogThread);
  }
  if (m_pumpThread) {
    SetEvent(m_pumpEvents[fmt::kStopEvent]);
    WaitForSingleObject(m_pumpThread, INFINITE);
    closeHandle(m_pumpThread);
  }
}

bool CAsioSample::startMessageThread() {
  m_messageThread = CreateThread(nullptr, 0, messageThreadProc, this, 0, &m_messageThreadId);
  return m_messageThread != nullptr;
}

void CAsioSample::stopMessageThread() {
  if (!m_messageThread) return;
  SetEvent(m_messageEvents[kMessageExit]);
  WaitForSingleObject(m_messageThread, INFINITE);
  closeHandle(m_messageThread);
}

DWORD WINAPI CAsioSample::pumpThreadProc(void* self) {
  static_cast<CAsioSample*>(self)->pumpLoop();
  return 0;
}
DWORD WINAPI CAsioSample::watchdogThreadProc(void* self) {
  static_cast<CAsioSample*>(self)->watchdogLoop();
  return 0;
}
DWORD WINAPI CAsioSample::messageThreadProc(void* self) {
  static_cast<CAsioSample*>(self)->messageLoop();
  return 0;
}

// start and stop hand their request to the pump and wait for its acknowledgement, or for
// the pump's end (so a pump that is gone cannot hang the host).
ASIOError CAsioSample::waitForPump(HANDLE controlEvent) {
  if (!m_pumpThread) return ASE_HWMalfunction;
  SetEvent(controlEvent);
  HANDLE waits[2] = {m_ackEvent, m_pumpThread};
  return WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 ? ASE_OK : ASE_HWMalfunction;
}

void CAsioSample::probeHostFeatures() {
  m_hostFeatures = HostFeatures{};
  auto message = m_callbacks.asioMessage;
  if (!message) return;
  m_hostFeatures.resync = message(kAsioSelectorSupported, kAsioResyncRequest, nullptr, nullptr) == 1;
  if (message(kAsioEngineVersion, 0, nullptr, nullptr) < 2) return;
  auto accepts = [&](int32_t selector) { return message(selector, 0, nullptr, nullptr) == 1; };
  if (m_features.canTimeInfo) m_hostFeatures.timeInfo = accepts(kAsioSupportsTimeInfo);
  if (m_features.canTimeCode && m_hostFeatures.timeInfo) m_hostFeatures.timeCode = accepts(kAsioSupportsTimeCode);
  if (m_features.canInputMonitor) m_hostFeatures.inputMonitor = accepts(kAsioSupportsInputMonitor);
  if (m_features.canInputGain) m_hostFeatures.inputGain = accepts(kAsioSupportsInputGain);
  if (m_features.canInputMeter) m_hostFeatures.inputMeter = accepts(kAsioSupportsInputMeter);
  if (m_features.canOutputGain) m_hostFeatures.outputGain = accepts(kAsioSupportsOutputGain);
  if (m_features.canOutputMeter) m_hostFeatures.outputMeter = accepts(kAsioSupportsOutputMeter);
}

void CAsioSample::watchdogLoop() {
  HANDLE waits[2] = {m_watchdogStop, m_watchdogTimer};
  if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1)
    SetEvent(m_pumpEvents[fmt::kWatchdogEvent]);
  CancelWaitableTimer(m_watchdogTimer);
}

void CAsioSample::messageLoop() {
  for (;;) {
    DWORD w = WaitForMultipleObjects(4, m_messageEvents, FALSE, INFINITE);
    if (w == WAIT_OBJECT_0 + kMessageExit || w >= WAIT_OBJECT_0 + 4) return;
    if (w == WAIT_OBJECT_0 + kMessageDopReport) {
      // The HID report needs device enumeration and file I/O: never on the pump thread.
      if (m_hidLockReady) EnterCriticalSection(&m_hidLock);
      if (m_dopReported) sendHidCommand(fmt::HidCommand::kDop, true);
      if (m_hidLockReady) LeaveCriticalSection(&m_hidLock);
    } else if (w == WAIT_OBJECT_0 + kMessageResync && m_state == kStateRunning) {
      // A lost period: hosts that take resync requests hear of it; others would only be
      // disturbed by a reset, so they are not asked.
      auto message = m_callbacks.asioMessage;
      if (m_features.resyncSupported && m_hostFeatures.resync && message)
        message(kAsioResyncRequest, 0, nullptr, nullptr);
    }
  }
}

// --- Pump -----------------------------------------------------------------------------

void CAsioSample::armWatchdog() {
  LARGE_INTEGER due;
  due.QuadPart = kWatchdogDue;
  SetWaitableTimer(m_watchdogTimer, &due, 0, nullptr, nullptr, FALSE);
}

void CAsioSample::askHostForReset() {
  if (m_callbacks.asioMessage) m_callbacks.asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
}

// --- Copies ---------------------------------------------------------------------------

void CAsioSample::copyOutput() {
  if (!m_bufferSize) return;
  copyOutputHalf(fmt::outputHalf(m_samplePosition, m_bufferSize), fmt::outputPacket(m_samplePosition, m_bufferSize),
                 ~0u, true);
}

void CAsioSample::copyOutputHalf(uint32_t half, uint32_t token, uint32_t slots, bool hostWrote) {
  RateRecord* record = m_active[kRender];
  if (!record) return;
  const uint32_t width = m_streamWidth;
  const bool nativeDsd = m_status.field(offsetof(StatusBlockLayout, nativeDsd)) != 0;
  const bool detect = fmt::dopDetectionApplies(width, record->rate, nativeDsd);
  fmt::OutputCopy result;
  for (uint32_t s = 0; s < fmt::kPinSlots; ++s) {
    const SlotChannels& map = m_slotChannels[kRender][s];
    if (!record->slots[s].opened || !(slots & (1u << s))) continue;
    fmt::RenderPacket target{};
    if (!m_backend->beginRender(s, token, target)) continue;  // this period stays unwritten
    if (map.count && hostWrote)
      result += fmt::copyOutput(target, fmt::containerBytes(width), map.outputs[half], map.count, detect);
    m_backend->endRender(s);
  }
  InterlockedExchange(&m_outputCopied, 1);

  fmt::DopPeriod period = fmt::judgeDopPeriod(result);
  if (period == fmt::DopPeriod::kNotScanned) return;
  bool reported = m_dopReported != 0;
  if (fmt::takeDopReport(period, reported)) {
    InterlockedExchange(&m_dopReported, 1);
    SetEvent(m_messageEvents[kMessageDopReport]);
  }
  if (ownsBlock()) {
    fmt::DsdStatusFlags flags{m_status.field(offsetof(StatusBlockLayout, dsd)),
                              m_status.field(offsetof(StatusBlockLayout, dsd128))};
    if (fmt::applyDopToStatus(period, m_status.field(offsetof(StatusBlockLayout, rate)), flags))
      owned().publishDopFlags(identity(), flags.dsd, flags.dsd128);
  }
}

void CAsioSample::takeInput(uint32_t token, uint32_t half, bool copy) {
  RateRecord* record = m_active[kCapture];
  if (!record) return;
  const uint32_t width = m_streamWidth;
  for (uint32_t s = 0; s < fmt::kPinSlots; ++s) {
    const SlotChannels& map = m_slotChannels[kCapture][s];
    if (!record->slots[s].opened) continue;
    fmt::CapturePacket source{};
    if (!m_backend->beginCapture(s, token, source)) continue;
    if (copy && map.count && source.bytes) fmt::copyInput(source, fmt::containerBytes(width), map.inputs[half], map.count);
    m_backend->endCapture(s);
  }
}

// --- Periods ----------------------------------------------------------------------------

void CAsioSample::deliverBufferSwitch(uint32_t half) {
  ++m_switchCount;
  m_reported.store(m_samplePosition, m_systemTime);
  InterlockedExchange(&m_outputCopied, 0);
  if (m_features.canTimeInfo && m_hostFeatures.timeInfo && m_callbacks.bufferSwitchTimeInfo) {
    std::memset(&m_timeInfo, 0, sizeof m_timeInfo);
    AsioTimeInfo& t = m_timeInfo.timeInfo;
    t.speed = 1.0;
    t.systemTime = asioFromU64(m_systemTime);
    t.samplePosition = asioFromU64(m_samplePosition);
    t.sampleRate = m_asioRate;  // the host's rate: positions count its samples
    t.flags = kSystemTimeValid | kSamplePositionValid | kSampleRateValid;
    if (InterlockedExchange(&m_rateChanged, 0)) t.flags |= kSampleRateChanged;
    if (m_features.canTimeCode && m_hostFeatures.timeCode && m_future.timeCodeRead)
      m_timeInfo.timeCode.flags = kTcValid | kTcRunning | kTcOnspeed;
    m_callbacks.bufferSwitchTimeInfo(&m_timeInfo, static_cast<int32_t>(half), ASIOTrue);
  } else if (m_callbacks.bufferSwitch) {
    m_callbacks.bufferSwitch(static_cast<int32_t>(half), ASIOTrue);
  }
  // A host that did not call outputReady during the switch still gets its output played.
  if (!m_outputCopied && m_backend->copiesOutputAfterSwitch()) copyOutput();
}

void CAsioSample::periodStep(uint32_t half) {
  // stop has asked for the halt: the period in progress no longer reaches the host.
  if (m_stopRequested) return;
  if (m_switchCount != 0) m_samplePosition += m_bufferSize;
  m_systemTime = nowNanoseconds();
  deliverBufferSwitch(half);
  // The host's timing no longer matches the device's clock: tell it (message thread).
  if (m_backend->queuePeriod(m_samplePosition, m_bufferSize, m_switchCount)) SetEvent(m_messageEvents[kMessageResync]);
}

void CAsioSample::slotFinished(Direction dir, uint32_t slot, uint32_t half, uint32_t token) {
  const bool run = m_streaming && !m_stopRequested;
  if (dir == kRender) {
    if (run && !m_backend->copiesOutputAfterSwitch()) renderOnRequest(slot, token);
    if (m_renderPaces && m_gate.renderDone(slot, half, m_streaming).periodDue) periodStep(half);
    return;
  }
  const fmt::PeriodGate::Step step = m_gate.captureDone(slot, half, m_streaming);
  if (step.pinsComplete) {
    // The period that finished, not the one the position points at: capture may run
    // ahead of render. The first periods after the start carry nothing of this run.
    takeInput(token, half, run && fmt::inputCopyDue(m_capturePeriods));
    ++m_capturePeriods;
  }
  if (step.periodDue) periodStep(half);
}

void CAsioSample::renderOnRequest(uint32_t slot, uint32_t token) {
  // The device asks for its periods in turn; each request takes the switch after the one
  // the request before took, so pump jitter never moves the output against the switches.
  // The first request with a switch behind it takes the oldest whose half is still the
  // host's (the first switch, unless captured periods came in a burst). A request whose
  // switch has not come yet (the captured period that ends with it was seen after it)
  // plays the backend's silence and moves the schedule a period back, where either order
  // of the two finds its switch; a schedule the switches have overtaken (the host has
  // filled its half again) moves on to the older intact half. Those, and a device that ran
  // dry (`token`), are periods lost.
  bool lost = token != 0;
  const int64_t switches = static_cast<int64_t>(m_switchCount);
  if (!m_renderScheduled) {
    m_renderScheduled = switches > 0;
    m_renderSwitch = switches > 2 ? switches - 2 : 0;
  } else if (++m_renderSwitch + 2 < switches) {
    m_renderSwitch = switches - 2;
    lost = true;
  }
  bool write = m_renderScheduled;
  if (m_renderScheduled && switches <= m_renderSwitch) {
    write = false;
    --m_renderSwitch;
    lost = true;
  }
  copyOutputHalf(static_cast<uint32_t>(m_renderSwitch & 1), 0, 1u << slot, write);
  if (lost) SetEvent(m_messageEvents[kMessageResync]);
}

void CAsioSample::startStreaming() {
  if (m_streaming) return;
  m_gate.clear();
  m_capturePeriods = 0;
  m_renderScheduled = false;
  m_renderSwitch = 0;
  m_switchCount = 0;
  m_reported.store(0, 0);
  m_samplePosition = 0;
  m_systemTime = nowNanoseconds();
  m_streaming = m_backend->startStreaming();
  // A device that refuses to run (busy, removed) must not be reported as streaming.
  m_startResult = m_streaming ? ASE_OK : ASE_HWMalfunction;
}

void CAsioSample::pumpLoop() {
  // Time-critical priority alone is not enough under load: join "Pro Audio" too.
  MmcssScope proAudio;
  m_backend->pumpThread(true);
  // The wait list: the four control events, then the backend's events of the opened slots.
  HANDLE waits[MAXIMUM_WAIT_OBJECTS];
  for (uint32_t e = 0; e < fmt::kControlEvents; ++e) waits[e] = m_pumpEvents[e];
  const DWORD count = fmt::kControlEvents +
                      m_backend->waitHandles(waits + fmt::kControlEvents, MAXIMUM_WAIT_OBJECTS - fmt::kControlEvents);
  const uint32_t renderSlots = m_active[kRender] ? m_active[kRender]->openedSlots : 0;
  const uint32_t captureSlots = m_active[kCapture] ? m_active[kCapture]->openedSlots : 0;
  // Captured periods arrive one by one even when the pump is late; requests for output
  // merge then. So periods follow capture wherever the device asks for output itself.
  m_renderPaces = m_backend->copiesOutputAfterSwitch() || !captureSlots;
  m_gate.reset(m_renderPaces ? renderSlots : 0, captureSlots);
  m_streaming = false;
  bool running = true;
  bool requestTaken = false;  // a start request was acted on before its event arrived

  auto start = [&] {
    // Completions of the requests a halt cancelled belong to no period of this run.
    for (DWORD i = fmt::kControlEvents; i < count; ++i) ResetEvent(waits[i]);
    startStreaming();
  };
  while (running) {
    // A start request counts before the wait: the start event then only confirms it.
    if (m_startRequested && !m_streaming && InterlockedExchange(&m_startRequested, 0)) {
      start();
      requestTaken = true;
    }
    DWORD w = WaitForMultipleObjects(count, waits, FALSE, INFINITE);
    if (w >= WAIT_OBJECT_0 + count) break;  // a wait failure ends the pump
    const uint32_t index = w - WAIT_OBJECT_0;
    if (index < fmt::kControlEvents) {
      switch (index) {
        case fmt::kStopEvent:
          CancelWaitableTimer(m_watchdogTimer);
          running = false;
          break;
        case fmt::kStartEvent:
          InterlockedExchange(&m_startRequested, 0);
          if (!m_streaming && !requestTaken) start();
          requestTaken = false;
          if (m_streaming) armWatchdog();
          SetEvent(m_ackEvent);
          break;
        case fmt::kHaltEvent:
          if (m_streaming) m_backend->haltStreaming();
          m_streaming = false;
          CancelWaitableTimer(m_watchdogTimer);
          InterlockedExchange(&m_stopRequested, 0);
          SetEvent(m_ackEvent);
          break;
        case fmt::kWatchdogEvent:
          armWatchdog();
          if (InterlockedExchange(&m_rateChanged, 0) && m_callbacks.sampleRateDidChange)
            m_callbacks.sampleRateDidChange(m_asioRate);
          askHostForReset();
          break;
      }
    } else {
      if (m_streaming) armWatchdog();
      m_backend->onSignal(index - fmt::kControlEvents, m_streaming, *this);
    }
    if (owned().takeResetRequest(identity())) askHostForReset();
  }
  if (m_streaming) m_backend->haltStreaming();
  m_streaming = false;
  m_backend->pumpThread(false);
}

}  // namespace tess
