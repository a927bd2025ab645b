#include "DriverBinding.h"

#include <windows.h>
#include <setupapi.h>

#include "DeviceSeam.h"
#include "InfScan.h"
#include "PackageKey.h"
#include "RegistryText.h"
#include "SearchPath.h"
#include "TextRules.h"

namespace tess::installer {

namespace {

constexpr char kCurrentVersionPath[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr char kPoliciesPath[] = "SOFTWARE\\Policies\\Microsoft\\Windows";
constexpr char kSigningSettingsPath[] = "SOFTWARE\\Policies\\Microsoft\\Windows\\DeviceInstall\\Settings";
constexpr char kClassKeyPath[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\";
// A search path longer than this is not one the system wrote; it is left alone.
constexpr DWORD kDevicePathMax = 64 * 1024;
constexpr size_t kMaxMatchedDevices = 64;

class CRegKey {
 public:
  CRegKey() = default;
  ~CRegKey() {
    if (m_key) RegCloseKey(m_key);
  }
  CRegKey(const CRegKey&) = delete;
  CRegKey& operator=(const CRegKey&) = delete;
  bool open(HKEY root, const char* path, REGSAM access) {
    return RegOpenKeyExA(root, path, 0, access, &m_key) == ERROR_SUCCESS || (m_key = nullptr, false);
  }
  bool create(HKEY root, const char* path) {
    return RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_key, nullptr) == ERROR_SUCCESS ||
           (m_key = nullptr, false);
  }
  HKEY get() const { return m_key; }

 private:
  HKEY m_key = nullptr;
};

struct DevicePath {
  DWORD type = REG_EXPAND_SZ;
  std::string text;
};

// "DevicePath" as a string value; any other type or size is refused, not edited.
std::optional<DevicePath> readDevicePath(HKEY key) {
  std::optional<RegValue> value = readRegValue(key, "DevicePath", kDevicePathMax);
  if (!value) return std::nullopt;
  std::optional<std::string> text = registryText(
      value->type, reinterpret_cast<const uint8_t*>(value->bytes.data()), value->bytes.size(), kDevicePathMax);
  if (!text) return std::nullopt;
  return DevicePath{value->type, *text};
}

bool writeDevicePath(HKEY key, DWORD type, const std::string& text) {
  return RegSetValueExA(key, "DevicePath", 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

bool setAllSigningEqual(HKEY key, DWORD value) {
  return RegSetValueExA(key, "AllSigningEqual", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof value) == ERROR_SUCCESS;
}

class CDevInfoSet {
 public:
  explicit CDevInfoSet(HDEVINFO set) : m_set(set) {}
  ~CDevInfoSet() {
    if (valid()) devices().destroyDeviceInfoList(m_set);
  }
  CDevInfoSet(const CDevInfoSet&) = delete;
  CDevInfoSet& operator=(const CDevInfoSet&) = delete;
  bool valid() const { return m_set && m_set != INVALID_HANDLE_VALUE; }
  HDEVINFO get() const { return m_set; }

 private:
  HDEVINFO m_set;
};

// A string device property, whole; for a list, its first string.
std::optional<std::string> deviceText(HDEVINFO set, SP_DEVINFO_DATA* devInfo, DWORD property) {
  DWORD type = 0, required = 0;
  devices().getDeviceRegistryProperty(set, devInfo, property, &type, nullptr, 0, &required);
  if (required == 0 || required > 64 * 1024) return std::nullopt;
  std::string bytes(required, '\0');
  if (!devices().getDeviceRegistryProperty(set, devInfo, property, &type, reinterpret_cast<BYTE*>(&bytes[0]),
                                           required, &required) ||
      (type != REG_SZ && type != REG_MULTI_SZ))
    return std::nullopt;
  return bytes.substr(0, bytes.find('\0'));
}

std::string windowsFolder() {
  char path[MAX_PATH] = {};
  UINT n = GetWindowsDirectoryA(path, sizeof path);
  return (n > 0 && n < sizeof path) ? std::string(path, n) : std::string();
}

// The device's OEM INF file name from its class key's "InfPath", or nothing.
std::optional<std::string> oemInfOf(HDEVINFO set, SP_DEVINFO_DATA* devInfo) {
  std::optional<std::string> driverKey = deviceText(set, devInfo, SPDRP_DRIVER);
  if (!driverKey || driverKey->empty()) return std::nullopt;
  CRegKey key;
  if (!key.open(HKEY_LOCAL_MACHINE, (kClassKeyPath + *driverKey).c_str(), KEY_READ)) return std::nullopt;
  std::optional<RegValue> value = readRegValue(key.get(), "InfPath", MAX_PATH);
  if (!value) return std::nullopt;
  return infPathText(value->type, reinterpret_cast<const uint8_t*>(value->bytes.data()), value->bytes.size());
}

// Opens the OEM INF and scans it; nothing when the file cannot be opened.
std::optional<bool> infNamesPackage(const std::string& infFile, const std::vector<std::string>& baseNames) {
  const std::string folder = windowsFolder();
  if (folder.empty()) return std::nullopt;
  HANDLE file = CreateFileA((folder + "\\inf\\" + infFile).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  CInfScanner scanner(baseNames);
  char chunk[4096];
  DWORD got = 0;
  while (!scanner.found() && ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) scanner.feed(chunk, got);
  scanner.finish();
  CloseHandle(file);
  return scanner.found();
}

struct MatchedDevice {
  SP_DEVINFO_DATA devInfo;
  std::string oemInf;  // empty: the OEM INF is not one of ours
};

}  // namespace

bool addToSearchPath(const std::string& folder) {
  CRegKey key;
  if (!key.open(HKEY_LOCAL_MACHINE, kCurrentVersionPath, KEY_ALL_ACCESS)) return false;
  std::optional<DevicePath> current = readDevicePath(key.get());
  if (!current) return false;
  const std::string updated = searchPathWithFolder(current->text, folder);
  return updated == current->text || writeDevicePath(key.get(), current->type, updated);
}

bool removeFromSearchPath(const std::string& folder) {
  CRegKey key;
  if (!key.open(HKEY_LOCAL_MACHINE, kCurrentVersionPath, KEY_ALL_ACCESS)) return false;
  std::optional<DevicePath> current = readDevicePath(key.get());
  if (!current) return false;
  std::optional<std::string> updated = searchPathWithoutFolder(current->text, upperAscii(folder));
  return !updated || writeDevicePath(key.get(), REG_EXPAND_SZ, *updated);
}

bool setSigningPolicy() {
  CRegKey policies, deviceInstall, settings;
  return policies.open(HKEY_LOCAL_MACHINE, kPoliciesPath, KEY_ALL_ACCESS) &&
         deviceInstall.create(policies.get(), "DeviceInstall") && settings.create(deviceInstall.get(), "Settings") &&
         setAllSigningEqual(settings.get(), 1);
}

bool clearSigningPolicy() {
  CRegKey settings;
  return settings.open(HKEY_LOCAL_MACHINE, kSigningSettingsPath, KEY_ALL_ACCESS) &&
         setAllSigningEqual(settings.get(), 0);
}

bool runDevicePass(const DevicePassInput& input) {
  std::vector<std::string> baseNames;
  for (const InfRow& row : input.infs) baseNames.push_back(upperAscii(row.baseName));

  CDevInfoSet set(devices().getClassDevs(nullptr, "USB", nullptr, DIGCF_ALLCLASSES));
  if (!set.valid()) return false;

  std::vector<MatchedDevice> matched;
  for (DWORD index = 0; matched.size() < kMaxMatchedDevices; ++index) {
    SP_DEVINFO_DATA devInfo = {};
    devInfo.cbSize = sizeof devInfo;
    if (!devices().enumDeviceInfo(set.get(), index, &devInfo)) {
      if (GetLastError() == ERROR_NO_MORE_ITEMS) break;
      continue;
    }
    std::optional<std::string> hardwareId = deviceText(set.get(), &devInfo, SPDRP_HARDWAREID);
    if (!hardwareId) continue;
    std::optional<std::string> normalised = normaliseHardwareId(hardwareId->substr(0, MAX_PATH - 1));
    if (!normalised) continue;
    for (const std::string& id : input.hardwareIds) {
      if (!hardwareIdMatches(*normalised, id)) continue;
      std::optional<std::string> oemInf = oemInfOf(set.get(), &devInfo);
      if (!oemInf) break;
      std::optional<bool> ours = infNamesPackage(*oemInf, baseNames);
      if (!ours) break;
      matched.push_back({devInfo, *ours ? *oemInf : std::string()});
      break;
    }
  }

  for (MatchedDevice& device : matched) {
    devices().callClassInstaller(DIF_REMOVE, set.get(), &device.devInfo);
    if (!device.oemInf.empty()) SetupUninstallOEMInfA(device.oemInf.c_str(), SUOI_FORCEDELETE, nullptr);
  }

  if (input.install) {
    for (const InfRow& row : input.infs) {
      if (installsInf(row.baseName, input.atThreshold)) installInf(input.systemClass, row.baseName, row.path);
      Sleep(100);
    }
  }

  DEVINST root = 0;
  if (devices().locateDevNode(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL) == CR_SUCCESS)
    devices().reenumerateDevNode(root, CM_REENUMERATE_NORMAL);
  return true;
}

void installInf(int systemClass, const std::string& baseName, const std::string& infPath) {
  if (systemClass < 2 || systemClass > 11) return;
  HINF inf = SetupOpenInfFileA(infPath.c_str(), nullptr, INF_STYLE_WIN4, nullptr);
  if (inf != INVALID_HANDLE_VALUE) {
    HSPFILEQ queue = SetupOpenFileQueue();
    if (queue != INVALID_HANDLE_VALUE) {
      if (SetupInstallFilesFromInfSectionA(inf, nullptr, queue, baseName.c_str(), nullptr, SP_COPY_FORCE_NEWER)) {
        PVOID context = SetupInitDefaultQueueCallback(nullptr);
        if (context) {
          SetupCommitFileQueueA(nullptr, queue, SetupDefaultQueueCallbackA, context);
          Sleep(1500);
          SetupTermDefaultQueueCallback(context);
        }
      }
      SetupCloseFileQueue(queue);
    }
    SetupCloseInfFile(inf);
  }
  SetupCopyOEMInfA(infPath.c_str(), nullptr, SPOST_PATH, 0, nullptr, 0, nullptr, nullptr);
}

}  // namespace tess::installer
