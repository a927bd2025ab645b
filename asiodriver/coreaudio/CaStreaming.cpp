// Streaming through audio clients: opening an exclusive, event-driven client per slot,
// running and halting them, and taking each period from or giving it to the client's own
// buffer as its event asks.
#include <windows.h>
#include <mmdeviceapi.h>
#include <audioclient.h>

#include <cstring>
#include <initializer_list>

#include "CaBackend.h"
#include "CaIds.h"
#include "ComPtr.h"
#include "Module.h"
#include "PcmFormat.h"
#include "SampleFormat.h"

namespace tess {
namespace {

using ca::kIidAudioClient;
using ca::kIidCaptureClient;
using ca::kIidRenderClient;

// Captured periods one event may stand for when the pump was late.
constexpr uint32_t kMostPeriodsPerEvent = 4;

// What createBuffers reports for a client that could not be opened.
ASIOError openFailure(HRESULT hr) {
  // Held by another program, or gone: the device, not the host's request, is the cause.
  if (hr == AUDCLNT_E_DEVICE_IN_USE || hr == AUDCLNT_E_DEVICE_INVALIDATED || hr == AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED)
    return ASE_HWMalfunction;
  return hr == E_OUTOFMEMORY ? ASE_NoMemory : ASE_InvalidParameter;
}

// Opens an exclusive, event-driven client of one period on `endpoint`; its event is
// `event`. On failure nothing stays open.
HRESULT openClient(IMMDevice* endpoint, bool render, HANDLE event, const WAVEFORMATEXTENSIBLE& wanted,
                   uint32_t frames, IAudioClient** clientOut, IUnknown** serviceOut) {
  if (!endpoint || !clientOut || !serviceOut || !event || event == INVALID_HANDLE_VALUE) return E_FAIL;
  *clientOut = nullptr;
  *serviceOut = nullptr;
  ComPtr<IAudioClient> client;
  HRESULT hr = endpoint->Activate(kIidAudioClient, CLSCTX_INPROC_SERVER, nullptr, reinterpret_cast<void**>(client.put()));
  if (FAILED(hr) || !client) return FAILED(hr) ? hr : E_FAIL;
  // The endpoint's own format must be an extensible one for ours to be understood.
  WAVEFORMATEX* mix = nullptr;
  hr = client->GetMixFormat(&mix);
  const bool extensible = SUCCEEDED(hr) && mix && mix->wFormatTag == WAVE_FORMAT_EXTENSIBLE;
  if (mix) CoTaskMemFree(mix);
  if (!extensible) return FAILED(hr) ? hr : E_FAIL;
  WAVEFORMATEXTENSIBLE format = wanted;
  hr = client->IsFormatSupported(AUDCLNT_SHAREMODE_EXCLUSIVE, &format.Format, nullptr);
  if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
  REFERENCE_TIME defaultPeriod = 0, minimumPeriod = 0;
  if (FAILED(hr = client->GetDevicePeriod(&defaultPeriod, &minimumPeriod))) return hr;
  // One period of the host's buffer, in 100 ns units.
  const REFERENCE_TIME duration =
      static_cast<REFERENCE_TIME>(uint64_t{frames} * 10000000u / format.Format.nSamplesPerSec);
  hr = client->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, duration, duration,
                          &format.Format, nullptr);
  if (FAILED(hr)) return hr;
  // A buffer of any other size would not meet the host's periods (no retry with an
  // aligned size: the host chose the size).
  UINT32 bufferFrames = 0;
  if (FAILED(hr = client->GetBufferSize(&bufferFrames))) return hr;
  if (bufferFrames != frames) return AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED;
  if (FAILED(hr = client->SetEventHandle(event)) || FAILED(hr = client->Reset())) return hr;
  IUnknown* service = nullptr;
  hr = client->GetService(render ? kIidRenderClient : kIidCaptureClient, reinterpret_cast<void**>(&service));
  if (FAILED(hr) || !service) return FAILED(hr) ? hr : E_FAIL;
  *serviceOut = service;
  *clientOut = client.detach();
  return S_OK;
}

}  // namespace

