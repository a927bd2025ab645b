// asiohost: an ASIO host for testing drivers. See --help.
#include <objbase.h>
#include <shellapi.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "CallGuard.h"
#include "DriverLoader.h"
#include "DriverRegistry.h"
#include "Options.h"
#include "Runner.h"

using namespace asiohost;

namespace {

int listDrivers(const std::vector<InstalledDriver>& drivers) {
  if (drivers.empty()) {
    std::printf("No ASIO driver is installed (HKLM\\Software\\ASIO is empty in both registry views).\n");
    return 0;
  }
  std::printf("%zu ASIO driver(s) installed:\n", drivers.size());
  for (const InstalledDriver& d : drivers) {
    std::printf("  %s\n", d.name.c_str());
    std::printf("    CLSID   %s\n", d.clsidText.empty() ? "(none)" : d.clsidText.c_str());
    std::printf("    Driver  %s\n", d.path.empty() ? "(none)" : d.path.c_str());
    if (!d.description.empty()) std::printf("    Description  %s\n", d.description.c_str());
    std::printf("    Views   %s%s%s\n", d.in64 ? "64-bit" : "", d.in64 && d.in32 ? ", " : "", d.in32 ? "32-bit" : "");
    if (!d.problem.empty()) std::printf("    Problem %s\n", d.problem.c_str());
  }
  return 0;
}

// A hidden window for init's system handle (drivers may own dialogs by it).
struct HiddenWindow {
  HWND hwnd =
      CreateWindowExW(0, L"STATIC", L"asiohost", 0, 0, 0, 0, 0, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  ~HiddenWindow() {
    if (hwnd) DestroyWindow(hwnd);
  }
};

struct ComApartment {
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  ~ComApartment() {
    if (SUCCEEDED(hr)) CoUninitialize();
  }
};

std::vector<std::string> utf8Arguments() {
  std::vector<std::string> args;
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv) return args;
  for (int i = 1; i < argc; ++i) args.push_back(wideToUtf8(argv[i]));
  LocalFree(argv);
  return args;
}

}  // namespace

int main() {
  const ParseResult parsed = parseOptions(utf8Arguments());
  if (parsed.help) {
    std::fputs(helpText(), stdout);
    return 0;
  }
  if (!parsed.error.empty()) {
    std::fprintf(stderr, "asiohost: %s\nTry 'asiohost --help'.\n", parsed.error.c_str());
    return 2;
  }
  Options o = parsed.options;
  // With the virtual DAC writing what it played, compare with that unless told otherwise.
  char playedByDevice[MAX_PATH];
  const DWORD n = GetEnvironmentVariableA("TESSALINE_VIRTUAL_DEVICE_WAV", playedByDevice, MAX_PATH);
  if (o.playedFile.empty() && o.command != Command::List && n > 0 && n < MAX_PATH) o.playedFile = playedByDevice;
  ComApartment com;
  if (FAILED(com.hr)) {
    std::fprintf(stderr, "asiohost: COM cannot be initialised: %s\n", hresultText(com.hr).c_str());
    return 3;
  }
  std::string error;
  const std::vector<InstalledDriver> drivers = listInstalledDrivers(error);
  if (!error.empty()) {
    std::fprintf(stderr, "asiohost: %s\n", error.c_str());
    return 3;
  }
  if (o.command == Command::List) return listDrivers(drivers);

  const InstalledDriver* chosen = nullptr;
  if (!o.driver.empty()) {
    chosen = findDriver(drivers, o.driver);
  } else if (drivers.size() == 1) {
    chosen = &drivers.front();
  } else {
    std::fprintf(stderr, "asiohost: %s; choose one with --driver NAME\n",
                 drivers.empty() ? "no ASIO driver is installed" : "several ASIO drivers are installed");
    return drivers.empty() ? 3 : 2;
  }
  if (!chosen) {
    std::string names;
    for (const InstalledDriver& d : drivers) names += (names.empty() ? "" : ", ") + ("\"" + d.name + "\"");
    std::fprintf(stderr, "asiohost: ASIO driver \"%s\" is not installed (installed: %s)\n", o.driver.c_str(),
                 names.empty() ? "none" : names.c_str());
    return 3;
  }

  // A driver call that never returns ends the program: its thread cannot be taken back.
  CallGuard guard(o.timeoutMs, [](const char* call, int ms) {
    std::fflush(stdout);
    std::fprintf(stderr, "\nasiohost: the driver's %s did not return within %d ms; giving up\n", call, ms);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
  });
  if (!guard.ok()) {
    std::fprintf(stderr, "asiohost: cannot start the watchdog thread\n");
    return 3;
  }
  if (o.cycles > 0) {
    HiddenWindow window;
    const int status = runCycles(*chosen, o, window.hwnd, guard, stdout);
    std::fflush(stdout);
    return status;
  }
  DriverRef driver = guard.call("CoCreateInstance", [&] { return createDriver(*chosen, error); });
  if (!driver) {
    std::fprintf(stderr, "asiohost: %s\n", error.c_str());
    return 3;
  }
  HiddenWindow window;
  const int status = runOnDriver(std::move(driver), o, window.hwnd, guard, stdout);
  std::fflush(stdout);
  return status;
}
