#include "usbtree/UsbTree.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "DacInternal.h"

namespace tess::vdac::usbtree {

namespace {

struct TreeDevice {
  std::string instanceId;
  std::vector<std::string> hardwareIds;
  std::string driverKey;
  bool removed = false;
};

// A device-node number that no DAC node uses; the root node is the first.
constexpr DEVINST kRootDevInst = 0x7000;
constexpr DEVINST kFirstTreeDevInst = 0x7001;

struct Tree {
  std::mutex lock;
  bool loaded = false;
  bool present = false;
  std::vector<TreeDevice> devices;
  std::map<HANDLE, bool> sets;  // handles of device sets this face handed out
};

Tree& tree() {
  static Tree* t = new Tree;  // kept to the end of the process: seam calls may come late
  return *t;
}

std::string envText(const char* name) {
  char value[MAX_PATH] = {};
  DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return (n > 0 && n < sizeof value) ? std::string(value, n) : std::string();
}

std::string trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t end = s.find(sep, start);
    parts.push_back(trimmed(s.substr(start, end == std::string::npos ? std::string::npos : end - start)));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

// Reads the tree file once; a missing file leaves the face off.
void loadLocked(Tree& t) {
  if (t.loaded) return;
  t.loaded = true;
  const std::string path = envText(kTreeEnv);
  if (path.empty()) return;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return;
  t.present = true;
  char line[1024];
  while (std::fgets(line, sizeof line, f)) {
    std::vector<std::string> fields = split(line, '|');
    if (fields.size() != 3 || fields[0].empty()) continue;
    t.devices.push_back({fields[0], split(fields[1], ','), fields[2]});
  }
  std::fclose(f);
}

void record(const std::string& line) {
  const std::string path = envText(kLogEnv);
  if (path.empty()) return;
  HANDLE f = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  const std::string text = line + "\r\n";
  DWORD written = 0;
  WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(f);
}

BOOL fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

std::vector<size_t> listedDevices(const Tree& t) {
  std::vector<size_t> list;
  for (size_t i = 0; i < t.devices.size(); ++i)
    if (!t.devices[i].removed) list.push_back(i);
  return list;
}

// The tree device a devinfo element names, or -1.
int deviceOf(const Tree& t, const SP_DEVINFO_DATA* devInfo) {
  if (!devInfo || devInfo->cbSize != sizeof(SP_DEVINFO_DATA) || devInfo->DevInst < kFirstTreeDevInst) return -1;
  const size_t i = devInfo->DevInst - kFirstTreeDevInst;
  return i < t.devices.size() ? static_cast<int>(i) : -1;
}

BOOL copyOut(DWORD type, const std::vector<char>& value, PDWORD regType, PBYTE buffer, DWORD size, PDWORD required) {
  if (required) *required = static_cast<DWORD>(value.size());
  if (regType) *regType = type;
  if (!buffer || size < value.size()) return fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(buffer, value.data(), value.size());
  return TRUE;
}

bool isUsbEnumerator(PCSTR enumerator) { return enumerator && _stricmp(enumerator, "USB") == 0; }

}  // namespace

HDEVINFO WINAPI getClassDevs(const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags) {
  Tree& t = tree();
  {
    std::lock_guard<std::mutex> lock(t.lock);
    loadLocked(t);
    if (t.present && isUsbEnumerator(enumerator) && !(flags & DIGCF_DEVICEINTERFACE) &&
        (flags & DIGCF_ALLCLASSES)) {
      HANDLE set = CreateEventA(nullptr, TRUE, FALSE, nullptr);  // a fresh handle names the set
      if (!set) return INVALID_HANDLE_VALUE;
      t.sets[set] = true;
      return static_cast<HDEVINFO>(set);
    }
  }
  return detail::getClassDevs(classGuid, enumerator, parent, flags);
}

BOOL WINAPI enumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA devInfo) {
  Tree& t = tree();
  {
    std::lock_guard<std::mutex> lock(t.lock);
    if (t.sets.count(set)) {
      if (!devInfo || devInfo->cbSize != sizeof(SP_DEVINFO_DATA)) return fail(ERROR_INVALID_USER_BUFFER);
      std::vector<size_t> list = listedDevices(t);
      if (index >= list.size()) return fail(ERROR_NO_MORE_ITEMS);
      devInfo->ClassGuid = GUID{0x36fc9e60, 0xc465, 0x11cf, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
      devInfo->DevInst = kFirstTreeDevInst + static_cast<DEVINST>(list[index]);
      devInfo->Reserved = 0;
      return TRUE;
    }
  }
  return detail::enumDeviceInfo(set, index, devInfo);
}

BOOL WINAPI getDeviceRegistryProperty(HDEVINFO set, PSP_DEVINFO_DATA devInfo, DWORD property, PDWORD regType,
                                      PBYTE buffer, DWORD size, PDWORD required) {
  Tree& t = tree();
  {
    std::lock_guard<std::mutex> lock(t.lock);
    if (t.sets.count(set)) {
      const int device = deviceOf(t, devInfo);
      if (device < 0) return fail(ERROR_INVALID_PARAMETER);
      const TreeDevice& d = t.devices[device];
      std::vector<char> value;
      if (property == SPDRP_HARDWAREID) {
        for (const std::string& id : d.hardwareIds) value.insert(value.end(), id.c_str(), id.c_str() + id.size() + 1);
        value.push_back('\0');
        return copyOut(REG_MULTI_SZ, value, regType, buffer, size, required);
      }
      if (property == SPDRP_DRIVER && !d.driverKey.empty()) {
        value.assign(d.driverKey.c_str(), d.driverKey.c_str() + d.driverKey.size() + 1);
        return copyOut(REG_SZ, value, regType, buffer, size, required);
      }
      return fail(ERROR_INVALID_DATA);
    }
  }
  return detail::getDeviceRegistryProperty(set, devInfo, property, regType, buffer, size, required);
}

BOOL WINAPI destroyDeviceInfoList(HDEVINFO set) {
  Tree& t = tree();
  {
    std::lock_guard<std::mutex> lock(t.lock);
    if (t.sets.erase(set)) {
      CloseHandle(set);
      return TRUE;
    }
  }
  return detail::destroyDeviceInfoList(set);
}

BOOL WINAPI callClassInstaller(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA devInfo) {
  Tree& t = tree();
  std::lock_guard<std::mutex> lock(t.lock);
  if (!t.sets.count(set)) return fail(ERROR_INVALID_HANDLE);
  const int device = deviceOf(t, devInfo);
  if (device < 0) return fail(ERROR_INVALID_PARAMETER);
  if (function != DIF_REMOVE) return fail(ERROR_DI_DO_DEFAULT);
  TreeDevice& d = t.devices[device];
  if (d.removed) return fail(ERROR_NO_SUCH_DEVINST);
  d.removed = true;
  record("remove " + d.instanceId);
  return TRUE;
}

CONFIGRET WINAPI locateDevNode(PDEVINST devInst, DEVINSTID_A deviceId, ULONG) {
  if (!devInst) return CR_INVALID_POINTER;
  if (deviceId && *deviceId) return CR_NO_SUCH_DEVNODE;  // only the root is located here
  *devInst = kRootDevInst;
  return CR_SUCCESS;
}

CONFIGRET WINAPI reenumerateDevNode(DEVINST devInst, ULONG flags) {
  if (devInst != kRootDevInst) return CR_INVALID_DEVNODE;
  char line[64];
  std::snprintf(line, sizeof line, "reenumerate root %lu", static_cast<unsigned long>(flags));
  record(line);
  return CR_SUCCESS;
}

BOOL WINAPI initiateShutdown(LPSTR machine, LPSTR message, DWORD timeoutSeconds, BOOL forceClose, BOOL reboot) {
  if (machine && *machine) return fail(ERROR_BAD_NETPATH);
  char head[64];
  std::snprintf(head, sizeof head, "restart %lu %d %d ", static_cast<unsigned long>(timeoutSeconds),
                forceClose ? 1 : 0, reboot ? 1 : 0);
  record(head + std::string(message ? message : ""));
  return TRUE;
}

}  // namespace tess::vdac::usbtree