CaBackend::Stream* CaBackend::stream(Direction dir, uint32_t slot) {
  if (slot >= fmt::kPinSlots) return nullptr;
  Stream& s = m_streams[dir][slot];
  return s.client ? &s : nullptr;
}

ASIOError CaBackend::openSlot(Direction dir, const RateRecord& record, uint32_t slot, uint32_t& channelsInUse,
                              const StreamFormat& format) {
  if (slot != 0 || !record.slots[slot].valid) return ASE_InvalidParameter;
  closeSlot(dir, slot);
  const bool render = dir == kRender;
  const WAVEFORMATEXTENSIBLE wanted =
      pcmFormat(kEndpointChannels, format.containerBits, format.validBits, format.rate);
  IAudioClient* client = nullptr;
  IUnknown* service = nullptr;
  const HRESULT hr =
      openClient(m_endpoints[dir], render, m_events[dir][slot], wanted, format.framesPerPeriod, &client, &service);
  if (FAILED(hr)) return openFailure(hr);
  Stream& s = m_streams[dir][slot];
  std::memset(&s, 0, sizeof s);
  s.client = client;
  if (render)
    s.render = static_cast<IAudioRenderClient*>(service);
  else
    s.capture = static_cast<IAudioCaptureClient*>(service);
  s.frames = format.framesPerPeriod;
  s.blockAlign = wanted.Format.nBlockAlign;
  s.dsd = format.dsd;
  if (!render) {
    s.silence = static_cast<uint8_t*>(moduleAlloc(size_t{s.frames} * s.blockAlign));
    if (!s.silence) {
      closeSlot(dir, slot);
      return ASE_NoMemory;
    }
  }
  channelsInUse = kEndpointChannels;
  return ASE_OK;
}

void CaBackend::closeSlot(Direction dir, uint32_t slot) {
  if (slot >= fmt::kPinSlots) return;
  Stream& s = m_streams[dir][slot];
  if (s.render) s.render->Release();
  if (s.capture) s.capture->Release();
  if (s.client) s.client->Release();
  moduleFree(s.silence);
  std::memset(&s, 0, sizeof s);
}

// --- Pump thread ------------------------------------------------------------------------

void CaBackend::pumpThread(bool begins) {
  // The clients are serviced from the pump thread: it joins the multithreaded apartment,
  // as the audio clients' own documentation asks of the threads that use them.
  if (begins) {
    m_pumpCom = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
  } else if (m_pumpCom) {
    CoUninitialize();
    m_pumpCom = false;
  }
}

uint32_t CaBackend::waitHandles(HANDLE* handles, uint32_t room) {
  // Every slot event of both directions, the render slots' first: a request for output is
  // served before the host's switch of a period captured at the same moment, so the
  // device never waits for the host.
  uint32_t count = 0;
  for (Direction dir : {kRender, kCapture})
    for (HANDLE event : m_events[dir])
      if (event && count < room) handles[count++] = event;
  return count;
}

bool CaBackend::startStreaming() {
  InterlockedExchange(&m_discontinuity, 0);
  bool ok = true;
  for (Direction dir : {kRender, kCapture}) {
    for (uint32_t slot = 0; slot < fmt::kPinSlots; ++slot) {
      Stream* s = stream(dir, slot);
      if (!s) continue;
      s->periods = 0;
      s->dry = false;
      // A halted client keeps what it held: every run begins empty.
      ok &= SUCCEEDED(s->client->Reset());
    }
  }
  // One period of silence ahead of the start, so the first event leaves a period of time.
  for (uint32_t slot = 0; ok && slot < fmt::kPinSlots; ++slot)
    if (Stream* s = stream(kRender, slot)) ok = writeSilence(*s);
  for (Direction dir : {kCapture, kRender})
    for (uint32_t slot = 0; ok && slot < fmt::kPinSlots; ++slot)
      if (Stream* s = stream(dir, slot)) ok = SUCCEEDED(s->client->Start());
  // A device that refuses to start (held, removed) runs nothing.
  if (!ok) haltStreaming();
  return ok;
}

