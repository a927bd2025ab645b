// Helpers of the control panel's Wine tests: message pumping, the registry keys the panel
// reads and writes, the status block seen from the driver's side, windows of another
// process, and screenshots.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace paneltest {

// Pumps this thread's messages (through the framework's pre-translation) for a while.
void pump(int milliseconds);
// Pumps until the condition holds or the time is up; the result is the condition's last value.
bool pumpUntil(const std::function<bool()>& condition, int timeoutMs);
// Waits (without pumping) until the condition holds or the time is up.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs);

// HKCU "Software\ASIO\Tessaline USB 2" and the HKLM package key.
void deleteAsioSettings();
bool readAsioSetting(const char* value, DWORD* data);
void writeAsioSetting(const char* value, DWORD data);
void deletePackageKey();
void writePageSwitch(const char* value, DWORD data);

std::string besideProgram(const char* file);

// The child of a window whose client rectangle (in the parent) starts at (x, y).
HWND childAt(HWND parent, int x, int y);
std::string windowText(HWND window);

// Writes the screen area of a window (plus a margin) as a PNG.
bool screenshot(HWND window, const std::string& path);

}  // namespace paneltest
