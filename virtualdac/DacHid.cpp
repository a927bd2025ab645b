// The HID face: attributes, capabilities, output reports recorded in order.
#include <algorithm>

#include "DacInternal.h"

namespace tess::vdac::detail {

namespace {

PreparsedData* findPreparsed(Dac& dac, PHIDP_PREPARSED_DATA data) {
  for (auto& p : dac.preparsed) {
    if (reinterpret_cast<PHIDP_PREPARSED_DATA>(p.get()) == data) return p.get();
  }
  return nullptr;
}

}  // namespace

BOOL WINAPI writeFile(HANDLE h, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED ov) {
  for (;;) {
    DacGuard guard;
    Dac* dac = guard.dac();
    HandleObject* object = dac ? dac->find(h, ObjectKind::Hid) : nullptr;
    if (object) {
      const HidFunction& hid = dac->hids[object->hid];
      if (written) *written = 0;
      if (object->dead || dac->familyRemoved(hid.device)) return failWith(ERROR_DEVICE_NOT_CONNECTED);
      // The HID class driver takes exactly one whole output report per write.
      if (!data || hid.outputLength == 0 || size != hid.outputLength) return failWith(ERROR_INVALID_PARAMETER);
      if (hid.isDac && dac->config.hidRefusesReports) {
        if (ov) {
          ov->Internal = kStatusPending;
          ov->InternalHigh = 0;
          if (ov->hEvent) ResetEvent(reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(ov->hEvent) & ~ULONG_PTR{1}));
          dac->heldReports.push_back(DeferredCompletion{ov, h, kStatusCancelled, 0, 0});
          return failWith(ERROR_IO_PENDING);
        }
        // A plain write waits for the device like the caller's thread would.
        guard.unlock();
        Sleep(10);
        continue;
      }
      if (hid.isDac) {
        const auto* bytes = static_cast<const uint8_t*>(data);
        dac->hidReports.emplace_back(bytes, bytes + size);
      }
      if (written) *written = size;
      if (ov) completeOverlapped(ov, h, kStatusSuccess, size);
      return TRUE;
    }
    if (dac && dac->handles.count(h)) return failWith(ERROR_INVALID_FUNCTION);
    break;
  }
  return WriteFile(h, data, size, written, ov);
}

void WINAPI hidGetHidGuid(LPGUID guid) {
  if (guid) *guid = toWinGuid(kHidInterfaceClass);
}

BOOLEAN WINAPI hidGetAttributes(HANDLE h, PHIDD_ATTRIBUTES attributes) {
  DacGuard guard;
  Dac* dac = guard.dac();
  HandleObject* object = dac ? dac->find(h, ObjectKind::Hid) : nullptr;
  if (!object) return failWith(ERROR_INVALID_HANDLE);
  if (!attributes) return failWith(ERROR_INVALID_PARAMETER);
  const HidFunction& hid = dac->hids[object->hid];
  if (object->dead || dac->familyRemoved(hid.device)) return failWith(ERROR_DEVICE_NOT_CONNECTED);
  *attributes = hid.attributes;
  return TRUE;
}

BOOLEAN WINAPI hidGetPreparsedData(HANDLE h, PHIDP_PREPARSED_DATA* data) {
  DacGuard guard;
  Dac* dac = guard.dac();
  HandleObject* object = dac ? dac->find(h, ObjectKind::Hid) : nullptr;
  if (!object) return failWith(ERROR_INVALID_HANDLE);
  if (!data) return failWith(ERROR_INVALID_PARAMETER);
  if (object->dead || dac->familyRemoved(dac->hids[object->hid].device)) return failWith(ERROR_DEVICE_NOT_CONNECTED);
  auto p = std::make_unique<PreparsedData>();
  p->hid = object->hid;
  *data = reinterpret_cast<PHIDP_PREPARSED_DATA>(p.get());
  dac->preparsed.push_back(std::move(p));
  return TRUE;
}

BOOLEAN WINAPI hidFreePreparsedData(PHIDP_PREPARSED_DATA data) {
  DacGuard guard;
  Dac* dac = guard.dac();
  PreparsedData* p = dac ? findPreparsed(*dac, data) : nullptr;
  if (!p) return failWith(ERROR_INVALID_PARAMETER);
  dac->preparsed.erase(std::remove_if(dac->preparsed.begin(), dac->preparsed.end(),
                                      [p](const std::unique_ptr<PreparsedData>& x) { return x.get() == p; }),
                       dac->preparsed.end());
  return TRUE;
}

NTSTATUS WINAPI hidGetCaps(PHIDP_PREPARSED_DATA data, PHIDP_CAPS caps) {
  DacGuard guard;
  Dac* dac = guard.dac();
  PreparsedData* p = dac ? findPreparsed(*dac, data) : nullptr;
  if (!p || !caps) return HIDP_STATUS_INVALID_PREPARSED_DATA;
  const HidFunction& hid = dac->hids[p->hid];
  *caps = HIDP_CAPS{};
  caps->UsagePage = hid.isDac ? 0xFF00 : 0x0001;  // vendor-defined; generic desktop for the keyboard
  caps->Usage = hid.isDac ? 0x0001 : 0x0006;
  caps->InputReportByteLength = hid.inputLength;
  caps->OutputReportByteLength = hid.outputLength;
  caps->NumberLinkCollectionNodes = 1;
  caps->NumberInputValueCaps = hid.inputLength ? 1 : 0;
  caps->NumberOutputValueCaps = hid.outputLength ? 1 : 0;
  return HIDP_STATUS_SUCCESS;
}

}  // namespace tess::vdac::detail
