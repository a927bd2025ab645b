// Device-change notifications: windows registered through the seam for device-interface
// classes receive WM_DEVICECHANGE with a device-interface record when the DAC leaves or
// returns, as the platform sends them. Registrations of other kinds are the system's.
#include "DacInternal.h"
#include "coreaudio/CaWorld.h"

#include <dbt.h>

#include <algorithm>

namespace tess::vdac::detail {

namespace {

constexpr Guid kUsbDeviceInterface{0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

struct Registration {
  HWND window;
  GUID interfaceClass;
  bool allClasses;
};

// Registrations live with the process, not with one installed device, as the system's do.
// Guarded by the device lock; a registration's address is its handle.
std::vector<std::unique_ptr<Registration>>& registrations() {
  static auto* list = new std::vector<std::unique_ptr<Registration>>;
  return *list;
}

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  return s;
}

struct Notice {
  HWND window;
  GUID interfaceClass;
  std::string path;
};

}  // namespace

HDEVNOTIFY WINAPI registerDeviceNotification(HANDLE recipient, LPVOID filter, DWORD flags) {
  const auto* header = static_cast<const DEV_BROADCAST_HDR*>(filter);
  const bool toWindow = (flags & DEVICE_NOTIFY_SERVICE_HANDLE) == 0;
  if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE || !toWindow) {
    return RegisterDeviceNotificationA(recipient, filter, flags);
  }
  if (header->dbch_size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_A)) {
    SetLastError(ERROR_INVALID_DATA);
    return nullptr;
  }
  if (!IsWindow(static_cast<HWND>(recipient))) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  auto registration = std::make_unique<Registration>();
  registration->window = static_cast<HWND>(recipient);
  registration->interfaceClass = static_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(filter)->dbcc_classguid;
  registration->allClasses = (flags & DEVICE_NOTIFY_ALL_INTERFACE_CLASSES) != 0;
  DacGuard guard;
  registrations().push_back(std::move(registration));
  return static_cast<HDEVNOTIFY>(registrations().back().get());
}

BOOL WINAPI unregisterDeviceNotification(HDEVNOTIFY notification) {
  {
    DacGuard guard;
    auto& list = registrations();
    auto it = std::find_if(list.begin(), list.end(), [&](const auto& r) { return r.get() == notification; });
    if (it != list.end()) {
      list.erase(it);
      return TRUE;
    }
  }
  return UnregisterDeviceNotification(notification);
}

void announceDeviceChange() {
  std::vector<Notice> notices;
  bool arrival = false;
  {
    DacGuard guard;
    Dac* dac = guard.dac();
    if (!dac || !dac->coreAudio) return;
    bool present = true;
    for (const DeviceNode& node : dac->devices) present &= !(node.isDac && node.removed);
    if (present == dac->coreAudio->presenceAnnounced) return;
    dac->coreAudio->presenceAnnounced = present;
    arrival = present;

    // The interfaces the DAC brings: the USB device of its composite parent, its audio
    // filter's categories and its HID function.
    std::vector<std::pair<Guid, std::string>> interfaces;
    for (const DeviceNode& node : dac->devices) {
      if (node.isDac && node.className == "USB") {
        std::string path = "\\\\?\\" + node.instanceId;
        std::replace(path.begin() + 4, path.end(), '\\', '#');
        interfaces.push_back({kUsbDeviceInterface, path + "#" + guidText(kUsbDeviceInterface, false)});
      }
    }
    for (const InterfaceEntry& e : dac->interfaces) {
      if (dac->devices[e.device].isDac && e.state != AliasState::Missing) interfaces.push_back({e.category, e.path});
    }
    for (const auto& r : registrations()) {
      for (const auto& [category, path] : interfaces) {
        if (r->allClasses || toGuid(r->interfaceClass) == category) {
          notices.push_back({r->window, toWinGuid(category), upper(path)});
        }
      }
    }
  }
  for (const Notice& n : notices) {
    std::vector<uint8_t> record(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) + n.path.size(), 0);
    auto* broadcast = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(record.data());
    broadcast->dbcc_size = static_cast<DWORD>(record.size());
    broadcast->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    broadcast->dbcc_classguid = n.interfaceClass;
    std::memcpy(broadcast->dbcc_name, n.path.c_str(), n.path.size() + 1);
    // Sent, as the system sends it, but never waiting on a window that does not answer.
    SendMessageTimeoutA(n.window, WM_DEVICECHANGE, arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
                        reinterpret_cast<LPARAM>(broadcast), SMTO_ABORTIFHUNG, 5000, nullptr);
  }
}

}  // namespace tess::vdac::detail
