// The streaming engine: a time-critical pump thread that moves packets between the
// device's pins and the host's double buffers, a watchdog that turns a stall into a
// reset request, and the message thread.
#include <windows.h>
#include <mmsystem.h>

#include <cstring>
#include <initializer_list>

#include "CAsioSample.h"
#include "DopDetect.h"
#include "KsAudio.h"
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

bool CAsioSample::setPinStates(KSSTATE state) {
  bool ok = true;
  for (Direction dir : {kCapture, kRender}) {
    RateRecord* record = m_active[dir];
    if (!record) continue;
    for (PinSlot& slot : record->slots)
      if (slot.opened) ok &= SUCCEEDED(slot.pin->SetState(state));
  }
  return ok;
}

void CAsioSample::stepPinsDown(uint32_t& pinState) {
  // One transition per call, as the pins require.
  while (pinState > KSSTATE_STOP) setPinStates(static_cast<KSSTATE>(--pinState));
}

void CAsioSample::fillSilence(uint32_t packet) {
  RateRecord* record = m_active[kRender];
  if (!record) return;
  for (PinSlot& slot : record->slots) {
    if (!slot.opened) continue;
    KSSTREAM_HEADER& h = slot.packets[packet].header;
    if (h.FrameExtent && h.Data) fmt::fillSilence(static_cast<uint8_t*>(h.Data), h.FrameExtent, m_streamDsd);
  }
}

void CAsioSample::submitPackets(uint32_t packet, bool write) {
  RateRecord* record = m_active[write ? kRender : kCapture];
  if (!record) return;
  for (PinSlot& slot : record->slots) {
    if (!slot.opened) continue;
    AsioPacket& p = slot.packets[packet];
    if (!p.header.Data) continue;
    // A failed submission never completes its period; the watchdog takes it from there.
    if (write) {
      if (m_streamDsd)
        fmt::fillDsdSilenceIfUnwritten(static_cast<uint8_t*>(p.header.Data), p.header.FrameExtent, m_switchCount);
      slot.pin->WriteData(&p.header, &p.overlapped);
    } else {
      p.header.DataUsed = 0;
      slot.pin->ReadData(&p.header, &p.overlapped);
    }
  }
}