bool CaBackend::writeSilence(Stream& s) {
  BYTE* data = nullptr;
  if (FAILED(s.render->GetBuffer(s.frames, &data)) || !data) return false;
  fmt::fillSilence(data, size_t{s.frames} * s.blockAlign, s.dsd);
  return SUCCEEDED(s.render->ReleaseBuffer(s.frames, 0));
}

void CaBackend::haltStreaming() {
  for (Direction dir : {kCapture, kRender})
    for (uint32_t slot = 0; slot < fmt::kPinSlots; ++slot)
      if (Stream* s = stream(dir, slot)) s->client->Stop();
}

void CaBackend::onSignal(uint32_t index, bool running, PumpSink& sink) {
  const Direction dir = index < kEndpointSlots ? kRender : kCapture;
  const uint32_t slot = index % kEndpointSlots;
  Stream* s = stream(dir, slot);
  if (!s) return;
  if (dir == kRender) {
    // Nothing left playing when the device asks: the pump was late and the device played
    // a period without us. Told once: a device that waits for late data instead (and so
    // keeps finding the client empty) loses nothing more while each period comes in time.
    UINT32 padding = 1;
    const bool dry =
        running && s->periods > 0 && SUCCEEDED(s->client->GetCurrentPadding(&padding)) && padding == 0;
    const uint32_t ranDry = dry && !s->dry ? 1 : 0;
    s->dry = dry;
    sink.slotFinished(kRender, slot, static_cast<uint32_t>(s->periods++ & 1), ranDry);
    return;
  }
  // Auto-reset events merge when the pump is late: take every period the client holds.
  UINT32 next = 0;
  uint32_t taken = 0;
  do {
    sink.slotFinished(kCapture, slot, static_cast<uint32_t>(s->periods++ & 1), 0);
  } while (running && ++taken < kMostPeriodsPerEvent && SUCCEEDED(s->capture->GetNextPacketSize(&next)) && next);
}

bool CaBackend::queuePeriod(uint64_t, uint32_t, uint64_t) {
  // Nothing to queue: each client asks for its periods. A gap the device reported in the
  // captured data is a period lost.
  return InterlockedExchange(&m_discontinuity, 0) != 0;
}

bool CaBackend::beginRender(uint32_t slot, uint32_t, fmt::RenderPacket& target) {
  Stream* s = stream(kRender, slot);
  if (!s) return false;
  BYTE* data = nullptr;
  if (FAILED(s->render->GetBuffer(s->frames, &data)) || !data) return false;  // this period is skipped
  const size_t bytes = size_t{s->frames} * s->blockAlign;
  // Channels the host has no buffer for play silence, not what the buffer held before.
  fmt::fillSilence(data, bytes, s->dsd);
  target = fmt::RenderPacket{data, bytes, kEndpointChannels};
  return true;
}

void CaBackend::endRender(uint32_t slot) {
  if (Stream* s = stream(kRender, slot)) s->render->ReleaseBuffer(s->frames, 0);
}

bool CaBackend::beginCapture(uint32_t slot, uint32_t, fmt::CapturePacket& source) {
  Stream* s = stream(kCapture, slot);
  if (!s) return false;
  BYTE* data = nullptr;
  UINT32 frames = 0;
  DWORD flags = 0;
  const HRESULT hr = s->capture->GetBuffer(&data, &frames, &flags, nullptr, nullptr);
  if (hr != S_OK || !data) return false;  // failed, or nothing recorded yet
  s->heldFrames = frames;
  if (flags & AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY) InterlockedExchange(&m_discontinuity, 1);
  // More than a period would overrun the host's half; silence is what the device says it is.
  const UINT32 copied = frames < s->frames ? frames : s->frames;
  const uint8_t* from = (flags & AUDCLNT_BUFFERFLAGS_SILENT) ? s->silence : data;
  source = fmt::CapturePacket{from, size_t{copied} * s->blockAlign, kEndpointChannels};
  return true;
}

void CaBackend::endCapture(uint32_t slot) {
  Stream* s = stream(kCapture, slot);
  if (!s) return;
  s->capture->ReleaseBuffer(s->heldFrames);
  s->heldFrames = 0;
}

}  // namespace tess
