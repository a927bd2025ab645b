#include "Flow.h"

#include <windows.h>

#include <optional>

#include "DeviceSeam.h"
#include "DeviceTable.h"
#include "DriverBinding.h"
#include "PackageKey.h"
#include "PackageLists.h"
#include "Resources.h"
#include "SystemClass.h"
#include "TextRules.h"
#include "ToolLauncher.h"

namespace tess::installer {

namespace {

constexpr char kRunKeyPath[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kCertificateFile[] = "NewCert.cer";
constexpr char kCertToolFile[] = "CertMgr.EXE";
constexpr char kRestartTitle[] = "System restart required";
constexpr char kRestartText[] =
    "If you want to complete the installation of this software package, "
    "you have to restart the system!\n"
    "Please click button \"Yes\" to restart the system right now.\n"
    "If you want to restart the system later, please click button \"No\".\n";
constexpr char kRestartMessage[] = "System will be restarted!";

// The package key's value, else the 32-bit view's when the value is mandatory.
// Nothing means: mandatory and in neither view.
std::optional<std::string> readName(const char* name, bool mandatory, bool* missing) {
  std::optional<std::string> value = readPackageText(KeyView::Package, name);
  if (!value && mandatory) {
    value = readPackageText(KeyView::Wow32, name);
    if (!value) *missing = true;
  }
  return value;
}

// Writes an embedded resource as a file; false when it cannot be found or written.
bool writeResource(int id, const std::string& path) {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10) /* RT_RCDATA */);
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  const DWORD size = found ? SizeofResource(module, found) : 0;
  if (!data || size == 0) return false;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, data, size, &written, nullptr) && written == size;
  return CloseHandle(file) && ok;
}

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

std::string systemFolder() {
  char path[MAX_PATH] = {};
  UINT n = GetSystemDirectoryA(path, sizeof path);
  return (n > 0 && n < sizeof path) ? std::string(path, n) : std::string();
}

// Certificate trust: false ends the flow (a file that cannot be written, or class 12).
bool trustCertificate(const std::string& packageFolder, const SystemClass& system) {
  const std::string certificate = packageFolder + kCertificateFile;
  const std::string tool = packageFolder + kCertToolFile;
  if (!writeResource(IDR_PACKAGE_CERTIFICATE, certificate)) return false;
  Sleep(2000);
  if (!writeResource(system.x86 ? IDR_CERT_TOOL_X86 : IDR_CERT_TOOL_X64, tool)) return false;
  Sleep(2000);
  const std::string add = "-add " + quoted(certificate);
  const bool started = startTool(system.systemClass, tool, add + " -s -r localmachine root");
  Sleep(2000);
  if (!started) return false;
  startTool(system.systemClass, tool, add + " -s -r localmachine trustedpublisher");
  Sleep(2000);
  return true;
}

void bindDrivers(Mode mode, const std::string& folder, const SystemClass& system, bool atThreshold,
                 const std::vector<PackageRow>& mainList, const std::vector<PackageRow>& secondList) {
  if (mode == Mode::Removal) {
    removeFromSearchPath(folder);
    clearSigningPolicy();
  } else {
    if (!atThreshold) addToSearchPath(folder);
    setSigningPolicy();
  }
  std::vector<PackageRow> rows = mainList;
  rows.insert(rows.end(), secondList.begin(), secondList.end());
  DevicePassInput pass;
  pass.systemClass = system.systemClass;
  pass.install = mode == Mode::Install;
  pass.atThreshold = atThreshold;
  for (const PackageRow& row : rows) pass.hardwareIds.push_back(row.hardwareId);
  pass.infs = infTable(rows, folder);
  runDevicePass(pass);
}

void registerDll(Mode mode, int systemClass, const std::string& path) {
  startTool(systemClass, "RegSvr32.exe", (mode == Mode::Removal ? "/u " : "") + quoted(path) + " /s");
}

