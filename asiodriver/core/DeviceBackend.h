// The one seam between the driver core and the way it reaches the device: kernel-streaming
// pins with packets (ks/) or exclusive event-driven Core Audio clients (coreaudio/). The
// core owns the IASIO object, its states, the status block, the threads, the half
// bookkeeping and every copy; a backend finds the device, opens and closes its streams,
// runs and halts them, and says which slot finished which period.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "Asio.h"
#include "RateRecord.h"
#include "SampleCopy.h"

namespace tess {

enum Direction : uint32_t { kRender = 0, kCapture = 1 };

inline constexpr uint32_t kPathChars = 260;

// What binding found.
struct DeviceFacts {
  char devicePath[kPathChars];   // what matched (a filter's link, an endpoint's hardware path)
  char capturePath[kPathChars];  // the capture filter's (kernel streaming), else empty
  char deviceName[kPathChars];
  uint16_t vendorId;
  uint16_t productId;
  uint8_t capabilityMask;  // bit 1: 16-bit, bit 2: 24-bit, bit 3: 32-bit samples
  bool capturePresent;
  // The device refuses packed 24-bit samples but takes 24 valid bits in 4-byte
  // containers: 24-bit audio then streams in those containers.
  bool twentyFourIn32;
};

// The stream format createBuffers fixed for the run.
struct StreamFormat {
  uint32_t containerBits;
  uint32_t validBits;
  uint32_t rate;             // the device's (the carrier rate at a DSD rate)
  uint32_t framesPerPeriod;  // device frames
  bool dsd;
};

// The core's side of the pump: a backend reports each finished period of a slot, in the
// order the device finished them. `token` names the backend's buffer of that period; for
// a render slot of a backend that asks for each period, it is 1 when the device had run
// dry before this request.
class PumpSink {
 public:
  virtual void slotFinished(Direction dir, uint32_t slot, uint32_t half, uint32_t token) = 0;

 protected:
  ~PumpSink() = default;
};

class DeviceBackend {
 public:
  virtual ~DeviceBackend() = default;

  // --- Host thread --------------------------------------------------------------------
  // Finds and probes the device (bindDevice). False when no supported device is present.
  virtual bool bind(DeviceFacts& facts) = 0;
  // Opens what streaming needs (init); false fails init with everything released.
  virtual bool open(const DeviceFacts& facts) = 0;
  virtual void close() = 0;
  // Fills the nine records of one direction for host samples of `width` bits.
  virtual void buildRateRecords(Direction dir, uint32_t width, const DeviceFacts& facts, RateRecord* records) = 0;
  // Opens slot `slot` of `record` for the run; `channelsInUse` may grow to what the device
  // takes. Any error leaves nothing open: ASE_HWMalfunction when the device is held or
  // refuses, ASE_InvalidParameter when it cannot take the buffer size, ASE_NoMemory.
  virtual ASIOError openSlot(Direction dir, const RateRecord& record, uint32_t slot, uint32_t& channelsInUse,
                        const StreamFormat& format) = 0;
  // Closes an opened slot and frees what openSlot made.
  virtual void closeSlot(Direction dir, uint32_t slot) = 0;
  // The channel group getChannelInfo reports for a slot of a record.
  virtual int32_t channelGroup(Direction dir, const RateRecord& record, uint32_t slot) const = 0;
  // True when the host's output of a period goes to the device after its buffer switch
  // (into a packet queued ahead); false when the backend asks for each period as the
  // device wants it (slotFinished of a render slot then copies the half first).
  virtual bool copiesOutputAfterSwitch() const = 0;
  // Buffers from a switch to the moment its output starts to play, with capture streaming
  // too (`duplex`) or not.
  virtual uint32_t outputLatencyPeriods(bool duplex) const = 0;

  // --- Pump thread --------------------------------------------------------------------
  // The pump thread begins (true) and ends (false): what the thread needs for the device.
  virtual void pumpThread(bool) {}
  // The events the pump waits on beside its own, for the opened slots; at most `room`.
  virtual uint32_t waitHandles(HANDLE* handles, uint32_t room) = 0;
  // Primes and runs the opened streams. False when the device refused: nothing runs then.
  virtual bool startStreaming() = 0;
  virtual void haltStreaming() = 0;
  // Wait handle `index` (into waitHandles' list) was signalled.
  virtual void onSignal(uint32_t index, bool running, PumpSink& sink) = 0;
  // After the switch at `samplePosition`: hand the device what the period needs. True
  // when the device ran a period without data since the last call.
  virtual bool queuePeriod(uint64_t samplePosition, uint32_t bufferSize, uint64_t switchCount) = 0;
  // The render buffer of a slot for the period `token` (after-switch backends: the packet
  // of fmt::outputPacket). endRender hands it to the device.
  virtual bool beginRender(uint32_t slot, uint32_t token, fmt::RenderPacket& target) = 0;
  virtual void endRender(uint32_t slot) = 0;
  // The captured data of a slot's finished period; endCapture gives it back.
  virtual bool beginCapture(uint32_t slot, uint32_t token, fmt::CapturePacket& source) = 0;
  virtual void endCapture(uint32_t slot) = 0;
};

using BackendFactory = DeviceBackend* (*)();

}  // namespace tess
