// The kernel-streaming way to the device: the USB device's audio filters (render, and
// capture wherever the device registers it), one pin per slot, and a ring of stream
// packets per pin whose completions mark the periods.
#pragma once

#include <windows.h>
#include <ks.h>

#include "DeviceBackend.h"

class CKsAudPin;
class CKsAudRenFilter;
class CKsAudCapFilter;

namespace tess {

class KsBackend final : public DeviceBackend {
 public:
  ~KsBackend() override;

  bool bind(DeviceFacts& facts) override;
  bool open(const DeviceFacts& facts) override;
  void close() override;
  void buildRateRecords(Direction dir, uint32_t width, const DeviceFacts& facts, RateRecord* records) override;
  ASIOError openSlot(Direction dir, const RateRecord& record, uint32_t slot, uint32_t& channelsInUse,
                     const StreamFormat& format) override;
  void closeSlot(Direction dir, uint32_t slot) override;
  int32_t channelGroup(Direction dir, const RateRecord& record, uint32_t slot) const override;
  bool copiesOutputAfterSwitch() const override { return true; }
  // The switch's output leaves in the packet queued after the one still waiting.
  uint32_t outputLatencyPeriods(bool) const override { return fmt::kPeriodsInFlight - 1; }

  uint32_t waitHandles(HANDLE* handles, uint32_t room) override;
  bool startStreaming() override;
  void haltStreaming() override;
  void onSignal(uint32_t index, bool running, PumpSink& sink) override;
  bool queuePeriod(uint64_t samplePosition, uint32_t bufferSize, uint64_t switchCount) override;
  bool beginRender(uint32_t slot, uint32_t token, fmt::RenderPacket& target) override;
  void endRender(uint32_t) override {}
  bool beginCapture(uint32_t slot, uint32_t token, fmt::CapturePacket& source) override;
  void endCapture(uint32_t) override {}

 private:
  // One stream request: the header the pin reads or writes, with its own completion event.
  struct Packet {
    KSSTREAM_HEADER header;  // Data points at the packet's buffer (module heap)
    OVERLAPPED overlapped;   // hEvent: auto-reset, created with the packet
  };
  struct OpenPin {
    CKsAudPin* pin;  // owned by the filter; null when the slot is not open
    uint32_t channels;
    Packet packets[fmt::kPacketsPerPin];
  };
  // Which pin and packet a wait handle belongs to.
  struct WaitEntry {
    Direction dir;
    uint32_t slot;
    uint32_t packet;
  };

  // Probes the render filter on `path` and the capture filter on `capturePath`.
  bool probe(const char* path, const char* capturePath, const char* name, DeviceFacts& facts);
  void deleteFilters();
  bool setStates(KSSTATE state);  // false when any pin refused the state
  void stepDown();
  void fillSilence(uint32_t packet);
  void submit(uint32_t packet, bool write, uint64_t switchCount);
  bool queueRanDry(uint32_t packet) const;

  CKsAudRenFilter* m_render = nullptr;
  CKsAudCapFilter* m_capture = nullptr;
  // The pins of each record's slots, by direction and rate index (the filters own them).
  CKsAudPin* m_pins[2][kRateCount][fmt::kPinSlots] = {};
  OpenPin m_open[2][fmt::kPinSlots] = {};
  bool m_dsd = false;

  // Pump state.
  WaitEntry m_waits[2 * fmt::kPinSlots * fmt::kPacketsPerPin] = {};
  uint32_t m_state = KSSTATE_STOP;
  // Per direction and pin: the packet whose completion comes next, and completions seen
  // ahead of it.
  uint32_t m_next[2][fmt::kPinSlots] = {};
  bool m_completed[2][fmt::kPinSlots][fmt::kPacketsPerPin] = {};
};

// A new backend for one driver object; null when out of memory.
DeviceBackend* makeKsBackend();

}  // namespace tess
