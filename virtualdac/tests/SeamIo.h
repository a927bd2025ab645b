// Raw kernel-streaming and SetupAPI calls through the device seam, for the virtual DAC's
// tests (deliberately independent of the kernel-streaming library).
#pragma once

#include <windows.h>
#include <winioctl.h>
#include <mmreg.h>
#include <ks.h>
#include <ksmedia.h>

#include <cstdint>
#include <string>
#include <vector>

#include "DeviceSeam.h"

namespace seamio {

// A SetupAPI record with its size member set.
template <typename T>
T sized() {
  T t{};
  t.cbSize = sizeof t;
  return t;
}

struct IoResult {
  BOOL ok = FALSE;
  DWORD error = 0;   // GetLastError of DeviceIoControl, or of the overlapped result
  DWORD bytes = 0;   // bytes returned (size needed for ERROR_MORE_DATA)
  bool pended = false;
};

// One request, waited for: event handle with its lowest bit set; a pended request is
// waited on and its overlapped result fetched.
IoResult ioctl(HANDLE h, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize);

IoResult pinProperty(HANDLE filter, ULONG pinId, ULONG id, void* out, DWORD outSize);
// Size query, then the fetch; empty on failure.
std::vector<uint8_t> pinPropertyMulti(HANDLE filter, ULONG pinId, ULONG id);
IoResult setState(HANDLE pin, KSSTATE state);
IoResult getState(HANDLE pin, KSSTATE& state);
IoResult reset(HANDLE pin, KSRESET which);
// STOP to `state` one step at a time; false at the first failure.
bool stepTo(HANDLE pin, KSSTATE from, KSSTATE to);

struct InterfaceInfo {
  std::string path;
  DWORD renderAliasFlags = 0;
  bool renderAlias = false;
  std::string friendlyName;
};
// Every interface under KSCATEGORY_AUDIO with its render alias and friendly name.
std::vector<InterfaceInfo> audioInterfaces();
// The first audio interface whose path carries the DAC's ids.
std::string dacFilterPath();
HANDLE openFilter(const std::string& path);

// KSPIN_CONNECT + KSDATAFORMAT + WAVEFORMATEXTENSIBLE, laid out as the platform defines
// them for this process.
std::vector<uint8_t> connectRecord(ULONG pinId, WORD channels, WORD bits, DWORD rate);
DWORD createPin(HANDLE filter, ULONG pinId, WORD channels, WORD bits, DWORD rate, HANDLE& pin);

// A stream packet: header, overlapped record with its own event, data.
struct Packet {
  KSSTREAM_HEADER header{};
  OVERLAPPED ov{};
  std::vector<uint8_t> data;
  explicit Packet(size_t bytes, bool write);
  ~Packet();
  Packet(const Packet&) = delete;
  Packet& operator=(const Packet&) = delete;
  // Submits: true when queued (ERROR_IO_PENDING).
  bool submit(HANDLE pin, bool write, DWORD* error = nullptr);
  // Waits up to timeoutMs; true when completed (result in error/bytes).
  bool wait(HANDLE pin, DWORD timeoutMs, DWORD& error, DWORD& bytes);
};

}  // namespace seamio
