// Streaming through pins: opening a pin per slot with its ring of packets, the state
// steps that run and halt them, and the packet completions that mark the periods.
#include <windows.h>
#include <mmreg.h>

#include <cstring>
#include <initializer_list>

#include "KsAudio.h"
#include "KsBackend.h"
#include "Module.h"
#include "PcmFormat.h"
#include "SampleFormat.h"

namespace tess {
namespace {

// How long a closed pin's cancelled requests may take to come back before their buffers
// are given up (left allocated rather than freed under the device).
constexpr DWORD kCancelledRequestWaitMs = 2000;

bool openPinFormat(CKsAudPin* pin, uint32_t channels, const StreamFormat& format) {
  WAVEFORMATEXTENSIBLE wfe = pcmFormat(channels, format.containerBits, format.validBits, format.rate);
  if (FAILED(pin->SetFormat(&wfe.Format)) || FAILED(pin->Instantiate(FALSE))) return false;
  if (FAILED(pin->Reset())) {
    pin->ClosePin();  // a pin we cannot flush is not used, and its handle not kept
    return false;
  }
  return true;
}

}  // namespace

ASIOError KsBackend::openSlot(Direction dir, const RateRecord& record, uint32_t slot, uint32_t& channelsInUse,
                              const StreamFormat& format) {
  const int rate = rateIndex(record.rate);
  if (rate < 0 || slot >= fmt::kPinSlots) return ASE_InvalidParameter;
  CKsAudPin* pin = m_pins[dir][rate][slot];
  if (!pin) return ASE_HWMalfunction;
  closeSlot(dir, slot);
  bool opened = false;
  uint32_t channels = channelsInUse;
  for (; channels <= record.slots[slot].maxChannels && !opened; ++channels) opened = openPinFormat(pin, channels, format);
  if (!opened) return ASE_HWMalfunction;
  --channels;  // the loop stepped past the count that opened

  OpenPin& open = m_open[dir][slot];
  open.pin = pin;
  open.channels = channels;
  m_dsd = format.dsd;
  const uint64_t extent = fmt::packetBytes(format.containerBits, channels, format.framesPerPeriod);
  for (Packet& packet : open.packets) {
    std::memset(&packet, 0, sizeof packet);
    KSSTREAM_HEADER& h = packet.header;
    h.Size = sizeof(KSSTREAM_HEADER);
    h.PresentationTime.Numerator = 1;
    h.PresentationTime.Denominator = 1;
    h.Data = extent <= 0x7FFFFFFF ? moduleAlloc(extent) : nullptr;
    packet.overlapped.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!h.Data || !packet.overlapped.hEvent) {
      closeSlot(dir, slot);
      return ASE_NoMemory;
    }
    h.FrameExtent = static_cast<ULONG>(extent);
    h.DataUsed = dir == kRender ? h.FrameExtent : 0;
  }
  channelsInUse = channels;
  return ASE_OK;
}

void KsBackend::closeSlot(Direction dir, uint32_t slot) {
  if (slot >= fmt::kPinSlots) return;
  OpenPin& open = m_open[dir][slot];
  if (!open.pin) return;
  open.pin->ClosePin();  // stops the pin and cancels what it still holds
  const DWORD begun = GetTickCount();
  for (Packet& packet : open.packets) {
    // A cancelled request may complete later, on the device's own thread: its buffer and
    // event stay until it has (one time budget for the whole ring).
    bool done = HasOverlappedIoCompleted(&packet.overlapped);
    const DWORD spent = GetTickCount() - begun;
    if (!done && packet.overlapped.hEvent && spent < kCancelledRequestWaitMs)
      done = WaitForSingleObject(packet.overlapped.hEvent, kCancelledRequestWaitMs - spent) == WAIT_OBJECT_0;
    done = done || HasOverlappedIoCompleted(&packet.overlapped);
    if (done) {
      moduleFree(packet.header.Data);
      if (packet.overlapped.hEvent) CloseHandle(packet.overlapped.hEvent);
    }
    std::memset(&packet, 0, sizeof packet);
  }
  open.pin = nullptr;
  open.channels = 0;
}

int32_t KsBackend::channelGroup(Direction dir, const RateRecord& record, uint32_t slot) const {
  const int rate = rateIndex(record.rate);
  const CKsAudPin* pin = rate >= 0 && slot < fmt::kPinSlots ? m_pins[dir][rate][slot] : nullptr;
  return pin ? static_cast<int32_t>(pin->GetId()) : 0;
}

// --- Pump thread ------------------------------------------------------------------------

uint32_t KsBackend::waitHandles(HANDLE* handles, uint32_t room) {
  // The events of the opened render pins' packets, then the capture pins'.
  uint32_t count = 0;
  for (Direction dir : {kRender, kCapture}) {
    for (uint32_t s = 0; s < fmt::kPinSlots; ++s) {
      if (!m_open[dir][s].pin) continue;
      for (uint32_t k = 0; k < fmt::kPacketsPerPin && count < room; ++k) {
        HANDLE e = m_open[dir][s].packets[k].overlapped.hEvent;
        if (!e) continue;
        handles[count] = e;
        m_waits[count++] = WaitEntry{dir, s, k};
      }
    }
  }
  return count;
}

