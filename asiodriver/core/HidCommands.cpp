// Vendor commands to the device's HID interface: a short-lived connection per command,
// found by vendor and product id among the present HID interfaces.
#include <windows.h>
#include <setupapi.h>
#include <hidsdi.h>
#include <hidpi.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "CAsioSample.h"
#include "DeviceSeam.h"
#include "Module.h"

namespace tess {
namespace {

constexpr NTSTATUS kHidpStatusSuccess = 0x00110000;
constexpr DWORD kMaxHidInterfaces = 256;

struct HidConnection {
  HANDLE sync = INVALID_HANDLE_VALUE;
  HANDLE overlapped = INVALID_HANDLE_VALUE;
  USHORT inputLength = 0;
  USHORT outputLength = 0;

  void close(const DeviceSeam& d) {
    if (sync != INVALID_HANDLE_VALUE) d.closeHandle(sync);
    if (overlapped != INVALID_HANDLE_VALUE) d.closeHandle(overlapped);
    sync = overlapped = INVALID_HANDLE_VALUE;
  }
};

HANDLE openPath(const DeviceSeam& d, const char* path, DWORD flags) {
  return d.createFile(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                      flags, nullptr);
}

// The HID interface with the given ids: both handles and the report lengths.
bool openHidDevice(const DeviceSeam& d, uint16_t vendorId, uint16_t productId, HidConnection& c) {
  GUID hidGuid;
  d.hidGetHidGuid(&hidGuid);
  HDEVINFO set = d.getClassDevs(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE || !set) return false;
  bool found = false;
  PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail = nullptr;
  for (DWORD index = 0; index < kMaxHidInterfaces && !found; ++index) {
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof iface;
    if (!d.enumDeviceInterfaces(set, nullptr, &hidGuid, index, &iface)) break;  // no more items
    DWORD required = 0;
    if (d.getDeviceInterfaceDetail(set, &iface, nullptr, 0, &required, nullptr) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
      break;
    std::free(detail);
    detail = static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(std::calloc(1, required + 1));
    if (!detail) break;
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!d.getDeviceInterfaceDetail(set, &iface, detail, required, nullptr, nullptr)) continue;

    c.close(d);
    c.sync = openPath(d, detail->DevicePath, 0);
    if (c.sync == INVALID_HANDLE_VALUE) continue;
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    if (!d.hidGetAttributes(c.sync, &attributes) || attributes.VendorID != vendorId || attributes.ProductID != productId)
      continue;
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!d.hidGetPreparsedData(c.sync, &preparsed)) continue;
    HIDP_CAPS caps{};
    NTSTATUS status = d.hidGetCaps(preparsed, &caps);
    d.hidFreePreparsedData(preparsed);
    // A collection without output reports cannot take a command: look further.
    if (status != kHidpStatusSuccess || caps.OutputReportByteLength == 0) continue;
    c.inputLength = caps.InputReportByteLength;
    c.outputLength = caps.OutputReportByteLength;
    c.overlapped = openPath(d, detail->DevicePath, FILE_FLAG_OVERLAPPED);
    found = c.overlapped != INVALID_HANDLE_VALUE;
  }
  d.destroyDeviceInfoList(set);
  std::free(detail);
  if (!found) {
    c.inputLength = c.outputLength = 0;
    c.close(d);
  }
  return found;
}

// How long a report may take before it is given up: the device normally takes it within
// a few milliseconds, and the host's thread is waiting.
constexpr DWORD kReportTimeLimitMs = 500;

// One report and its request, on the module heap: a request that outlives its time limit
// and its cancellation keeps them, so they are never freed under the device.
struct PendingReport {
  OVERLAPPED overlapped;
  uint8_t data[1];
};

// Writes the report on the overlapped handle, waiting at most the time limit; a report
// the device does not take is cancelled (and its handle closed, which cancels it too).
void writeReport(const DeviceSeam& d, HidConnection& c, fmt::HidCommand command, bool on) {
  // At least 64 bytes prepared; the device's report length decides what is written.
  const size_t length = c.outputLength > fmt::kHidReportBytes ? c.outputLength : fmt::kHidReportBytes;
  auto* pending = static_cast<PendingReport*>(moduleAlloc(offsetof(PendingReport, data) + length));
  if (!pending) return;
  pending->overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!pending->overlapped.hEvent || !fmt::buildHidReport(command, on, pending->data, length)) {
    if (pending->overlapped.hEvent) CloseHandle(pending->overlapped.hEvent);
    moduleFree(pending);
    return;
  }
  DWORD written = 0;
  bool settled = true;
  if (!d.writeFile(c.overlapped, pending->data, c.outputLength, &written, &pending->overlapped) &&
      GetLastError() == ERROR_IO_PENDING &&
      WaitForSingleObject(pending->overlapped.hEvent, kReportTimeLimitMs) != WAIT_OBJECT_0) {
    // Not taken: the command is dropped. Cancel it and wait for the cancellation.
    CancelIoEx(c.overlapped, &pending->overlapped);
    c.close(d);
    settled = WaitForSingleObject(pending->overlapped.hEvent, kReportTimeLimitMs) == WAIT_OBJECT_0;
  }
  if (!settled) return;  // a device that holds the request keeps its buffer: leaked, never freed under it
  CloseHandle(pending->overlapped.hEvent);
  moduleFree(pending);
}

}  // namespace

void CAsioSample::sendHidCommand(fmt::HidCommand command, bool on) {
  const DeviceSeam& d = devices();
  HidConnection c;
  if (openHidDevice(d, m_device.vendorId, m_device.productId, c) && c.overlapped != INVALID_HANDLE_VALUE && c.outputLength != 0)
    writeReport(d, c, command, on);
  c.close(d);
}

}  // namespace tess
