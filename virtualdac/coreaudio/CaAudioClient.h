// An endpoint's audio client in exclusive, event-driven mode. Its stream is a pin of the
// endpoint's filter, opened at Initialize: periods travel as that pin's stream requests,
// so they play (or record) on the device's clock, reach the WAV file and the loopback
// wire, and stall or fail with the device exactly as the kernel-streaming face's do.
// A period's buffer is a slot: a stream header, its OVERLAPPED (whose event is the
// client's) and the period's bytes.
#pragma once

#include <array>
#include <deque>

#include "CaCom.h"
#include "CaWorld.h"

namespace tess::vdac::ca {

class AudioClient final : public IAudioClient, RefCounted {
 public:
  AudioClient(WorldRef world, int endpoint);
  ~AudioClient() override;
  TESS_CA_IUNKNOWN

  HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE mode, DWORD flags, REFERENCE_TIME duration,
                                       REFERENCE_TIME periodicity, const WAVEFORMATEX* format,
                                       LPCGUID session) override;
  HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32* frames) override;
  HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME* latency) override;
  HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32* frames) override;
  HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE mode, const WAVEFORMATEX* format,
                                              WAVEFORMATEX** closest) override;
  HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX** format) override;
  HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME* defaultPeriod, REFERENCE_TIME* minimumPeriod) override;
  HRESULT STDMETHODCALLTYPE Start() override;
  HRESULT STDMETHODCALLTYPE Stop() override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE event) override;
  HRESULT STDMETHODCALLTYPE GetService(REFIID iid, void** out) override;

  // The services' calls.
  HRESULT renderGetBuffer(UINT32 frames, BYTE** data);
  HRESULT renderReleaseBuffer(UINT32 frames, DWORD flags);
  HRESULT captureGetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64* devicePosition, UINT64* qpcPosition);
  HRESULT captureReleaseBuffer(UINT32 frames);
  HRESULT captureNextPacketSize(UINT32* frames);

 private:
  enum class SlotState { Free, Queued, Filled, Held };  // Filled: a recorded period
  struct Slot {
    KSSTREAM_HEADER header{};
    OVERLAPPED ov{};
    std::vector<uint8_t> data;
    SlotState state = SlotState::Free;
  };
  static constexpr size_t kRenderSlots = 2;   // the one playing and the one the client fills
  static constexpr size_t kCaptureSlots = 4;  // periods recorded ahead of the client

  void* interfaceFor(REFIID iid) override;
  const Endpoint& endpoint() const { return world_->endpoints[endpoint_]; }
  // With the lock held: the device and the stream's pin, null when the device is gone
  // (removed, or no longer installed).
  detail::Pin* livePin(detail::Dac*& dac);
  bool endpointGone();
  void collectCompleted();  // queued slots whose request ended: data ready, or free
  void queueSlot(detail::Dac& dac, detail::Pin& pin, size_t index, uint32_t frames);
  size_t slotsInState(SlotState s) const;
  void detachEvents();  // cancellations from here on signal nobody

  WorldRef world_;
  int endpoint_;
  bool render_;
  // Guarded by the device lock.
  bool initialized_ = false;
  bool running_ = false;
  HANDLE pin_ = nullptr;
  WaveFields format_;
  uint32_t bufferFrames_ = 0;
  REFERENCE_TIME period_ = 0;
  HANDLE event_ = nullptr;
  std::array<Slot, kCaptureSlots> slots_;
  std::deque<size_t> order_;  // queued and filled slots in the order they were queued
  int held_ = -1;             // slot handed out by GetBuffer
  uint64_t capturedFrames_ = 0;
};

IAudioRenderClient* newRenderService(AudioClient* client);
IAudioCaptureClient* newCaptureService(AudioClient* client);

}  // namespace tess::vdac::ca
