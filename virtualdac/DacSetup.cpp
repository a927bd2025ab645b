// The SetupAPI face: device and device-interface enumeration, aliases, interface details,
// interface registry keys (real keys under HKEY_CURRENT_USER) and device properties.
#include <algorithm>
#include <cstddef>

#include "DacInternal.h"

namespace tess::vdac::detail {

namespace {

bool sameText(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

bool enumeratorMatches(const DeviceNode& node, PCSTR enumerator) {
  if (!enumerator || !*enumerator) return true;
  return sameText(node.instanceId.substr(0, node.instanceId.find('\\')), enumerator);
}

DWORD aliasFlags(AliasState state) {
  switch (state) {
    case AliasState::Enabled: return SPINT_ACTIVE;
    case AliasState::Removed: return SPINT_REMOVED;
    default: return 0;
  }
}

void fillInterfaceData(const Dac& dac, int entry, PSP_DEVICE_INTERFACE_DATA out) {
  const InterfaceEntry& e = dac.interfaces[entry];
  out->InterfaceClassGuid = toWinGuid(e.category);
  out->Flags = aliasFlags(e.state);
  out->Reserved = static_cast<ULONG_PTR>(entry) + 1;
}

void fillDevInfo(const Dac& dac, int device, PSP_DEVINFO_DATA out) {
  out->ClassGuid = toWinGuid(dac.devices[device].setupClass);
  out->DevInst = static_cast<DWORD>(device) + 1;
  out->Reserved = static_cast<ULONG_PTR>(device) + 1;
}

// The interface entry an SP_DEVICE_INTERFACE_DATA of this set refers to, or -1.
int entryOf(const Dac& dac, PSP_DEVICE_INTERFACE_DATA data) {
  if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return -1;
  if (data->Reserved == 0 || data->Reserved > dac.interfaces.size()) return -1;
  return static_cast<int>(data->Reserved - 1);
}

int deviceOf(const Dac& dac, PSP_DEVINFO_DATA data) {
  if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA)) return -1;
  if (data->Reserved == 0 || data->Reserved > dac.devices.size()) return -1;
  return static_cast<int>(data->Reserved - 1);
}

// Devices of a set, in order and once each.
std::vector<int> devicesOf(const Dac& dac, const HandleObject& set) {
  if (!set.interfaceSet) return set.members;
  std::vector<int> out;
  for (int entry : set.members) {
    int device = dac.interfaces[entry].device;
    if (std::find(out.begin(), out.end(), device) == out.end()) out.push_back(device);
  }
  return out;
}

BOOL copyProperty(DWORD type, const std::vector<char>& value, PDWORD regType, PBYTE buffer, DWORD size,
                  PDWORD required) {
  if (required) *required = static_cast<DWORD>(value.size());
  if (regType) *regType = type;
  if (!buffer || size < value.size()) return failWith(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(buffer, value.data(), value.size());
  return TRUE;
}

std::vector<char> textValue(const std::string& s) { return std::vector<char>(s.c_str(), s.c_str() + s.size() + 1); }

std::vector<char> multiTextValue(const std::vector<std::string>& list) {
  std::vector<char> v;
  for (const std::string& s : list) v.insert(v.end(), s.c_str(), s.c_str() + s.size() + 1);
  v.push_back('\0');
  return v;
}

}  // namespace

BOOL failWith(DWORD error) {
  SetLastError(error);
  return FALSE;
}

HDEVINFO WINAPI getClassDevs(const GUID* classGuid, PCSTR enumerator, HWND, DWORD flags) {
  DacGuard guard;
  Dac* dac = guard.dac();
  if (!dac) {
    SetLastError(ERROR_NOT_READY);
    return INVALID_HANDLE_VALUE;
  }
  const bool all = (flags & DIGCF_ALLCLASSES) != 0;
  if (!classGuid && !all) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  HandleObject set(ObjectKind::DevInfoSet);
  set.interfaceSet = (flags & DIGCF_DEVICEINTERFACE) != 0;
  if (set.interfaceSet) {
    for (size_t i = 0; i < dac->interfaces.size(); ++i) {
      const InterfaceEntry& e = dac->interfaces[i];
      const DeviceNode& node = dac->devices[e.device];
      if (node.removed || !enumeratorMatches(node, enumerator)) continue;
      if (!all && e.category != toGuid(*classGuid)) continue;
      set.members.push_back(static_cast<int>(i));
    }
  } else {
    for (size_t i = 0; i < dac->devices.size(); ++i) {
      const DeviceNode& node = dac->devices[i];
      if (node.removed || !enumeratorMatches(node, enumerator)) continue;
      if (!all && node.setupClass != toGuid(*classGuid)) continue;
      set.members.push_back(static_cast<int>(i));
    }
  }
  HANDLE h = dac->newHandle(std::move(set));
  return h ? static_cast<HDEVINFO>(h) : INVALID_HANDLE_VALUE;
}

BOOL WINAPI enumDeviceInterfaces(HDEVINFO setHandle, PSP_DEVINFO_DATA devInfo, const GUID* interfaceGuid, DWORD index,
                                 PSP_DEVICE_INTERFACE_DATA out) {
  DacGuard guard;
  Dac* dac = guard.dac();
  HandleObject* set = dac ? dac->find(setHandle, ObjectKind::DevInfoSet) : nullptr;
  if (!set) return failWith(ERROR_INVALID_HANDLE);
  if (!interfaceGuid) return failWith(ERROR_INVALID_PARAMETER);
  if (!out || out->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return failWith(ERROR_INVALID_USER_BUFFER);
  int onlyDevice = -1;
  if (devInfo) {
    onlyDevice = deviceOf(*dac, devInfo);
    if (onlyDevice < 0) return failWith(ERROR_INVALID_PARAMETER);
  }
  std::vector<int> candidates;
  if (set->interfaceSet) {
    candidates = set->members;
  } else {
    for (size_t i = 0; i < dac->interfaces.size(); ++i) {
      if (std::find(set->members.begin(), set->members.end(), dac->interfaces[i].device) != set->members.end()) {
        candidates.push_back(static_cast<int>(i));
      }
    }
  }
  DWORD seen = 0;
  for (int entry : candidates) {
    const InterfaceEntry& e = dac->interfaces[entry];
    if (e.category != toGuid(*interfaceGuid) || (onlyDevice >= 0 && e.device != onlyDevice)) continue;
    if (seen++ == index) {
      fillInterfaceData(*dac, entry, out);
      return TRUE;
    }
  }
  return failWith(ERROR_NO_MORE_ITEMS);
}

BOOL WINAPI getDeviceInterfaceAlias(HDEVINFO setHandle, PSP_DEVICE_INTERFACE_DATA iface, const GUID* aliasGuid,
                                    PSP_DEVICE_INTERFACE_DATA alias) {
  DacGuard guard;
  Dac* dac = guard.dac();
  if (!dac || !dac->find(setHandle, ObjectKind::DevInfoSet)) return failWith(ERROR_INVALID_HANDLE);
  const int entry = entryOf(*dac, iface);
  if (entry < 0 || !aliasGuid) return failWith(ERROR_INVALID_PARAMETER);
  if (!alias || alias->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return failWith(ERROR_INVALID_USER_BUFFER);
  const int family = dac->interfaces[entry].family;
  for (size_t i = 0; i < dac->interfaces.size(); ++i) {
    const InterfaceEntry& e = dac->interfaces[i];
    if (e.family == family && e.category == toGuid(*aliasGuid)) {
      fillInterfaceData(*dac, static_cast<int>(i), alias);
      return TRUE;
    }
  }
  return failWith(ERROR_NO_SUCH_DEVICE_INTERFACE);
}

BOOL WINAPI getDeviceInterfaceDetail(HDEVINFO setHandle, PSP_DEVICE_INTERFACE_DATA iface,
                                     PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size, PDWORD required,
                                     PSP_DEVINFO_DATA devInfo) {
  DacGuard guard;
  Dac* dac = guard.dac();
  if (!dac || !dac->find(setHandle, ObjectKind::DevInfoSet)) return failWith(ERROR_INVALID_HANDLE);
  const int entry = entryOf(*dac, iface);
  if (entry < 0) return failWith(ERROR_INVALID_PARAMETER);
  const InterfaceEntry& e = dac->interfaces[entry];
  const DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + e.path.size() + 1);
  if (required) *required = needed;
  if (devInfo) {
    if (devInfo->cbSize != sizeof(SP_DEVINFO_DATA)) return failWith(ERROR_INVALID_USER_BUFFER);
    fillDevInfo(*dac, e.device, devInfo);
  }
  if (!detail) return failWith(size ? ERROR_INVALID_USER_BUFFER : ERROR_INSUFFICIENT_BUFFER);
  if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return failWith(ERROR_INVALID_USER_BUFFER);
  if (size < needed) return failWith(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(detail->DevicePath, e.path.c_str(), e.path.size() + 1);
  return TRUE;
}

HKEY WINAPI openDeviceInterfaceRegKey(HDEVINFO setHandle, PSP_DEVICE_INTERFACE_DATA iface, DWORD, REGSAM access) {
  DacGuard guard;
  Dac* dac = guard.dac();
  if (!dac || !dac->find(setHandle, ObjectKind::DevInfoSet)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return static_cast<HKEY>(INVALID_HANDLE_VALUE);
  }
  const int entry = entryOf(*dac, iface);
  if (entry < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return static_cast<HKEY>(INVALID_HANDLE_VALUE);
  }
  const InterfaceEntry& e = dac->interfaces[entry];
  // The parent stays non-volatile (other keys may live beside it); the process's own
  // subtree is volatile so that a process that dies leaves nothing behind past the session.
  HKEY parent = nullptr;
  LONG rc = RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Tessaline\\VirtualDac", 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_CREATE_SUB_KEY, nullptr, &parent, nullptr);
  if (rc == ERROR_SUCCESS) RegCloseKey(parent);
  HKEY key = nullptr;
  std::string path = dac->registryRoot + "\\Interface" + std::to_string(e.family);
  if (rc == ERROR_SUCCESS) {
    rc = RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_VOLATILE, access | KEY_SET_VALUE,
                         nullptr, &key, nullptr);
  }
  if (rc != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(rc));
    return static_cast<HKEY>(INVALID_HANDLE_VALUE);
  }
  const std::string& name = e.filter >= 0 ? dac->filters[e.filter].interfaceFriendlyName : std::string();
  if (!name.empty()) {
    rc = RegSetValueExA(key, "FriendlyName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                        static_cast<DWORD>(name.size() + 1));
  } else {
    rc = RegDeleteValueA(key, "FriendlyName");
    if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;
  }
  if (rc != ERROR_SUCCESS) {
    RegCloseKey(key);
    SetLastError(static_cast<DWORD>(rc));
    return static_cast<HKEY>(INVALID_HANDLE_VALUE);
  }
  return key;
}

BOOL WINAPI enumDeviceInfo(HDEVINFO setHandle, DWORD index, PSP_DEVINFO_DATA devInfo) {
  DacGuard guard;
  Dac* dac = guard.dac();
  HandleObject* set = dac ? dac->find(setHandle, ObjectKind::DevInfoSet) : nullptr;
  if (!set) return failWith(ERROR_INVALID_HANDLE);
  if (!devInfo || devInfo->cbSize != sizeof(SP_DEVINFO_DATA)) return failWith(ERROR_INVALID_USER_BUFFER);
  std::vector<int> list = devicesOf(*dac, *set);
  if (index >= list.size()) return failWith(ERROR_NO_MORE_ITEMS);
  fillDevInfo(*dac, list[index], devInfo);
  return TRUE;
}

BOOL WINAPI getDeviceRegistryProperty(HDEVINFO setHandle, PSP_DEVINFO_DATA devInfo, DWORD property, PDWORD regType,
                                      PBYTE buffer, DWORD size, PDWORD required) {
  DacGuard guard;
  Dac* dac = guard.dac();
  if (!dac || !dac->find(setHandle, ObjectKind::DevInfoSet)) return failWith(ERROR_INVALID_HANDLE);
  const int device = deviceOf(*dac, devInfo);
  if (device < 0) return failWith(ERROR_INVALID_PARAMETER);
  const DeviceNode& node = dac->devices[device];
  switch (property) {
    case SPDRP_DEVICEDESC: return copyProperty(REG_SZ, textValue(node.description), regType, buffer, size, required);
    case SPDRP_HARDWAREID:
      return copyProperty(REG_MULTI_SZ, multiTextValue(node.hardwareIds), regType, buffer, size, required);
    case SPDRP_COMPATIBLEIDS:
      if (node.compatibleIds.empty()) break;
      return copyProperty(REG_MULTI_SZ, multiTextValue(node.compatibleIds), regType, buffer, size, required);
    case SPDRP_CLASS: return copyProperty(REG_SZ, textValue(node.className), regType, buffer, size, required);
    case SPDRP_CLASSGUID:
      return copyProperty(REG_SZ, textValue(guidText(node.setupClass, false)), regType, buffer, size, required);
    case SPDRP_MFG: return copyProperty(REG_SZ, textValue(node.manufacturer), regType, buffer, size, required);
    case SPDRP_FRIENDLYNAME:
      if (node.friendlyName.empty()) break;
      return copyProperty(REG_SZ, textValue(node.friendlyName), regType, buffer, size, required);
    default: break;
  }
  return failWith(ERROR_INVALID_DATA);
}

BOOL WINAPI destroyDeviceInfoList(HDEVINFO setHandle) {
  DacGuard guard;
  Dac* dac = guard.dac();
  if (!dac || !dac->find(setHandle, ObjectKind::DevInfoSet)) return failWith(ERROR_INVALID_HANDLE);
  dac->handles.erase(setHandle);
  CloseHandle(setHandle);
  return TRUE;
}

}  // namespace tess::vdac::detail