void setAutostart(Mode mode, const std::string& valueName, const std::string& program) {
  HKEY run = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKeyPath, 0, KEY_SET_VALUE, &run) != ERROR_SUCCESS) return;
  if (mode == Mode::Install)
    RegSetValueExA(run, valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(program.c_str()),
                   static_cast<DWORD>(program.size() + 1));
  else
    RegDeleteValueA(run, valueName.c_str());
  RegCloseKey(run);
}

void deleteFiles(int systemClass, const std::string& pattern) {
  startTool(systemClass, "CMD.exe", " /C del " + quoted(pattern));
}

// Turns the shutdown privilege on or off; false when the token refuses.
bool setShutdownPrivilege(bool enable) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
  bool ok = LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid) &&
            AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
            GetLastError() == ERROR_SUCCESS;
  CloseHandle(token);
  return ok;
}

void askForRestart() {
  const int answer = MessageBoxA(nullptr, kRestartText, kRestartTitle, MB_YESNO | MB_ICONQUESTION | MB_SYSTEMMODAL);
  if (answer == IDNO) return;
  if (!setShutdownPrivilege(true)) return;
  std::string message = kRestartMessage;
  devices().initiateShutdown(nullptr, &message[0], 5, FALSE, TRUE);
  setShutdownPrivilege(false);
}

}  // namespace

void runFlow(const std::string& commandLine) {
  std::optional<std::string> packageFolder = readPackageText(KeyView::Package, "InstallPath");
  if (!packageFolder) packageFolder = readPackageText(KeyView::Wow32, "InstallPath");
  if (!packageFolder) return;
  std::optional<DWORD> storedFlags = readPackageDword(KeyView::Package, "CoInstallFlags");
  if (!storedFlags) storedFlags = readPackageDword(KeyView::Wow32, "CoInstallFlags");
  if (!storedFlags) return;
  const unsigned flags = *storedFlags & 0xFF;

  const SystemClass system = querySystemClass();
  if (!system.ok) return;
  const bool atThreshold = isWin10Creators(system);

  const std::vector<PackageRow> mainList = mainPackageList(kSupportedDevices);
  const std::vector<PackageRow> secondList = secondPackageList(kSupportedDevices);

  bool missing = false;
  const std::optional<std::string> asioDll =
      readName(atThreshold ? "AsioWDllFileName" : "AsioDllFileName", flags & kStepAsioDll, &missing);
  const std::optional<std::string> panelProgram =
      readName("AcplExecFileName", flags & (kStepAutostart | kStepNeedsPanelName), &missing);
  const std::optional<std::string> autorunName = readName("AutoRunRegKeyName", flags & kStepAutostart, &missing);
  if (missing) return;

  const Mode mode = modeFromCommandLine(commandLine);
  const std::string& folder = *packageFolder;
  const std::string drivers = driverFolder(folder, system.systemClass);

  if (mode == Mode::Install && (flags & kStepCertificate) && !trustCertificate(folder, system)) return;

  if (flags & (kStepDrivers | kStepDriversToo))
    bindDrivers(mode, drivers, system, atThreshold, mainList, secondList);

  if (flags & kStepAsioDll) {
    registerDll(mode, system.systemClass, folder + *asioDll);
    if (!system.x86) registerDll(mode, system.systemClass, folder + "x64\\" + *asioDll);
  }

  if (flags & kStepAutostart) setAutostart(mode, *autorunName, folder + *panelProgram);

  if (mode == Mode::Removal) {
    deleteFiles(system.systemClass, drivers + "\\*.pnf");
    deleteFiles(system.systemClass, drivers + "\\Inf*.*");
    const std::string systemDrivers = systemFolder() + "\\drivers\\";
    for (const std::vector<PackageRow>* list : {&mainList, &secondList})
      for (const PackageRow& row : *list) deleteFiles(system.systemClass, systemDrivers + row.driverFile);
  } else if (flags & kStepCertificate) {
    deleteFiles(system.systemClass, folder + kCertToolFile);
    deleteFiles(system.systemClass, folder + kCertificateFile);
  }

  if (mode == Mode::Install && (flags & kStepRestartQuestion)) askForRestart();

  writeCompletionStatus();
}

}  // namespace tess::installer
