#include "KsEnumFilters.h"

#include <setupapi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "DeviceSeam.h"
#include "KsDevicePath.h"

using namespace tess;

namespace {

// The detail buffer: the platform's fixed part and room for a 520-character path.
constexpr DWORD kDetailBytes = 525;
// Longer string values than this are taken for garbage rather than read.
constexpr DWORD kMaxStringValueBytes = 64 * 1024;

// Copies a string value (REG_SZ or REG_EXPAND_SZ) of `bytes` bytes into a 260-character
// buffer, cut at its first NUL or at 259 characters.
bool CopyStringValue(DWORD type, const BYTE* data, DWORD bytes, char* out) {
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  DWORD length = 0;
  while (length < bytes && length < MAX_PATH - 1 && data[length] != '\0') ++length;
  memcpy(out, data, length);
  out[length] = '\0';
  return true;
}

// Reads a string through `read(buffer, size, &type, &bytes)`, which reports the bytes
// stored or, when the buffer is short, the bytes needed. Long values are cut, not lost.
template <typename Read>
bool ReadStringValue(Read read, char* out) {
  BYTE buffer[MAX_PATH];
  DWORD type = 0, bytes = 0;
  if (read(buffer, sizeof buffer, &type, &bytes)) return CopyStringValue(type, buffer, std::min<DWORD>(bytes, sizeof buffer), out);
  DWORD error = GetLastError();
  if ((error != ERROR_MORE_DATA && error != ERROR_INSUFFICIENT_BUFFER) || bytes <= sizeof buffer ||
      bytes > kMaxStringValueBytes)
    return false;
  BYTE* large = static_cast<BYTE*>(malloc(bytes));
  if (!large) return false;
  DWORD size = bytes;
  bool ok = read(large, size, &type, &bytes) && CopyStringValue(type, large, std::min(bytes, size), out);
  free(large);
  return ok;
}

// The interface's "FriendlyName", else the device's friendly name, else its
// description; empty when the interface's key does not open.
void ReadFriendlyName(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA iface, PSP_DEVINFO_DATA devInfo, char* name) {
  name[0] = '\0';
  const DeviceSeam& dev = devices();
  // Read access is all a name needs (full access fails for a host without rights).
  HKEY key = dev.openDeviceInterfaceRegKey(set, iface, 0, KEY_READ);
  if (!key || key == INVALID_HANDLE_VALUE) return;
  auto fromValue = [key](BYTE* buffer, DWORD size, DWORD* type, DWORD* bytes) {
    *bytes = size;
    LONG status = RegQueryValueExA(key, "FriendlyName", nullptr, type, buffer, bytes);
    SetLastError(static_cast<DWORD>(status));
    return status == ERROR_SUCCESS;
  };
  auto fromProperty = [&](DWORD property) {
    return [&, property](BYTE* buffer, DWORD size, DWORD* type, DWORD* bytes) {
      *bytes = 0;
      return dev.getDeviceRegistryProperty(set, devInfo, property, type, buffer, size, bytes) != FALSE;
    };
  };
  if (!ReadStringValue(fromValue, name) && !ReadStringValue(fromProperty(SPDRP_FRIENDLYNAME), name) &&
      !ReadStringValue(fromProperty(SPDRP_DEVICEDESC), name))
    name[0] = '\0';
  RegCloseKey(key);
}

// Every further category must have an alias of the interface that is enabled.
bool HasEnabledAliases(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA iface, const GUID* categories, ULONG count) {
  for (ULONG i = 0; i < count; ++i) {
    SP_DEVICE_INTERFACE_DATA alias = {};
    alias.cbSize = sizeof alias;
    if (!devices().getDeviceInterfaceAlias(set, iface, &categories[i], &alias)) {
      Trace(kTraceNotice, "Failed to get requested DeviceInterfaceAlias");
      return false;
    }
    if (alias.Flags == 0 || (alias.Flags & SPINT_REMOVED)) {
      Trace(kTraceNotice, "DeviceInterfaceAlias disabled.");
      return false;
    }
  }
  return true;
}

}  // namespace

CKsEnumFilters::CKsEnumFilters() {
  TraceEnter("CKsEnumFilters::CKsEnumFilters()");
  TraceLeave("CKsEnumFilters::CKsEnumFilters()");
}

CKsEnumFilters::~CKsEnumFilters() {
  TraceEnter("CKsEnumFilters::~CKsEnumFilters()");
  DestroyLists();
  TraceLeave("CKsEnumFilters::~CKsEnumFilters()");
}

