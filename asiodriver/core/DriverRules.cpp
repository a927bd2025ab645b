#include "DriverRules.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "DeviceTable.h"

namespace tess::drv {

int32_t framesOfDuration(uint32_t rate, uint64_t duration) {
  uint64_t frames = uint64_t{rate} * duration / 10000000u;
  return frames > INT32_MAX ? INT32_MAX : static_cast<int32_t>(frames);
}

BufferSizes bufferSizes(uint32_t pcmRate, uint32_t asioRate, uint64_t preferredDuration) {
  switch (asioRate) {
    case kDsd64: return {28224, 282240, 28224, 28224};
    case kDsd128: return {56448, 564480, 56448, 56448};
    case kDsd256: return {112896, 1128960, 112896, 112896};
    default: break;
  }
  BufferSizes s;
  s.minSize = static_cast<int32_t>(pcmRate * kBufferDurationsMs[0] / 1000.0);
  s.maxSize = static_cast<int32_t>(pcmRate * kBufferDurationsMs[kBufferDurationCount - 1] / 1000.0);
  // The preferred duration may be shorter than the shortest buffer (the default setting is
  // 1 ms): a host must never see a preferred size outside min..max.
  s.preferred = framesOfDuration(pcmRate, preferredDuration);
  if (s.preferred < s.minSize) s.preferred = s.minSize;
  if (s.preferred > s.maxSize) s.preferred = s.maxSize;
  s.granularity = static_cast<int32_t>(pcmRate / 1000);
  return s;
}

uint32_t widestWidth(uint32_t mask) {
  mask &= 0xF;
  if (mask >= 8) return 32;
  if (mask >= 4) return 24;
  if (mask >= 2) return 16;
  if (mask == 1) return 8;
  return 0;
}

uint32_t chooseWidth(uint32_t requested, uint32_t capabilityMask) {
  uint32_t bit = widthBit(requested);
  if (bit && (capabilityMask & bit)) return requested;
  return widestWidth(capabilityMask);
}

uint32_t choosePcmRate(uint32_t current, const RateValidity& v) {
  int i = rateIndex(current);
  if (i >= 0 && v.render[i] && v.capture[i]) return current;
  for (int r = 0; r < kRateCount; ++r)
    if (v.render[r] && v.capture[r]) return kSampleRates[r];
  return 0;
}

uint32_t supportedRatesMask(const RateValidity& v) {
  uint32_t mask = 0;
  for (int i = 0; i < kRateCount; ++i)
    if (v.render[i] && v.capture[i]) mask |= 1u << i;
  return mask;
}

uint32_t rateFromAsio(double rate) {
  if (!(rate >= 1.0 && rate <= 4294967295.0)) return 0;  // also rejects NaN
  double whole = std::floor(rate);
  return whole == rate ? static_cast<uint32_t>(whole) : 0;
}

bool matchDevicePath(const char* path, uint16_t& vendorId, uint16_t& productId) {
  UsbIdentity id = parseUsbIdentity(path, 259);
  if (!id.hasVendor || !id.hasProduct || !id.hasInterface) return false;
  if (!findSupportedDevice(id.vendorId, id.productId)) return false;
  vendorId = id.vendorId;
  productId = id.productId;
  return true;
}

void channelName(char (&out)[32], const char* deviceName, bool isInput, int32_t channel) {
  std::snprintf(out, sizeof out, "%s_%s_%s", deviceName ? deviceName : "", isInput ? "I" : "O",
                channel == 0 ? "L" : "R");
}

ASIOError futureSelector(int32_t selector, void* opt, const FeatureFlags& f, FutureState& state) {
  auto offered = [](bool flag) { return flag ? ASE_SUCCESS : ASE_NotPresent; };
  switch (selector) {
    case kAsioEnableTimeCodeRead:
    case kAsioDisableTimeCodeRead:
      if (!f.canTimeCode) return ASE_NotPresent;
      state.timeCodeRead = selector == kAsioEnableTimeCodeRead;
      return ASE_SUCCESS;
    case kAsioSetInputMonitor:
    case kAsioTransport:
    case kAsioSetInputGain:
    case kAsioGetInputMeter:
    case kAsioSetOutputGain:
    case kAsioGetOutputMeter: return ASE_NotPresent;
    case kAsioCanInputMonitor: return offered(f.canInputMonitor);
    case kAsioCanTimeInfo: return offered(f.canTimeInfo);
    case kAsioCanTimeCode: return offered(f.canTimeCode);
    case kAsioCanTransport: return offered(f.canTransport);
    case kAsioCanInputGain: return offered(f.canInputGain);
    case kAsioCanInputMeter: return offered(f.canInputMeter);
    case kAsioCanOutputGain: return offered(f.canOutputGain);
    case kAsioCanOutputMeter: return offered(f.canOutputMeter);
    case kAsioSetIoFormat: {
      if (!opt) return ASE_InvalidParameter;
      auto* io = static_cast<ASIOIoFormat*>(opt);
      if (io->FormatType == kASIOPCMFormat || io->FormatType == kASIODSDFormat) {
        state.ioFormat = io->FormatType;
        return ASE_SUCCESS;
      }
      io->FormatType = kASIOFormatInvalid;
      return ASE_NotPresent;
    }
    case kAsioGetIoFormat:
      if (!opt) return ASE_InvalidParameter;
      static_cast<ASIOIoFormat*>(opt)->FormatType = state.ioFormat;
      return ASE_SUCCESS;
    case kAsioCanDoIoFormat: return ASE_SUCCESS;
    default: return ASE_InvalidParameter;
  }
}

}  // namespace tess::drv
