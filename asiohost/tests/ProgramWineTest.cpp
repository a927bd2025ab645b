// The host program end to end: the in-test driver DLL registered in the test prefix's
// registry as hosts find drivers, and asiohost.exe run against it as a child process.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "StatusBlock.h"
#include "TessConstants.h"
#include "Wav.h"

namespace {

const char kGoodClsid[] = "{6A3F1C52-8E1B-4C7A-9D21-5B0E7F4A1C01}";
const char kOrphanClsid[] = "{6A3F1C52-8E1B-4C7A-9D21-5B0E7F4A1C02}";  // no class key

std::string dosPath(std::string unixPath) {
  for (char& c : unixPath)
    if (c == '/') c = '\\';
  return "Z:" + unixPath;
}

bool setValue(HKEY root, const std::string& key, const char* name, DWORD type, const void* data, DWORD size,
              REGSAM view = KEY_WOW64_64KEY) {
  HKEY k;
  if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_WRITE | view, nullptr, &k, nullptr) != ERROR_SUCCESS)
    return false;
  const LONG rc = RegSetValueExA(k, name, 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(k);
  return rc == ERROR_SUCCESS;
}

bool setString(HKEY root, const std::string& key, const char* name, const std::string& value,
               REGSAM view = KEY_WOW64_64KEY) {
  return setValue(root, key, name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1), view);
}

void deleteKey(const std::string& key, REGSAM view) {
  HKEY parent;
  const size_t slash = key.rfind('\\');
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.substr(0, slash).c_str(), 0, KEY_ALL_ACCESS | view, &parent) !=
      ERROR_SUCCESS)
    return;
  RegDeleteTreeA(parent, key.substr(slash + 1).c_str());
  RegCloseKey(parent);
}

struct Result {
  DWORD exitCode = 999;
  std::string output;
};

class Program : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::string dll = dosPath(ASIOHOST_FAKE_DLL);
    ASSERT_TRUE(setString(HKEY_LOCAL_MACHINE, "Software\\ASIO\\Fake ASIO Host Test", "CLSID", kGoodClsid));
    ASSERT_TRUE(setString(HKEY_LOCAL_MACHINE, "Software\\ASIO\\Fake ASIO Host Test", "Driver", dll));
    ASSERT_TRUE(setString(HKEY_LOCAL_MACHINE, "Software\\ASIO\\Fake ASIO Host Test", "Description", "in-test driver"));
    ASSERT_TRUE(setString(HKEY_LOCAL_MACHINE, "Software\\ASIO\\Fake Orphan Host Test", "CLSID", kOrphanClsid));
    // Registered for 32-bit hosts only, and a registration whose class value is a number.
    ASSERT_TRUE(setString(HKEY_LOCAL_MACHINE, "Software\\ASIO\\Fake Thirty-Two Host Test", "CLSID", kOrphanClsid,
                          KEY_WOW64_32KEY));
    const DWORD number = 7;
    ASSERT_TRUE(setValue(HKEY_LOCAL_MACHINE, "Software\\ASIO\\Fake Numeric Host Test", "CLSID", REG_DWORD, &number, 4));
    const std::string cls = std::string("Software\\Classes\\CLSID\\") + kGoodClsid;
    ASSERT_TRUE(setString(HKEY_LOCAL_MACHINE, cls, nullptr, "Fake ASIO Host Test"));
    ASSERT_TRUE(setString(HKEY_LOCAL_MACHINE, cls + "\\InprocServer32", nullptr, dll));
    ASSERT_TRUE(setString(HKEY_LOCAL_MACHINE, cls + "\\InprocServer32", "ThreadingModel", "Apartment"));
  }
  static void TearDownTestSuite() {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\ASIO\\Fake ASIO Host Test");
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\ASIO\\Fake Orphan Host Test");
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\ASIO\\Fake Numeric Host Test");
    deleteKey("Software\\ASIO\\Fake Thirty-Two Host Test", KEY_WOW64_32KEY);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string("Software\\Classes\\CLSID\\") + kGoodClsid).c_str());
  }

  // Runs asiohost.exe with the arguments and the fake driver's faults; output is stdout and stderr.
  static Result run(const std::string& args, const std::string& faults = "", DWORD limitMs = 60000,
                    const char* exe = ASIOHOST_EXE) {
    Result r;
    SetEnvironmentVariableA("ASIOHOST_FAKE_FAULTS", faults.c_str());
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    const std::string outPath = std::string(dir) + "asiohost_program_test.txt";
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
      r.output = "cannot create " + outPath + ": error " + std::to_string(GetLastError());
      return r;
    }
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = out;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::string line = "\"" + dosPath(exe) + "\" " + args;
    PROCESS_INFORMATION pi{};
    const BOOL started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    const DWORD startError = GetLastError();
    CloseHandle(out);
    if (!started) {
      r.output = "cannot start " + line + ": error " + std::to_string(startError);
      return r;
    }
    if (WaitForSingleObject(pi.hProcess, limitMs) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 998);
    GetExitCodeProcess(pi.hProcess, &r.exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    HANDLE in = CreateFileA(outPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (in != INVALID_HANDLE_VALUE) {
      char buf[4096];
      DWORD n;
      while (ReadFile(in, buf, sizeof buf, &n, nullptr) && n) r.output.append(buf, n);
      CloseHandle(in);
    }
    DeleteFileA(outPath.c_str());
    return r;
  }
};

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(Program, ListsDriversAsHostsFindThem) {
  const Result r = run("list");
  EXPECT_EQ(r.exitCode, 0u) << r.output;
  EXPECT_TRUE(contains(r.output, "Fake ASIO Host Test")) << r.output;
  EXPECT_TRUE(contains(r.output, kGoodClsid)) << r.output;
  EXPECT_TRUE(contains(r.output, "asiohost_fakedriver.dll")) << r.output;
  EXPECT_TRUE(contains(r.output, "in-test driver")) << r.output;
  EXPECT_TRUE(contains(r.output, "Fake Thirty-Two Host Test\r\n    CLSID   " + std::string(kOrphanClsid) +
                                     "\r\n    Driver  (none)\r\n    Views   32-bit"))
      << r.output;
  EXPECT_TRUE(contains(r.output, "Problem value \"CLSID\" is not a string")) << r.output;
}