bool KsBackend::setStates(KSSTATE state) {
  bool ok = true;
  for (Direction dir : {kCapture, kRender})
    for (OpenPin& open : m_open[dir])
      if (open.pin) ok &= SUCCEEDED(open.pin->SetState(state));
  return ok;
}

void KsBackend::stepDown() {
  // One transition per call, as the pins require.
  while (m_state > KSSTATE_STOP) setStates(static_cast<KSSTATE>(--m_state));
}

bool KsBackend::startStreaming() {
  std::memset(m_next, 0, sizeof m_next);
  std::memset(m_completed, 0, sizeof m_completed);
  bool ok = setStates(KSSTATE_ACQUIRE);
  m_state = KSSTATE_ACQUIRE;
  ok = ok && setStates(KSSTATE_PAUSE);
  if (ok) {
    m_state = KSSTATE_PAUSE;
    for (uint32_t j = 0; j < fmt::kPeriodsInFlight; ++j) {
      fillSilence(j);
      submit(j, false, 0);
      submit(j, true, 0);
    }
    Sleep(10);
    ok = setStates(KSSTATE_RUN);
    m_state = KSSTATE_RUN;
  }
  // Pins that refuse to run (busy, removed) are stepped back down.
  if (!ok) stepDown();
  return ok;
}

void KsBackend::haltStreaming() { stepDown(); }

void KsBackend::fillSilence(uint32_t packet) {
  for (OpenPin& open : m_open[kRender]) {
    if (!open.pin) continue;
    KSSTREAM_HEADER& h = open.packets[packet].header;
    if (h.FrameExtent && h.Data) fmt::fillSilence(static_cast<uint8_t*>(h.Data), h.FrameExtent, m_dsd);
  }
}

void KsBackend::submit(uint32_t packet, bool write, uint64_t switchCount) {
  for (OpenPin& open : m_open[write ? kRender : kCapture]) {
    if (!open.pin) continue;
    Packet& p = open.packets[packet];
    if (!p.header.Data) continue;
    // A failed submission never completes its period; the watchdog takes it from there.
    if (write) {
      if (m_dsd) fmt::fillDsdSilenceIfUnwritten(static_cast<uint8_t*>(p.header.Data), p.header.FrameExtent, switchCount);
      open.pin->WriteData(&p.header, &p.overlapped);
    } else {
      p.header.DataUsed = 0;
      open.pin->ReadData(&p.header, &p.overlapped);
    }
  }
}

bool KsBackend::queueRanDry(uint32_t packet) const {
  // The packet queued before this one has completed already: the pin has had nothing
  // queued since, so the device played (or recorded) a period without us.
  const uint32_t previous = (packet + fmt::kPacketsPerPin - 1) % fmt::kPacketsPerPin;
  for (Direction dir : {kRender, kCapture})
    for (const OpenPin& open : m_open[dir])
      if (open.pin && open.packets[previous].header.Data &&
          HasOverlappedIoCompleted(&open.packets[previous].overlapped))
        return true;
  return false;
}

bool KsBackend::queuePeriod(uint64_t samplePosition, uint32_t bufferSize, uint64_t switchCount) {
  // The read and the write of a period go out together: a late period then costs the
  // device the same time on both sides (silence played, nothing recorded), and input
  // stays aligned with output.
  const uint32_t packet = fmt::packetToSubmit(samplePosition, bufferSize);
  const bool lost = queueRanDry(packet);
  submit(packet, false, switchCount);
  submit(packet, true, switchCount);
  return lost;
}

void KsBackend::onSignal(uint32_t index, bool, PumpSink& sink) {
  if (index >= sizeof m_waits / sizeof m_waits[0]) return;
  const WaitEntry entry = m_waits[index];
  // A late pump finds several completions signalled and the wait reports the lowest index
  // first, which at the ring's wrap (packet 0 before packet 7) is the newer one.
  // Completions are therefore taken per pin in the order the packets were queued.
  m_completed[entry.dir][entry.slot][entry.packet] = true;
  uint32_t& next = m_next[entry.dir][entry.slot];
  while (m_completed[entry.dir][entry.slot][next]) {
    m_completed[entry.dir][entry.slot][next] = false;
    const uint32_t completed = next;
    next = (next + 1) % fmt::kPacketsPerPin;
    sink.slotFinished(entry.dir, entry.slot, fmt::halfOf(completed), completed);
  }
}

bool KsBackend::beginRender(uint32_t slot, uint32_t token, fmt::RenderPacket& target) {
  const OpenPin& open = m_open[kRender][slot];
  if (!open.pin || token >= fmt::kPacketsPerPin) return false;
  const KSSTREAM_HEADER& h = open.packets[token].header;
  if (!h.FrameExtent || !h.Data) return false;
  target = fmt::RenderPacket{static_cast<uint8_t*>(h.Data), h.FrameExtent, open.channels};
  return true;
}

bool KsBackend::beginCapture(uint32_t slot, uint32_t token, fmt::CapturePacket& source) {
  const OpenPin& open = m_open[kCapture][slot];
  if (!open.pin || token >= fmt::kPacketsPerPin) return false;
  const KSSTREAM_HEADER& h = open.packets[token].header;
  if (!h.DataUsed || !h.Data) return false;
  source = fmt::CapturePacket{static_cast<const uint8_t*>(h.Data), fmt::validCaptureBytes(h.DataUsed, h.FrameExtent),
                              open.channels};
  return true;
}

}  // namespace tess
