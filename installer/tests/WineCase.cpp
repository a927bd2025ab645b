#include "WineCase.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace coinst {

namespace {

constexpr char kNtVersionKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

HKEY createKey(HKEY root, const char* path) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return nullptr;
  return key;
}

std::string tempPath(const char* name) {
  char dir[MAX_PATH] = {};
  GetTempPathA(sizeof dir, dir);
  return std::string(dir) + name;
}

void copyInto(const std::string& from, const std::string& to) {
  if (!CopyFileA(from.c_str(), to.c_str(), FALSE)) std::fprintf(stderr, "copy %s -> %s failed\n", from.c_str(), to.c_str());
}

std::string unixToWine(const char* unixPath) {
  std::string p = std::string("Z:") + unixPath;
  std::replace(p.begin(), p.end(), '/', '\\');
  return p;
}

std::vector<std::string> readLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

}  // namespace

void setWindowsVersion(const char* version, DWORD build) {
  HKEY wine = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Wine", 0, KEY_ALL_ACCESS, &wine) == ERROR_SUCCESS) {
    RegDeleteValueA(wine, "Version");  // a named version would hide the values below
    RegCloseKey(wine);
  }
  const std::string buildText = std::to_string(build);
  setText(kNtVersionKey, "CurrentVersion", version);
  setText(kNtVersionKey, "CurrentBuildNumber", buildText);
  setText(kNtVersionKey, "CurrentBuild", buildText);
  setText(kNtVersionKey, "CSDVersion", "");
}

void restoreWindowsVersion() {
  setWindowsVersion("6.1", 7601);
  setText(kNtVersionKey, "CSDVersion", "Service Pack 1");
}

void setText(const char* key, const char* name, const std::string& value, DWORD type) {
  HKEY k = createKey(HKEY_LOCAL_MACHINE, key);
  if (!k) return;
  RegSetValueExA(k, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()), static_cast<DWORD>(value.size() + 1));
  RegCloseKey(k);
}

void setDword(const char* key, const char* name, DWORD value) {
  HKEY k = createKey(HKEY_LOCAL_MACHINE, key);
  if (!k) return;
  RegSetValueExA(k, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(k);
}

void deleteValue(const char* key, const char* name) {
  HKEY k = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_ALL_ACCESS, &k) != ERROR_SUCCESS) return;
  RegDeleteValueA(k, name);
  RegCloseKey(k);
}

void deleteTree(const char* key) { RegDeleteTreeA(HKEY_LOCAL_MACHINE, key); }

void ensureKey(const char* key) {
  if (HKEY k = createKey(HKEY_LOCAL_MACHINE, key)) RegCloseKey(k);
}

bool keyExists(const char* key) {
  HKEY k = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
}

std::optional<std::string> readText(const char* key, const char* name) {
  char data[4096] = {};
  DWORD size = sizeof data - 1;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, data,
                   &size) != ERROR_SUCCESS)
    return std::nullopt;
  return std::string(data);
}

std::optional<DWORD> readDword(const char* key, const char* name) {
  DWORD data = 0, size = sizeof data;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_DWORD, nullptr, &data, &size) != ERROR_SUCCESS)
    return std::nullopt;
  return data;
}

void makePackageFolder() {
  const std::string root = kPackageFolder;
  CreateDirectoryA("C:\\coinst", nullptr);
  for (const char* sub : {"", "x64", "Driver", "DriverXP"}) CreateDirectoryA((root + sub).c_str(), nullptr);
  const std::string dll = unixToWine(COINST_ASIO_DLL);
  for (const char* name : {kAsioDll, kAsioWDll}) {
    copyInto(dll, root + name);
    copyInto(dll, root + "x64\\" + name);
  }
  for (const char* folder : {"Driver\\", "DriverXP\\"})
    for (const char* inf : {"TessUAD2.inf", "TUad2iAP.inf"})
      copyInto(unixToWine(COINST_INF_DIR) + "\\" + inf, root + folder + inf);
}

void writePackageKey(const char* key, DWORD flags) {
  setText(key, "InstallPath", kPackageFolder);
  setDword(key, "CoInstallFlags", flags);
  setText(key, "AsioDllFileName", kAsioDll);
  setText(key, "AsioWDllFileName", kAsioWDll);
  setText(key, "AcplExecFileName", "TessalineUsbAudioDevice2ACPLUI.exe");
  setText(key, "AutoRunRegKeyName", "Tessaline USB 2 Control Panel");
}

void clearPackageKeys() {
  deleteTree(kPackageKey);
  deleteTree(kWow32Key);
}

bool waitFor(const std::function<bool()>& condition, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(100);
  }
}

