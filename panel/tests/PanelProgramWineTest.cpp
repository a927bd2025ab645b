// The control panel program in its own process, with the virtual DAC, while the real driver
// streams in another process (asiohost). The panel runs as on a system of the legacy group
// (Wine reports Windows XP x64 to it), where it finds the device by its kernel-streaming
// filter alone; one more run as Windows 10 finds it among the virtual DAC's audio endpoints.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "Asio.h"
#include "PanelMessages.h"
#include "PanelTestSupport.h"
#include "Settings.h"
#include "TessConstants.h"

using namespace paneltest;

namespace {

const char kAppDefaults[] = "Software\\Wine\\AppDefaults\\TessalineUsbAudioDevice2ACPLUI.exe";

struct Process {
  PROCESS_INFORMATION pi{};
  bool started = false;
  ~Process() { close(); }
  void close() {
    if (pi.hProcess) ::CloseHandle(pi.hProcess);
    if (pi.hThread) ::CloseHandle(pi.hThread);
    pi = PROCESS_INFORMATION{};
  }
  bool wait(DWORD ms) { return pi.hProcess && ::WaitForSingleObject(pi.hProcess, ms) == WAIT_OBJECT_0; }
  DWORD exitCode() {
    DWORD code = 0xFFFFFFFF;
    if (pi.hProcess) ::GetExitCodeProcess(pi.hProcess, &code);
    return code;
  }
};

// Starts a program with the virtual DAC selected.
bool start(Process& p, const std::string& commandLine) {
  ::SetEnvironmentVariableA(tess::kVirtualDeviceEnv, "1");
  STARTUPINFOA si{};
  si.cb = sizeof si;
  std::string line = commandLine;
  p.started = ::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &p.pi) != FALSE;
  ::SetEnvironmentVariableA(tess::kVirtualDeviceEnv, nullptr);
  return p.started;
}

int run(const std::string& commandLine, DWORD timeoutMs) {
  Process p;
  if (!start(p, commandLine) || !p.wait(timeoutMs)) return -1;
  return static_cast<int>(p.exitCode());
}

std::string quoted(const std::string& s) { return "\"" + s + "\""; }

HWND panelWindow() { return ::FindWindowA(nullptr, tess::kPanelWindowTitle); }

// A label of the panel by its rectangle's corner and its text (the four mode labels share one).
struct LabelSearch {
  HWND panel;
  POINT at;
  const char* text;
  HWND found;
};
// A named callback: the system calls it with its own convention (stdcall on x86).
BOOL CALLBACK findLabel(HWND child, LPARAM p) {
  auto* s = reinterpret_cast<LabelSearch*>(p);
  RECT r;
  ::GetWindowRect(child, &r);
  POINT corner{r.left, r.top};
  ::ScreenToClient(s->panel, &corner);
  if (corner.x == s->at.x && corner.y == s->at.y && (!s->text || windowText(child) == s->text)) {
    s->found = child;
    return FALSE;
  }
  return TRUE;
}
HWND labelAt(HWND panel, int x, int y, const char* text) {
  LabelSearch s{panel, POINT{x, y}, text, nullptr};
  ::EnumChildWindows(panel, findLabel, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

void click(HWND button) {
  ::PostMessageA(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
  ::PostMessageA(button, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
}

uint32_t blockField(size_t offset) {
  HANDLE mapping = ::OpenFileMappingA(FILE_MAP_READ, FALSE, tess::kStatusBlockName);
  if (!mapping) return 0xFFFFFFFF;
  void* view = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, tess::kStatusBlockSize);
  const uint32_t value = view ? tess::StatusBlockView(view).field(offset) : 0xFFFFFFFF;
  if (view) ::UnmapViewOfFile(view);
  ::CloseHandle(mapping);
  return value;
}

// The registered driver, created through COM as a host creates it, with the virtual DAC.
IASIO* createDriver() {
  char text[64] = {};
  DWORD size = sizeof text;
  if (::RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\ASIO\\Tessaline USB 2", "CLSID", RRF_RT_REG_SZ, nullptr, text,
                     &size) != ERROR_SUCCESS)
    return nullptr;
  wchar_t wide[64] = {};
  ::MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 64);
  CLSID clsid{};
  if (FAILED(::CLSIDFromString(wide, &clsid))) return nullptr;
  ::SetEnvironmentVariableA(tess::kVirtualDeviceEnv, "1");  // read by the driver at its first device use
  void* object = nullptr;
  const HRESULT hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid, &object);
  ::SetEnvironmentVariableA(tess::kVirtualDeviceEnv, nullptr);
  return SUCCEEDED(hr) ? static_cast<IASIO*>(object) : nullptr;
}

class PanelProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    deleteAsioSettings();
    deletePackageKey();
    // Every page the setup can switch on: the panel builds those its device allows.
    writePageSwitch("PlayRecPP", 1);
    writePageSwitch("RmtCtrlPP", 1);
    // The driver takes its width and preferred buffer from the per-user settings at init.
    writeAsioSetting(tess::kValueBitsPerSample, 24);
    writeAsioSetting(tess::kValueBufferSize, 100);
    const char version[] = "winxp64";
    ::RegSetKeyValueA(HKEY_CURRENT_USER, kAppDefaults, "Version", REG_SZ, version, sizeof version);
    ASSERT_EQ(run("regsvr32 /s " + quoted(DRIVER_DLL), 60000), 0) << "driver registration";
    comReady_ = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  }
  bool comReady_ = false;
  void TearDown() override {
    if (comReady_) ::CoUninitialize();
    if (HWND panel = panelWindow()) ::PostMessageA(panel, WM_COMMAND, ID_TRAY_EXIT, 0);
    waitUntil([] { return panelWindow() == nullptr; }, 10000);
    run("regsvr32 /u /s " + quoted(DRIVER_DLL), 60000);
    ::RegDeleteTreeA(HKEY_CURRENT_USER, kAppDefaults);
    deleteAsioSettings();
    deletePackageKey();
  }
};

TEST_F(PanelProgram, FollowsTheDriverComesForwardAndKeepsTheUsersChoices) {
  Process panel;
  ASSERT_TRUE(start(panel, quoted(PANEL_EXE)));
  ASSERT_TRUE(waitUntil([] { return panelWindow() != nullptr; }, 30000)) << "the panel's window";
  HWND window = panelWindow();
  ::SetWindowPos(window, HWND_TOP, 40, 40, 0, 0, SWP_NOSIZE);
  HWND state = labelAt(window, 188, 406, nullptr);
  ASSERT_NE(state, nullptr);
  EXPECT_TRUE(waitUntil([&] { return windowText(state) == "UNLOAD"; }, 5000)) << windowText(state);
  EXPECT_TRUE(waitUntil([&] { return ::IsWindowVisible(state) != FALSE; }, 5000)) << "shown once the dialog is up";
  EXPECT_EQ(windowText(labelAt(window, 26, 406, nullptr)), "Not Available");
  EXPECT_EQ(blockField(36), 100u) << "the panel created the block from the settings";

  // PCM from a real driver in another process.
  Process host;
  ASSERT_TRUE(start(host, quoted(ASIOHOST_EXE) + " play -d \"Tessaline USB 2\" -r 48000 --buffer-ms 10 -t 8 -q"));
  EXPECT_TRUE(waitUntil([&] { return windowText(state) == "RUNNING"; }, 20000)) << windowText(state);
  HWND status = labelAt(window, 12, 523, nullptr);
  EXPECT_TRUE(waitUntil([&] { return ::IsWindowVisible(status) != FALSE; }, 3000));
  EXPECT_EQ(windowText(status), "2 Channel, 24 bits, 48000 Hz, Buffer 10.0 ms");
  EXPECT_EQ(windowText(labelAt(window, 26, 406, nullptr)), "USB Audio Device2");
  HWND pcm = labelAt(window, 12, 486, "PCM");
  EXPECT_TRUE(pcm && ::IsWindowVisible(pcm));
  ::SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  ::Sleep(500);
  EXPECT_TRUE(screenshot(window, besideProgram("panel_streaming_pcm.png")));
  EXPECT_TRUE(host.wait(60000));
  host.close();

  // Native DSD64.
  ASSERT_TRUE(start(host, quoted(ASIOHOST_EXE) + " play -d \"Tessaline USB 2\" -r 2822400 --buffer-ms 10 -t 8 -q"));
  HWND dsd64 = labelAt(window, 12, 486, "DSD64");
  ASSERT_NE(dsd64, nullptr);
  EXPECT_TRUE(waitUntil([&] { return ::IsWindowVisible(dsd64) != FALSE; }, 20000)) << "DSD64 indicator";
  EXPECT_FALSE(::IsWindowVisible(pcm));
  ::Sleep(500);
  EXPECT_TRUE(screenshot(window, besideProgram("panel_streaming_dsd64.png")));
  EXPECT_TRUE(host.wait(60000));
  ::SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);

  // Buffer and width clicks reach the block.
  click(labelAt(window, 236, 478, nullptr));  // "BTN_ASIO_BFSZ_20MS"
  click(labelAt(window, 236, 435, nullptr));  // "BTN_ASIO_32B"
  EXPECT_TRUE(waitUntil([] { return blockField(36) == 200; }, 5000)) << blockField(36);
  EXPECT_TRUE(waitUntil([] { return blockField(40) == 32; }, 5000)) << blockField(40);

  // Minimise goes to the tray; the driver's control-panel request brings it back.
  ::PostMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_TRUE(waitUntil([&] { return !::IsWindowVisible(window); }, 5000));
  {
    // The driver, loaded here as a host loads it, asks for its control panel.
    IASIO* driver = createDriver();
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->controlPanel(), ASE_OK);
    EXPECT_TRUE(waitUntil([&] { return ::IsWindowVisible(window) != FALSE; }, 5000)) << "within about a second";
    driver->Release();
  }

  // A second start brings the first forward and ends without a window.
  ::PostMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_TRUE(waitUntil([&] { return !::IsWindowVisible(window); }, 5000));
  Process second;
  ASSERT_TRUE(start(second, quoted(PANEL_EXE)));
  EXPECT_TRUE(second.wait(30000)) << "the second instance ends";
  EXPECT_TRUE(::IsWindowVisible(window));
  EXPECT_EQ(panelWindow(), window);

  // Exit from the tray: the orderly shutdown writes the ASIO settings.
  ::PostMessageA(window, WM_COMMAND, ID_TRAY_EXIT, 0);
  EXPECT_TRUE(panel.wait(15000)) << "the program ends";
  DWORD value = 0;
  EXPECT_TRUE(readAsioSetting(tess::kValueBufferSize, &value));
  EXPECT_EQ(value, 200u);
  EXPECT_TRUE(readAsioSetting(tess::kValueBitsPerSample, &value));
  EXPECT_EQ(value, 32u);
}

