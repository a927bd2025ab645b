// The driver object's arithmetic and decisions that need no system call: buffer sizes and
// latencies, width and rate choice, channel names, the `future` selector table. Portable,
// so the native build tests them under the sanitizers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Asio.h"
#include "SampleRates.h"

namespace tess::drv {

// Buffer durations in milliseconds; getBufferSize uses the first (the minimum-duration
// index is always 0) and the last.
inline constexpr int kBufferDurationCount = 34;
inline constexpr double kBufferDurationsMs[kBufferDurationCount] = {
    2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 14, 16, 18, 20, 25, 30, 40,
    50, 60, 70, 80, 90, 100, 125, 150, 175, 200, 250, 300, 350, 400, 450, 500, 600};
inline constexpr uint64_t kDefaultDuration = 100000;  // 10 ms in 100 ns units

struct BufferSizes {
  int32_t minSize, maxSize, preferred, granularity;
};

// Frames of `duration` (100 ns units) at `rate` Hz, truncated.
int32_t framesOfDuration(uint32_t rate, uint64_t duration);

// getBufferSize: from the PCM rate (the preferred size kept within min..max), or the fixed
// values of a native DSD rate (in DSD samples).
BufferSizes bufferSizes(uint32_t pcmRate, uint32_t asioRate, uint64_t preferredDuration);

// The widest width the capability mask (bit 1: 16, bit 2: 24, bit 3: 32) allows.
uint32_t widestWidth(uint32_t capabilityMask);
// Keeps a requested width that is 16, 24 or 32 and supported, else the widest supported.
uint32_t chooseWidth(uint32_t requested, uint32_t capabilityMask);

// Which table rates have a valid rate record, per direction.
struct RateValidity {
  bool render[kRateCount];
  bool capture[kRateCount];
};
// Keeps `current` when both directions are valid at it, else the first table rate valid in
// both; 0 when there is none.
uint32_t choosePcmRate(uint32_t current, const RateValidity& v);
// Bit i: table rate i is valid in both directions.
uint32_t supportedRatesMask(const RateValidity& v);

// The integral rate in Hz a host asked for, or 0 when it is not one (negative, fractional,
// out of range, not a number).
uint32_t rateFromAsio(double rate);

// A kernel-streaming device path of a supported device: "VID_" and "PID_" with four hex
// digits each and "MI_" must appear (any case); vendor and product must be in the table.
bool matchDevicePath(const char* path, uint16_t& vendorId, uint16_t& productId);

// getChannelInfo's name: "<device>_<I|O>_<L|R>", cut to the 32-byte field.
void channelName(char (&out)[32], const char* deviceName, bool isInput, int32_t channel);

// Features the driver offers (set at init) and its I/O-format state.
struct FeatureFlags {
  bool canInputMonitor, canTimeInfo, canTimeCode, canTransport;
  bool canInputGain, canInputMeter, canOutputGain, canOutputMeter;
  bool dsdCapable, resyncSupported;
};
inline constexpr FeatureFlags kOfferedFeatures = {false, true, false, false, false,
                                                  false, false, false, true,  true};

struct FutureState {
  int32_t ioFormat = kASIOPCMFormat;
  bool timeCodeRead = false;
};

// The `future` selector table. `opt` is the host's argument (an ASIOIoFormat for the
// I/O-format selectors; a null one is an invalid parameter).
ASIOError futureSelector(int32_t selector, void* opt, const FeatureFlags& features, FutureState& state);

}  // namespace tess::drv
