#include "PanelTestSupport.h"

#include <vector>

#include "PngWriter.h"
#include "TessConstants.h"
#include "Wnd.h"

namespace paneltest {

void pump(int milliseconds) {
  pumpUntil([] { return false; }, milliseconds);
}

bool pumpUntil(const std::function<bool()>& condition, int timeoutMs) {
  const ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
  for (;;) {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (!CWnd::WalkPreTranslateTree(nullptr, &msg)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
      }
    }
    if (condition()) return true;
    if (::GetTickCount64() >= end) return condition();
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
  const ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
  while (!condition()) {
    if (::GetTickCount64() >= end) return false;
    ::Sleep(20);
  }
  return true;
}

namespace {
const std::string kSettingsKey = std::string(tess::kAsioKeyPath) + "\\" + tess::kDriverName;
}

void deleteAsioSettings() { ::RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey.c_str()); }

bool readAsioSetting(const char* value, DWORD* data) {
  DWORD size = sizeof *data, type = 0;
  return ::RegGetValueA(HKEY_CURRENT_USER, kSettingsKey.c_str(), value, RRF_RT_REG_DWORD, &type, data, &size) ==
         ERROR_SUCCESS;
}

void writeAsioSetting(const char* value, DWORD data) {
  ::RegSetKeyValueA(HKEY_CURRENT_USER, kSettingsKey.c_str(), value, REG_DWORD, &data, sizeof data);
}

void deletePackageKey() {
  ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, tess::kPackageKeyPath);
  ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wow6432Node\\Tessaline\\Tessaline USB 2");
}

void writePageSwitch(const char* value, DWORD data) {
  ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, tess::kPackageKeyPath, value, REG_DWORD, &data, sizeof data);
}

std::string besideProgram(const char* file) {
  char path[MAX_PATH] = {};
  const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir(path, n);
  return dir.substr(0, dir.find_last_of("\\/") + 1) + file;
}

namespace {
struct ChildSearch {
  HWND parent;
  POINT at;
  HWND found;
};
// A named callback: the system calls it with its own convention (stdcall on x86).
BOOL CALLBACK findChildAt(HWND child, LPARAM p) {
  auto* s = reinterpret_cast<ChildSearch*>(p);
  RECT r;
  ::GetWindowRect(child, &r);
  POINT topLeft{r.left, r.top};
  ::ScreenToClient(s->parent, &topLeft);
  if (topLeft.x == s->at.x && topLeft.y == s->at.y) {
    s->found = child;
    return FALSE;
  }
  return TRUE;
}
}  // namespace

HWND childAt(HWND parent, int x, int y) {
  ChildSearch search{parent, POINT{x, y}, nullptr};
  ::EnumChildWindows(parent, findChildAt, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::string windowText(HWND window) {
  char text[300] = {};
  ::GetWindowTextA(window, text, sizeof text);
  return text;
}

bool screenshot(HWND window, const std::string& path) {
  RECT r;
  if (!::GetWindowRect(window, &r)) return false;
  const int margin = 12;
  const int x = r.left - margin, y = r.top - margin;
  const int width = r.right - r.left + 2 * margin, height = r.bottom - r.top + 2 * margin;
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = ::SelectObject(memory, bitmap);
  const bool copied = ::BitBlt(memory, 0, 0, width, height, screen, x, y, SRCCOPY) != FALSE;
  ::SelectObject(memory, old);
  std::vector<uint32_t> pixels(static_cast<std::size_t>(width) * height);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  const int rows = copied ? ::GetDIBits(screen, bitmap, 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS) : 0;
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  if (rows != height) return false;
  std::vector<uint8_t> rgb;
  rgb.reserve(pixels.size() * 3);
  for (uint32_t p : pixels) rgb.insert(rgb.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
  return skintest::writePng(path, width, height, rgb);
}

}  // namespace paneltest