bool waitForToolsToEnd(DWORD timeoutMs) {
  auto anyToolRuns = [] {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL ok = Process32First(snapshot, &entry); ok && !found; ok = Process32Next(snapshot, &entry))
      for (const char* tool : {"regsvr32.exe", "cmd.exe", "certmgr.exe"})
        if (_stricmp(entry.szExeFile, tool) == 0) found = true;
    CloseHandle(snapshot);
    return found;
  };
  return waitFor([&] { return !anyToolRuns(); }, timeoutMs);
}

RunResult runInstaller(const RunOptions& options) {
  RunResult result;
  const std::string treePath = tempPath("coinst-usbtree.txt");
  const std::string logPath = tempPath("coinst-usblog.txt");
  DeleteFileA(logPath.c_str());
  DeleteFileA(treePath.c_str());
  SetEnvironmentVariableA("TESSALINE_VIRTUAL_DEVICE", "1");
  SetEnvironmentVariableA("TESSALINE_VIRTUAL_USB_LOG", logPath.c_str());
  if (!options.usbTree.empty()) {
    std::string text;
    for (const std::string& line : options.usbTree) text += line + "\n";
    writeFile(treePath, text);
  }
  // With no tree file the face presents no device: an empty tree.
  if (options.usbTree.empty()) writeFile(treePath, "");
  SetEnvironmentVariableA("TESSALINE_VIRTUAL_USB_TREE", treePath.c_str());

  std::string commandLine = "\"" + unixToWine(COINST_EXE) + "\"";
  if (!options.arguments.empty()) commandLine += " " + options.arguments;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  // Wine now and then refuses a process start right after the tools of the last run
  // ended: one more try, and the reason is shown when that fails too.
  bool started = false;
  for (int attempt = 0; attempt < 2 && !started; ++attempt) {
    if (attempt) Sleep(500);
    started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &process) != FALSE;
    if (!started) std::printf("starting the co-installer failed (error %lu)\n", GetLastError());
  }
  if (!started) return result;
  CloseHandle(process.hThread);

  const DWORD start = GetTickCount();
  while (WaitForSingleObject(process.hProcess, 100) == WAIT_TIMEOUT) {
    if (GetTickCount() - start > 180000) {
      TerminateProcess(process.hProcess, 99);
      break;
    }
    HWND question = FindWindowA(nullptr, "System restart required");
    if (question && options.answerRestart) {
      result.restartQuestionSeen = true;
      PostMessageA(question, WM_COMMAND, MAKEWPARAM(options.answerRestart, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(question, options.answerRestart)));
    }
  }
  GetExitCodeProcess(process.hProcess, &result.exitCode);
  CloseHandle(process.hProcess);
  waitForToolsToEnd();
  result.usbLog = readLines(logPath);
  return result;
}

bool fileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void writeFile(const std::string& path, const std::string& content) {
  HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(f, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  CloseHandle(f);
}

std::string windowsFolder() {
  char path[MAX_PATH] = {};
  GetWindowsDirectoryA(path, sizeof path);
  return path;
}

std::string systemFolder() {
  char path[MAX_PATH] = {};
  GetSystemDirectoryA(path, sizeof path);
  return path;
}

namespace {

struct InfFile {
  FILETIME created;
  std::string name;
  std::string text;
};

std::vector<InfFile> infFiles() {
  std::vector<InfFile> found;
  const std::string folder = windowsFolder() + "\\inf\\";
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "*.inf").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return found;
  do {
    std::ifstream in(folder + data.cFileName, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    found.push_back({data.ftCreationTime, data.cFileName, text.str()});
  } while (FindNextFileA(find, &data));
  FindClose(find);
  std::sort(found.begin(), found.end(),
            [](const InfFile& a, const InfFile& b) { return CompareFileTime(&a.created, &b.created) < 0; });
  return found;
}

const char* packageOf(const InfFile& inf) {
  for (const char* base : {"TessUAD2", "TUad2iAP"})
    if (inf.text.find(std::string("[") + base + "]") != std::string::npos) return base;
  return nullptr;
}

}  // namespace

std::vector<std::string> installedPackageInfs() {
  std::vector<std::string> bases;
  for (const InfFile& inf : infFiles())
    if (const char* base = packageOf(inf)) bases.push_back(base);
  return bases;
}

void removeInstalledInfs() {
  for (const InfFile& inf : infFiles()) {
    if (!packageOf(inf) && _strnicmp(inf.name.c_str(), "oem", 3) != 0) continue;
    const std::string path = windowsFolder() + "\\inf\\" + inf.name;
    DeleteFileA(path.c_str());
    DeleteFileA((path.substr(0, path.size() - 3) + "pnf").c_str());
  }
}

}  // namespace coinst
