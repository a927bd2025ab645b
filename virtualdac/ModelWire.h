// The device model speaks the platform's kernel-streaming wire layouts, identifiers and
// control values as ksaudio defines them (one definition, checked against the platform's
// headers in the Win32 build); this header adds what is the model's own.
#pragma once

#include <cstdint>

#include "KsWire.h"

namespace tess::vdac {

using namespace tess::ks;

// Win32 error codes and NT status values that replies carry (the device model has no
// Windows header, so it names the ones it uses).
enum Win32Error : uint32_t {
  kErrSuccess = 0,
  kErrFileNotFound = 2,
  kErrInvalidHandle = 6,
  kErrNotReady = 21,
  kErrBadCommand = 22,
  kErrNotSupported = 50,
  kErrInvalidParameter = 87,
  kErrInsufficientBuffer = 122,
  kErrBusy = 170,
  kErrMoreData = 234,
  kErrNoMoreItems = 259,
  kErrIoPending = 997,
  kErrNotFound = 1168,
  kErrNoMatch = 1169,
  kErrSetNotFound = 1170,
  kErrDeviceRemoved = 1617,
};

}  // namespace tess::vdac