// On Windows 10 the panel finds the device among the audio endpoints (the virtual DAC's Core
// Audio face in the panel's process): playback, record, ASIO and remote-control pages together,
// while the driver streams PCM in another process.
TEST_F(PanelProgram, AllPagesOnWindows10WhileTheDriverStreams) {
  const char version[] = "win10";
  ::RegSetKeyValueA(HKEY_CURRENT_USER, kAppDefaults, "Version", REG_SZ, version, sizeof version);
  Process panel;
  ASSERT_TRUE(start(panel, quoted(PANEL_EXE)));
  ASSERT_TRUE(waitUntil([] { return panelWindow() != nullptr; }, 30000)) << "the panel's window";
  HWND window = panelWindow();
  ::SetWindowPos(window, HWND_TOP, 40, 40, 0, 0, SWP_NOSIZE);
  for (POINT at : {POINT{16, 155}, POINT{161, 155}, POINT{194, 589}}) {  // BTN_P_96K, BTN_R_96K, BTN_RMCT_START_SVR
    HWND button = labelAt(window, at.x, at.y, nullptr);
    EXPECT_TRUE(waitUntil([&] { return button && ::IsWindowVisible(button); }, 5000)) << at.x << "," << at.y;
  }
  Process host;
  ASSERT_TRUE(start(host, quoted(ASIOHOST_EXE) + " play -d \"Tessaline USB 2\" -r 48000 --buffer-ms 10 -t 6 -q"));
  HWND state = labelAt(window, 188, 406, nullptr);
  ASSERT_NE(state, nullptr);
  EXPECT_TRUE(waitUntil([&] { return windowText(state) == "RUNNING"; }, 20000)) << windowText(state);
  HWND pcm = labelAt(window, 12, 486, "PCM");
  EXPECT_TRUE(waitUntil([&] { return pcm && ::IsWindowVisible(pcm); }, 3000));
  ::SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  ::Sleep(500);
  const std::string png = besideProgram("panel_all_pages_pcm.png");
  EXPECT_TRUE(screenshot(window, png));
  std::printf("screenshot: %s\n", png.c_str());
  EXPECT_TRUE(host.wait(60000));
  ::PostMessageA(window, WM_COMMAND, ID_TRAY_EXIT, 0);
  EXPECT_TRUE(panel.wait(15000)) << "the program ends";
}

}  // namespace