HRESULT CKsEnumFilters::DestroyLists() {
  TraceEnter("CKsEnumFilters::DestroyLists()");
  m_listFilters.DeleteAll();
  TraceLeaveResult("CKsEnumFilters::DestroyLists", S_OK);
  return S_OK;
}

HRESULT CKsEnumFilters::EnumFilters(const GUID* categories, ULONG count) {
  TraceEnter("CKsEnumFilters::EnumFilters()");
  DestroyLists();
  HRESULT hr = S_OK;
  if (categories && count > 0 && !IsEqualGUID(categories[0], GUID_NULL)) {
    const DeviceSeam& dev = devices();
    HDEVINFO set = dev.getClassDevs(&categories[0], nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (!CKsIrpTarget::IsValidHandle(set)) {
      Trace(kTraceEnumeration, "No devices found");
      hr = E_FAIL;
    } else {
      for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA iface = {};
        iface.cbSize = sizeof iface;
        if (!dev.enumDeviceInterfaces(set, nullptr, &categories[0], index, &iface)) break;
        auto* detail = static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(calloc(kDetailBytes, 1));
        if (!detail) {
          Trace(kTraceEnumeration, "Failed to allocate SP_DEVICE_INTERFACE_DETAIL_DATA structure");
          hr = E_OUTOFMEMORY;
          break;
        }
        // The platform's fixed part for this process (5 bytes in 32-bit, 8 in 64-bit).
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        SP_DEVINFO_DATA devInfo = {};
        devInfo.cbSize = sizeof devInfo;
        if (dev.getDeviceInterfaceDetail(set, &iface, detail, kDetailBytes, nullptr, &devInfo) &&
            HasEnabledAliases(set, &iface, categories + 1, count - 1)) {
          reinterpret_cast<char*>(detail)[kDetailBytes - 1] = '\0';
          char friendlyName[MAX_PATH];
          ReadFriendlyName(set, &iface, &devInfo, friendlyName);
          HRESULT filterResult = S_OK;
          CKsAudRenFilter* filter = new (std::nothrow) CKsAudRenFilter(detail->DevicePath, friendlyName, &filterResult);
          bool kept = filter && SUCCEEDED(filterResult) && SUCCEEDED(filter->Instantiate()) &&
                      SUCCEEDED(filter->EnumeratePins()) && m_listFilters.AddTail(filter);
          if (!kept) {
            delete filter;
            Trace(kTraceFailure, "Failed to create filter for %s", detail->DevicePath);
          }
        }
        free(detail);
      }
    }
    if (CKsIrpTarget::IsValidHandle(set)) dev.destroyDeviceInfoList(set);
  }
  if (SUCCEEDED(hr) && m_listFilters.IsEmpty()) hr = E_FAIL;
  TraceLeaveResult("CKsEnumFilters::EnumFilters", hr);
  return hr;
}

HRESULT CKsEnumFilters::FindCaptureFilter(LPCSTR renderPath, LPSTR capturePath, DWORD size) {
  TraceEnter("CKsEnumFilters::FindCaptureFilter()");
  HRESULT hr = E_FAIL;
  if (renderPath && capturePath && size > 0 && ks::deviceInstanceLength(renderPath) != 0) {
    capturePath[0] = '\0';
    const DeviceSeam& dev = devices();
    const GUID capture = ToGuid(ks::kCategoryCapture);
    const GUID audio = ToGuid(ks::kCategoryAudio);
    HDEVINFO set = dev.getClassDevs(&capture, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (CKsIrpTarget::IsValidHandle(set)) {
      auto* detail = static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(calloc(kDetailBytes, 1));
      for (DWORD index = 0; detail && FAILED(hr); ++index) {
        SP_DEVICE_INTERFACE_DATA iface = {};
        iface.cbSize = sizeof iface;
        if (!dev.enumDeviceInterfaces(set, nullptr, &capture, index, &iface)) break;
        memset(detail, 0, kDetailBytes);
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!dev.getDeviceInterfaceDetail(set, &iface, detail, kDetailBytes, nullptr, nullptr)) continue;
        reinterpret_cast<char*>(detail)[kDetailBytes - 1] = '\0';
        if (!ks::sameDeviceInstance(detail->DevicePath, renderPath) || !HasEnabledAliases(set, &iface, &audio, 1)) continue;
        const size_t length = strlen(detail->DevicePath);
        if (length >= size) continue;
        memcpy(capturePath, detail->DevicePath, length + 1);
        hr = S_OK;
      }
      if (!detail) hr = E_OUTOFMEMORY;
      free(detail);
      dev.destroyDeviceInfoList(set);
    }
  }
  TraceLeaveResult("CKsEnumFilters::FindCaptureFilter", hr);
  return hr;
}
