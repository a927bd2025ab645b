// TessalineVirtualDac.dll as deliverables meet it: a module that uses the device seam loads
// it only with TESSALINE_VIRTUAL_DEVICE=1 and only from the module's own folder, never from
// the search path; and the device, running in the DLL, outlives a module its host unloads.
// The module, the DLL and the host program are built side by side in this program's folder.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

const wchar_t kModule[] = L"vdac_dll_test_module.dll";
const wchar_t kDll[] = L"TessalineVirtualDac.dll";

std::wstring programFolder() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::wstring();
  std::wstring folder(path, n);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

// A scratch folder under %TEMP%, emptied of what an earlier run left.
std::wstring scratchFolder(const wchar_t* name) {
  wchar_t temp[MAX_PATH] = {};
  const DWORD n = GetTempPathW(MAX_PATH, temp);
  if (n == 0 || n >= MAX_PATH) return std::wstring();
  std::wstring folder = std::wstring(temp) + L"vdac-dll-test\\";
  CreateDirectoryW(folder.c_str(), nullptr);
  folder += name;
  folder += L"\\";
  CreateDirectoryW(folder.c_str(), nullptr);
  DeleteFileW((folder + kModule).c_str());
  DeleteFileW((folder + kDll).c_str());
  return folder;
}

bool copyFromProgramFolder(const wchar_t* file, const std::wstring& folder) {
  return CopyFileW((programFolder() + file).c_str(), (folder + file).c_str(), FALSE) != 0;
}

// Sets a variable for the life of the object; null unsets it.
class ScopedVariable {
 public:
  ScopedVariable(const wchar_t* name, const wchar_t* value) : name_(name) {
    wchar_t old[4096] = {};
    const DWORD n = GetEnvironmentVariableW(name, old, 4096);
    had_ = n > 0 && n < 4096;
    if (had_) old_ = old;
    SetEnvironmentVariableW(name, value);
  }
  ~ScopedVariable() { SetEnvironmentVariableW(name_, had_ ? old_.c_str() : nullptr); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const wchar_t* name_;
  std::wstring old_;
  bool had_ = false;
};

// Runs the host program on the module; its exit status (see DllHost.cpp), or -1.
int hostStatus(const std::wstring& modulePath) {
  std::wstring command = L"\"" + programFolder() + L"vdac_dll_host.exe\" \"" + modulePath + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return -1;
  }
  CloseHandle(process.hThread);
  DWORD status = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0 || !GetExitCodeProcess(process.hProcess, &status)) {
    TerminateProcess(process.hProcess, 99);
    status = static_cast<DWORD>(-1);
  }
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}

constexpr int kReachable = 1, kLoaded = 2, kBesideModule = 4;

}  // namespace

// Each case runs in a host process of its own (the choice is made once per process). The
// host program's own folder holds the DLL too, so loading it by bare name would find it.
TEST(VirtualDacDll, LoadedOnlyWhenAskedAndOnlyFromBesideTheModule) {
  const std::wstring beside = scratchFolder(L"beside"), alone = scratchFolder(L"alone"), onPath = scratchFolder(L"path");
  ASSERT_FALSE(beside.empty() || alone.empty() || onPath.empty());
  ASSERT_TRUE(copyFromProgramFolder(kModule, beside));
  ASSERT_TRUE(copyFromProgramFolder(kDll, beside));
  ASSERT_TRUE(copyFromProgramFolder(kModule, alone));
  ASSERT_TRUE(copyFromProgramFolder(kDll, onPath));
  wchar_t searchPath[8192] = {};
  const DWORD n = GetEnvironmentVariableW(L"PATH", searchPath, 8192);
  ASSERT_LT(n, 8192u);
  ScopedVariable path(L"PATH", (onPath + L";" + searchPath).c_str());

  struct Case {
    const char* what;
    const wchar_t* variable;
    std::wstring module;
    int expected;
  };
  const Case cases[] = {
      {"asked, DLL beside the module", L"1", beside + kModule, kReachable | kLoaded | kBesideModule},
      {"asked, DLL only on the search path", L"1", alone + kModule, 0},
      {"not asked", nullptr, beside + kModule, 0},
      {"asked with another value", L"yes", beside + kModule, 0},
  };
  for (const Case& c : cases) {
    ScopedVariable asked(L"TESSALINE_VIRTUAL_DEVICE", c.variable);
    EXPECT_EQ(hostStatus(c.module), c.expected) << c.what;
  }
}

// The device thread keeps the DLL's code mapped, not the module's: the host may unload the
// module that selected the device while a stream is queued on it.
TEST(VirtualDacDll, HostMayUnloadTheModuleThatSelectedTheDevice) {
  HMODULE module = LoadLibraryW((programFolder() + kModule).c_str());
  ASSERT_NE(module, nullptr) << GetLastError();
  using Start = int (*)();
  auto start = reinterpret_cast<Start>(reinterpret_cast<void*>(GetProcAddress(module, "startStreamThroughEnvironment")));
  ASSERT_NE(start, nullptr);
  EXPECT_EQ(start(), 0);
  EXPECT_NE(GetModuleHandleW(kDll), nullptr);
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_EQ(GetModuleHandleW(kModule), nullptr);
  // The device completes the queued packet and waits on: its code must still be there.
  Sleep(200);
  EXPECT_NE(GetModuleHandleW(kDll), nullptr);
}
