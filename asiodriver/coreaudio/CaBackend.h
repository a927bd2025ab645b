// The Core Audio way to the device: the USB device's render endpoint (and capture
// endpoint, when it has a capture path) found through the multimedia device enumerator,
// streamed by exclusive, event-driven audio clients. A slot is an endpoint; its client
// signals the slot's event once per period and the data travels through the client's own
// buffer.
#pragma once

#include <windows.h>
#include <mmdeviceapi.h>
#include <audioclient.h>

#include "DeviceBackend.h"

namespace tess {

// Endpoint slots of a rate record; the device uses slot 0, with two channels.
inline constexpr uint32_t kEndpointSlots = 30;
inline constexpr uint32_t kEndpointChannels = 2;

class CaBackend final : public DeviceBackend {
 public:
  ~CaBackend() override;

  bool bind(DeviceFacts& facts) override;
  bool open(const DeviceFacts& facts) override;
  void close() override;
  void buildRateRecords(Direction dir, uint32_t width, const DeviceFacts& facts, RateRecord* records) override;
  ASIOError openSlot(Direction dir, const RateRecord& record, uint32_t slot, uint32_t& channelsInUse,
                     const StreamFormat& format) override;
  void closeSlot(Direction dir, uint32_t slot) override;
  int32_t channelGroup(Direction, const RateRecord&, uint32_t) const override { return 0; }
  bool copiesOutputAfterSwitch() const override { return false; }
  // A switch's output goes to the client with the request that begins the next period and
  // plays a period after that.
  uint32_t outputLatencyPeriods(bool) const override { return 2; }

  void pumpThread(bool begins) override;
  uint32_t waitHandles(HANDLE* handles, uint32_t room) override;
  bool startStreaming() override;
  void haltStreaming() override;
  void onSignal(uint32_t index, bool running, PumpSink& sink) override;
  bool queuePeriod(uint64_t samplePosition, uint32_t bufferSize, uint64_t switchCount) override;
  bool beginRender(uint32_t slot, uint32_t token, fmt::RenderPacket& target) override;
  void endRender(uint32_t slot) override;
  bool beginCapture(uint32_t slot, uint32_t token, fmt::CapturePacket& source) override;
  void endCapture(uint32_t slot) override;

 private:
  // An open stream: the audio client and its render or capture service.
  struct Stream {
    IAudioClient* client;
    IAudioRenderClient* render;
    IAudioCaptureClient* capture;
    uint32_t frames;      // per period
    uint32_t blockAlign;  // bytes per frame
    bool dsd;
    uint8_t* silence;   // capture: a zeroed period for data flagged silent
    UINT32 heldFrames;  // capture: frames of the buffer taken by beginCapture
    uint64_t periods;   // events taken in this run (their parity is the half)
  };

  // Finds the device's render endpoint and, when `wantCapture`, its capture endpoint;
  // keeps them in m_endpoints. False when no render endpoint matches.
  bool findEndpoints(bool wantCapture, DeviceFacts* facts);
  void releaseEndpoints();
  Stream* stream(Direction dir, uint32_t slot);
  // Queues one period of silence on a render stream; false when the client takes none.
  static bool writeSilence(Stream& s);

  IMMDevice* m_endpoints[2] = {};  // render, capture
  HANDLE m_events[2][kEndpointSlots] = {};
  Stream m_streams[2][fmt::kPinSlots] = {};
  volatile LONG m_discontinuity = 0;  // the device reported a gap in the captured data
  bool m_pumpCom = false;              // the pump thread joined COM (and leaves it at its end)
};

// A new backend for one driver object; null when out of memory.
DeviceBackend* makeCaBackend();

}  // namespace tess
