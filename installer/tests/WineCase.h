// Fixture pieces for running the real DrvPkgInst.exe under Wine: the package folder and
// key, the Windows version the prefix reports, the virtual USB tree, waiting for the
// tools the flow starts, and answering the restart question.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace coinst {

inline constexpr char kPackageKey[] = "SOFTWARE\\Tessaline\\Tessaline USB 2";
inline constexpr char kWow32Key[] = "SOFTWARE\\Wow6432Node\\Tessaline\\Tessaline USB 2";
inline constexpr char kPackageFolder[] = "C:\\coinst\\pkg\\";
inline constexpr char kAsioDll[] = "TessAsio.dll";
inline constexpr char kAsioWDll[] = "TessAsioW.dll";
inline constexpr char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr char kCurrentVersionKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
inline constexpr char kSigningKey[] = "SOFTWARE\\Policies\\Microsoft\\Windows\\DeviceInstall\\Settings";

// The version the prefix reports to programs started from now on ("6.1", 7601).
void setWindowsVersion(const char* version, DWORD build);
void restoreWindowsVersion();

// Registry helpers (HKLM unless said otherwise).
void setText(const char* key, const char* name, const std::string& value, DWORD type = REG_SZ);
void setDword(const char* key, const char* name, DWORD value);
void deleteValue(const char* key, const char* name);
void deleteTree(const char* key);
void ensureKey(const char* key);
bool keyExists(const char* key);
std::optional<std::string> readText(const char* key, const char* name);
std::optional<DWORD> readDword(const char* key, const char* name);

// The package folder with the ASIO driver under both names at the root and in x64\,
// and the INFs in Driver\ and DriverXP\.
void makePackageFolder();
// The package key with every value the setup writes, and the given flags.
void writePackageKey(const char* key, DWORD flags);
void clearPackageKeys();

struct RunOptions {
  std::string arguments;
  std::vector<std::string> usbTree;  // lines of the virtual USB tree file; empty: none
  int answerRestart = 0;             // IDYES or IDNO to answer the restart question
};
inline RunOptions withArgs(std::string arguments, std::vector<std::string> usbTree = {}) {
  RunOptions options;
  options.arguments = std::move(arguments);
  options.usbTree = std::move(usbTree);
  return options;
}
struct RunResult {
  DWORD exitCode = 0xFFFFFFFF;
  bool restartQuestionSeen = false;
  std::vector<std::string> usbLog;  // what the virtual USB tree recorded
};
// Runs DrvPkgInst.exe to its end, then waits until the tools it started have ended.
RunResult runInstaller(const RunOptions& options);

// Waits up to timeoutMs for the condition, polling.
bool waitFor(const std::function<bool()>& condition, DWORD timeoutMs = 60000);
// Waits until no RegSvr32.exe, CMD.exe or CertMgr.EXE runs.
bool waitForToolsToEnd(DWORD timeoutMs = 90000);

bool fileExists(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
std::string windowsFolder();
std::string systemFolder();

// The base names of the package INFs copied into the Windows inf folder (found by their
// install sections), oldest copy first.
std::vector<std::string> installedPackageInfs();
// Removes those copies and every oem*.inf.
void removeInstalledInfs();

}  // namespace coinst
