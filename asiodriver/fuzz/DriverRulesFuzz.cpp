// What a host and the system hand the driver's portable rules: device paths (any bytes,
// checked against a plain reading of the "VID_", "PID_" and "MI_" markers), device names
// for channel names, sample rates as doubles, and `future` selectors with their argument.
// Input: one byte choosing the rule, then its argument.
#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "DeviceTable.h"
#include "DriverRules.h"

using namespace tess;
using namespace tess::drv;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

// The slow reading: first occurrence of the marker (any case), then exactly `digits` hex digits.
bool referenceField(const std::string& upper, const char* marker, int digits, uint16_t& value) {
  size_t at = upper.find(marker);
  if (at == std::string::npos) return false;
  at += std::strlen(marker);
  if (at + digits > upper.size()) return false;
  unsigned v = 0;
  for (int i = 0; i < digits; ++i) {
    if (!std::isxdigit(static_cast<unsigned char>(upper[at + i]))) return false;
    v = v * 16 + static_cast<unsigned>(std::stoi(upper.substr(at + i, 1), nullptr, 16));
  }
  value = static_cast<uint16_t>(v);
  return true;
}

// The bytes after the selector as a NUL-terminated string in an allocation of exactly its size.
std::unique_ptr<char[]> terminated(const uint8_t* data, size_t size) {
  std::unique_ptr<char[]> s(new char[size + 1]);
  std::memcpy(s.get(), data, size);
  s[size] = 0;
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  ++data;
  --size;
  switch (mode % 4) {
    case 0: {  // a device path or hardware id from the system
      std::unique_ptr<char[]> path = terminated(data, size);
      const size_t maxLen = (mode & 0x80) ? 259 : size_t{mode} >> 2;
      UsbIdentity id = parseUsbIdentity(path.get(), maxLen);
      std::string upper(path.get(), strnlen(path.get(), maxLen));
      for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      uint16_t v = 0, p = 0, m = 0;
      check(id.hasVendor == referenceField(upper, "VID_", 4, v) && (!id.hasVendor || id.vendorId == v));
      check(id.hasProduct == referenceField(upper, "PID_", 4, p) && (!id.hasProduct || id.productId == p));
      check(id.hasInterface == referenceField(upper, "MI_", 2, m) && (!id.hasInterface || id.interfaceNumber == m));
      uint16_t vendor = 0, product = 0;
      if (matchDevicePath(path.get(), vendor, product)) {
        check(findSupportedDevice(vendor, product) != nullptr);
        UsbIdentity full = parseUsbIdentity(path.get());
        check(full.hasInterface && full.vendorId == vendor && full.productId == product);
      }
      if (id.hasVendor && id.hasProduct && id.hasInterface) {
        const SupportedDevice* d = findSupportedInterface(id.vendorId, id.productId, id.interfaceNumber);
        check(!d || (d->vendorId == id.vendorId && d->productId == id.productId));
      }
      break;
    }
    case 1: {  // a device name of any length becomes a channel name
      std::unique_ptr<char[]> name = terminated(data, size);
      char out[32];
      std::memset(out, 0x7F, sizeof out);
      const int32_t channel = (mode >> 2) & 1;
      channelName(out, (mode & 0x80) ? nullptr : name.get(), mode & 0x40, channel);
      const size_t length = strnlen(out, sizeof out);
      check(length < sizeof out);
      const std::string expected = std::string((mode & 0x80) ? "" : name.get()) + ((mode & 0x40) ? "_I_" : "_O_") +
                                   (channel == 0 ? "L" : "R");
      check(expected.compare(0, length, out, length) == 0 && (length == 31 || length == expected.size()));
      break;
    }
    case 2: {  // a host's sample rate
      double rate = 0;
      std::memcpy(&rate, data, size < sizeof rate ? size : sizeof rate);
      const uint32_t hz = rateFromAsio(rate);
      check(hz == 0 || (static_cast<double>(hz) == rate && hz >= 1));
      if (std::isfinite(rate) && rate >= 1 && rate <= 4294967295.0 && std::floor(rate) == rate) check(hz == rate);
      break;
    }
    default: {  // a `future` call: selector, then an I/O format argument or none
      int32_t selector = 0;
      std::memcpy(&selector, data, size < 4 ? size : 4);
      static const int32_t kKnown[] = {kAsioSetIoFormat, kAsioGetIoFormat, kAsioCanDoIoFormat};
      if (mode & 0x10) selector = kKnown[(mode >> 5) % 3];
      FeatureFlags features = kOfferedFeatures;
      features.canTimeCode = mode & 0x04;
      features.canInputMonitor = mode & 0x08;
      FutureState state;
      state.ioFormat = (mode & 0x80) ? kASIODSDFormat : kASIOPCMFormat;
      std::unique_ptr<ASIOIoFormat> io;
      if (size > 4) {
        io.reset(new ASIOIoFormat{});
        std::memcpy(io.get(), data + 4, size - 4 < sizeof *io ? size - 4 : sizeof *io);
      }
      const int32_t asked = io ? io->FormatType : 0;
      const int32_t before = state.ioFormat;
      const ASIOError e = futureSelector(selector, io.get(), features, state);
      check(e == ASE_SUCCESS || e == ASE_NotPresent || e == ASE_InvalidParameter);
      check(state.ioFormat == kASIOPCMFormat || state.ioFormat == kASIODSDFormat);
      if (selector == kAsioSetIoFormat && io) {
        const bool known = asked == kASIOPCMFormat || asked == kASIODSDFormat;
        check(e == (known ? ASE_SUCCESS : ASE_NotPresent));
        check(known ? state.ioFormat == asked : (io->FormatType == kASIOFormatInvalid && state.ioFormat == before));
      }
      if (selector == kAsioGetIoFormat && io) check(e == ASE_SUCCESS && io->FormatType == before);
      if (!io && (selector == kAsioSetIoFormat || selector == kAsioGetIoFormat)) check(e == ASE_InvalidParameter);
      break;
    }
  }
  return 0;
}