void CAsioSample::copyOutput() {
  RateRecord* record = m_active[kRender];
  if (!record || !m_bufferSize) return;
  const uint32_t packet = fmt::outputPacket(m_samplePosition, m_bufferSize);
  const uint32_t half = fmt::outputHalf(m_samplePosition, m_bufferSize);
  const uint32_t width = m_streamWidth;
  const bool nativeDsd = m_status.field(offsetof(StatusBlockLayout, nativeDsd)) != 0;
  const bool detect = fmt::dopDetectionApplies(width, record->rate, nativeDsd);
  fmt::OutputCopy result;
  for (uint32_t s = 0; s < fmt::kPinSlots; ++s) {
    PinSlot& slot = record->slots[s];
    const SlotChannels& map = m_slotChannels[kRender][s];
    KSSTREAM_HEADER& h = slot.packets[packet].header;
    if (!slot.opened || !h.FrameExtent || !map.count) continue;
    fmt::RenderPacket target{static_cast<uint8_t*>(h.Data), h.FrameExtent, slot.channelsInUse};
    result += fmt::copyOutput(target, fmt::containerBytes(width), map.outputs[half], map.count, detect);
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

void CAsioSample::copyInput(uint32_t packet, uint32_t half) {
  RateRecord* record = m_active[kCapture];
  if (!record) return;
  const uint32_t width = m_streamWidth;
  for (uint32_t s = 0; s < fmt::kPinSlots; ++s) {
    PinSlot& slot = record->slots[s];
    const SlotChannels& map = m_slotChannels[kCapture][s];
    const KSSTREAM_HEADER& h = slot.packets[packet].header;
    if (!slot.opened || !h.DataUsed || !map.count) continue;
    ULONG used = h.DataUsed < h.FrameExtent ? h.DataUsed : h.FrameExtent;
    fmt::CapturePacket source{static_cast<const uint8_t*>(h.Data), used, slot.channelsInUse};
    fmt::copyInput(source, fmt::containerBytes(width), map.inputs[half], map.count);
  }
}

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
  if (!m_outputCopied) copyOutput();
}

void CAsioSample::periodStep(uint32_t half) {
  if (m_switchCount != 0) m_samplePosition += m_bufferSize;
  m_systemTime = nowNanoseconds();
  deliverBufferSwitch(half);
  // The read and the write of a period go out together: a late period then costs the
  // device the same time on both sides (silence played, nothing recorded), and input
  // stays aligned with output.
  const uint32_t packet = fmt::packetToSubmit(m_samplePosition, m_bufferSize);
  const bool lost = queueRanDry(packet);
  submitPackets(packet, false);
  submitPackets(packet, true);
  // The host's timing no longer matches the device's clock: tell it (message thread).
  if (lost) SetEvent(m_messageEvents[kMessageResync]);
}

bool CAsioSample::queueRanDry(uint32_t packet) const {
  // The packet queued before this one has completed already: the pin has had nothing
  // queued since, so the device played (or recorded) a period without us.
  const uint32_t previous = (packet + fmt::kPacketsPerPin - 1) % fmt::kPacketsPerPin;
  for (Direction dir : {kRender, kCapture}) {
    const RateRecord* record = m_active[dir];
    if (!record) continue;
    for (const PinSlot& slot : record->slots)
      if (slot.opened && slot.packets[previous].header.Data && HasOverlappedIoCompleted(&slot.packets[previous].overlapped))
        return true;
  }
  return false;
}

void CAsioSample::pumpLoop() {
  // Time-critical priority alone is not enough under load: join "Pro Audio" too.
  MmcssScope proAudio;
  // The wait list: the four control events, then the events of the opened render pins'
  // packets, then the capture pins'.
  HANDLE waits[fmt::kWaitHandles];
  fmt::WaitEntry entries[fmt::kWaitHandles];
  DWORD count = 0;
  for (uint32_t e = 0; e < fmt::kControlEvents; ++e) {
    waits[count] = m_pumpEvents[e];
    entries[count++] = fmt::WaitEntry{fmt::WaitEntry::kControl, e, 0, 0};
  }
  for (Direction dir : {kRender, kCapture}) {
    RateRecord* record = m_active[dir];
    if (!record) continue;
    for (uint32_t s = 0; s < fmt::kPinSlots; ++s) {
      if (!record->slots[s].opened) continue;
      for (uint32_t k = 0; k < fmt::kPacketsPerPin; ++k) {
        HANDLE e = record->slots[s].packets[k].overlapped.hEvent;
        if (!e) continue;
        ResetEvent(e);
        waits[count] = e;
        entries[count++] = fmt::WaitEntry{dir == kRender ? fmt::WaitEntry::kRender : fmt::WaitEntry::kCapture, s, k,
                                          k & 1};
      }
    }
  }
  fmt::PeriodGate gate;
  gate.reset(m_active[kRender] ? m_active[kRender]->openedPins : 0,
             m_active[kCapture] ? m_active[kCapture]->openedPins : 0);
  uint32_t pinState = KSSTATE_STOP;
  bool running = true;
  // Per direction and pin: the packet whose completion comes next, and completions seen
  // ahead of it.
  struct RingOrder {
    uint32_t next[2][fmt::kPinSlots];
    bool completed[2][fmt::kPinSlots][fmt::kPacketsPerPin];
  } ring{};
  uint64_t capturePeriods = 0;  // capture periods completed in this run

  while (running) {
    DWORD w = WaitForMultipleObjects(count, waits, FALSE, INFINITE);
    if (w >= WAIT_OBJECT_0 + count) break;  // a wait failure ends the pump
    const fmt::WaitEntry& entry = entries[w - WAIT_OBJECT_0];
    const bool run = pinState == KSSTATE_RUN;
    if (entry.kind == fmt::WaitEntry::kControl) {
      switch (entry.index) {
        case fmt::kStopEvent:
          CancelWaitableTimer(m_watchdogTimer);
          running = false;
          break;
        case fmt::kStartEvent:
          if (pinState == KSSTATE_STOP) {
            // Completions of the requests a halt cancelled belong to no period of this run.
            for (DWORD i = fmt::kControlEvents; i < count; ++i) ResetEvent(waits[i]);
            gate.clear();
            ring = RingOrder{};
            capturePeriods = 0;
            m_switchCount = 0;
            m_reported.store(0, 0);
            m_samplePosition = 0;
            m_systemTime = nowNanoseconds();
            bool ok = setPinStates(KSSTATE_ACQUIRE);
            pinState = KSSTATE_ACQUIRE;
            ok = ok && setPinStates(KSSTATE_PAUSE);
            if (ok) {
              pinState = KSSTATE_PAUSE;
              for (uint32_t j = 0; j < m_periodsInFlight; ++j) {
                fillSilence(j);
                submitPackets(j, false);
                submitPackets(j, true);
              }
              Sleep(10);
              ok = setPinStates(KSSTATE_RUN);
              pinState = KSSTATE_RUN;
            }
            // Pins that refuse to run (busy, removed) must not be reported as streaming.
            if (!ok) stepPinsDown(pinState);
            m_startResult = ok ? ASE_OK : ASE_HWMalfunction;
          }
          if (pinState == KSSTATE_RUN) armWatchdog();
          SetEvent(m_ackEvent);
          break;
        case fmt::kHaltEvent:
          stepPinsDown(pinState);
          CancelWaitableTimer(m_watchdogTimer);
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
      if (run) armWatchdog();
      // A late pump finds several completions signalled and the wait reports the lowest
      // index first, which at the ring's wrap (packet 0 before packet 7) is the newer one.
      // Completions are therefore taken per pin in the order the packets were queued.
      const int dir = entry.kind == fmt::WaitEntry::kRender ? kRender : kCapture;
      ring.completed[dir][entry.index][entry.packet] = true;
      uint32_t& next = ring.next[dir][entry.index];
      while (ring.completed[dir][entry.index][next]) {
        ring.completed[dir][entry.index][next] = false;
        const uint32_t completed = next;
        const uint32_t half = next & 1;
        next = (next + 1) % fmt::kPacketsPerPin;
        if (dir == kRender) {
          if (gate.renderDone(entry.index, half, run).periodDue) periodStep(half);
        } else {
          fmt::PeriodGate::Step step = gate.captureDone(entry.index, half, run);
          if (step.pinsComplete) {
            // The packet that completed, not the one the position points at: capture may
            // run ahead of render.
            if (fmt::inputCopyDue(capturePeriods)) copyInput(completed, fmt::inputHalf(completed));
            ++capturePeriods;
          }
          if (step.periodDue) periodStep(half);
        }
      }
    }
    if (owned().takeResetRequest(identity())) askHostForReset();
  }
  stepPinsDown(pinState);
}

}  // namespace tess