TEST_F(Program, ConformanceRunPassesOnAGoodDriverAndFailsOnABrokenOne) {
  Result r = run("check -d \"fake asio host test\" -n 40 -q --expect-bits 32");
  EXPECT_EQ(r.exitCode, 0u) << r.output;
  EXPECT_TRUE(contains(r.output, " 0 failed")) << r.output;

  r = run("check -d \"Fake ASIO Host Test\" -n 40 -q", "position,half,afterstop");
  EXPECT_EQ(r.exitCode, 1u) << r.output;
  EXPECT_TRUE(contains(r.output, "[FAIL] switch halves alternate")) << r.output;
  EXPECT_TRUE(contains(r.output, "[FAIL] sample position grows by one buffer per switch")) << r.output;
  EXPECT_TRUE(contains(r.output, "[FAIL] no switch after stop returns")) << r.output;
  EXPECT_TRUE(contains(r.output, " 3 failed")) << r.output;
}

TEST_F(Program, BadInputGetsAMessageAndAnExitStatus) {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  const std::string notWav = std::string(dir) + "asiohost_not_a.wav";
  HANDLE f = CreateFileA(notWav.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written;
  WriteFile(f, "RIFF\x04\0\0\0WAVEdata", 16, &written, nullptr);
  CloseHandle(f);
  struct Case {
    std::string args, faults;
    DWORD exit;
    const char* message;
  } cases[] = {
      {"check -d \"No Such Driver\"", "", 3, "\"No Such Driver\" is not installed"},
      {"check -d \"Fake Orphan Host Test\"", "", 3, "cannot be created"},
      {"check -d \"Fake Thirty-Two Host Test\"", "", 3, "registered for 32-bit hosts only"},
      {"check -d \"Fake Numeric Host Test\"", "", 3, "cannot be loaded: value \"CLSID\" is not a string"},
      {"check -d \"Fake ASIO Host Test\"", "init", 3, "refused init: no device"},
      {"play -d \"Fake ASIO Host Test\" -q", "create", 3, "createBuffers(2 channels, 480 frames) failed: ASE_NoMemory"},
      {"check -d \"Fake ASIO Host Test\" -n 10 -q --timeout-ms 1000", "hang", 3, "stop did not return within 1000 ms"},
      {"play -d \"Fake ASIO Host Test\" -q -i \"" + notWav + "\"", "", 4, "malformed WAV: no 'fmt ' chunk"},
      {"play --rate fast", "", 2, "invalid value 'fast' for --rate"},
  };
  for (const Case& c : cases) {
    const Result r = run(c.args, c.faults);
    EXPECT_EQ(r.exitCode, c.exit) << c.args << "\n" << r.output;
    EXPECT_TRUE(contains(r.output, c.message)) << c.args << "\n" << r.output;
  }
  DeleteFileA(notWav.c_str());
}

TEST_F(Program, PlaysBitExactlyAndMeasuresTheLoopback) {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  const std::string played = std::string(dir) + "asiohost_played.wav";
  SetEnvironmentVariableA("ASIOHOST_FAKE_PLAYED", played.c_str());
  Result r = run("play -d \"Fake ASIO Host Test\" -t 1 -q -s sine --compare \"" + played + "\"");
  EXPECT_EQ(r.exitCode, 0u) << r.output;
  EXPECT_TRUE(contains(r.output, "[pass] the device played what was sent: bit-exact")) << r.output;

  r = run("play -d \"Fake ASIO Host Test\" -t 1 -q -r 2822400 --compare \"" + played + "\"");
  EXPECT_EQ(r.exitCode, 0u) << r.output;
  EXPECT_TRUE(contains(r.output, "native DSD")) << r.output;
  EXPECT_TRUE(contains(r.output, "bit-exact")) << r.output;
  SetEnvironmentVariableA("ASIOHOST_FAKE_PLAYED", nullptr);
  DeleteFileA(played.c_str());

  r = run("latency -d \"Fake ASIO Host Test\" -t 1.5 -q -b 300");
  EXPECT_EQ(r.exitCode, 0u) << r.output;
  EXPECT_TRUE(contains(r.output, "round trip 600 frames (12.50 ms)")) << r.output;
}

TEST_F(Program, BenchSweepsBufferSizes) {
  Result r = run("bench -d \"Fake ASIO Host Test\" --rates 48000,44100 --buffers-ms 10,5 -t 0.3");
  EXPECT_EQ(r.exitCode, 0u) << r.output;
  EXPECT_TRUE(contains(r.output, "late p99 ms")) << r.output;
  for (const char* row : {"   48000     10.00     480", "   48000      5.00     240", "   44100      9.98     440",
                          "   44100      4.99     220"})
    EXPECT_TRUE(contains(r.output, row)) << row << "\n" << r.output;
  // A rate the driver refuses is a row of its own and a non-zero status.
  r = run("bench -d \"Fake ASIO Host Test\" --rates 384000 -t 0.2");
  EXPECT_EQ(r.exitCode, 1u) << r.output;
  EXPECT_TRUE(contains(r.output, "384000  refused: ASE_NoClock")) << r.output;
}

// The demo's view of the status block reads it as the control panel's ASIO page words it.
TEST_F(Program, StatusViewWordsTheBlockLikeThePanel) {
  Result r = run("", "", 10000, ASIOSTATUS_EXE);
  EXPECT_EQ(r.exitCode, 1u);
  EXPECT_TRUE(contains(r.output, "not present")) << r.output;

  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, tess::kStatusBlockSize,
                                      tess::kStatusBlockName);
  ASSERT_NE(mapping, nullptr);
  void* memory = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, tess::kStatusBlockSize);
  ASSERT_NE(memory, nullptr);
  tess::StatusBlockView block(memory);
  block.initialiseCreated();
  const tess::Identity id = {{1, 2, 3}};
  ASSERT_TRUE(block.claim(id));
  ASSERT_TRUE(block.publishInit(id, {100, 48000, 24, 0xE, 0x1FF}));
  ASSERT_TRUE(block.publishBuffers(id, {480, false, false, false, false}));
  ASSERT_TRUE(block.publishState(id, tess::kStateRunning));
  r = run("--wait-running 2000", "", 10000, ASIOSTATUS_EXE);
  EXPECT_EQ(r.exitCode, 0u) << r.output;
  EXPECT_TRUE(contains(r.output, "RUNNING  2 Channel, 24 bits, 48000 Hz, Buffer 10.0 ms  PCM")) << r.output;

  ASSERT_TRUE(block.publishInit(id, {100, 176400, 32, 0xE, 0x1FF}));
  ASSERT_TRUE(block.publishBuffers(id, {882, true, true, false, true}));  // native DSD128 at its 176400 Hz carrier
  ASSERT_TRUE(block.publishState(id, tess::kStateRunning));
  r = run("", "", 10000, ASIOSTATUS_EXE);
  EXPECT_TRUE(contains(r.output, "RUNNING  2 Channel, 32 bits, 176400 Hz, Buffer 5.0 ms  DSD128")) << r.output;
  ASSERT_TRUE(block.publishState(id, tess::kStatePrepared));
  r = run("", "", 10000, ASIOSTATUS_EXE);
  EXPECT_EQ(r.output, "PREPARED\r\n");
  UnmapViewOfFile(memory);
  CloseHandle(mapping);
}

}  // namespace
