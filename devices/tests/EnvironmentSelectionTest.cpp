// TESSALINE_VIRTUAL_DEVICE=1 makes the first use of the seam load the virtual DAC from
// the DLL beside this program (it is not linked in); the system's table fills every entry.
#include <gtest/gtest.h>

#include <windows.h>
#include <ks.h>
#include <ksmedia.h>

#include <string>

#include "DeviceSeam.h"
#include "SeamIo.h"
#include "VirtualDacModule.h"

namespace {

std::wstring folderOf(HMODULE module) {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::wstring();
  std::wstring folder(path, n);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

}  // namespace

TEST(DeviceSelection, EnvironmentVariableSelectsTheVirtualDacBesideTheProgram) {
  ASSERT_EQ(GetModuleHandleW(tess::kVirtualDacDllName), nullptr);
  ASSERT_TRUE(SetEnvironmentVariableA("TESSALINE_VIRTUAL_DEVICE", "1"));
  ASSERT_TRUE(SetEnvironmentVariableA("TESSALINE_VIRTUAL_DEVICE_RENDER_ONLY", "1"));
  const tess::DeviceSeam& seam = tess::devices();
  EXPECT_NE(seam.getClassDevs, tess::systemDevices().getClassDevs);
  HMODULE dll = GetModuleHandleW(tess::kVirtualDacDllName);
  ASSERT_NE(dll, nullptr);
  EXPECT_EQ(folderOf(dll), folderOf(nullptr));

  // The device, shaped by the environment, through the seam.
  HDEVINFO set = seam.getClassDevs(&KSCATEGORY_AUDIO, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  SP_DEVICE_INTERFACE_DATA iface = seamio::sized<SP_DEVICE_INTERFACE_DATA>();
  EXPECT_TRUE(seam.enumDeviceInterfaces(set, nullptr, &KSCATEGORY_AUDIO, 0, &iface));
  SP_DEVICE_INTERFACE_DATA alias = seamio::sized<SP_DEVICE_INTERFACE_DATA>();
  EXPECT_FALSE(seam.getDeviceInterfaceAlias(set, &iface, &KSCATEGORY_CAPTURE, &alias));  // render-only
  EXPECT_TRUE(seam.destroyDeviceInfoList(set));
  HANDLE filter = seamio::openFilter(seamio::dacFilterPath());
  EXPECT_NE(filter, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(seam.closeHandle(filter));

  // Later uses keep the choice; a test can go back to the system's table.
  EXPECT_EQ(&tess::devices(), &seam);
  tess::installDevices(nullptr);
  EXPECT_EQ(&tess::devices(), &tess::systemDevices());
  SetEnvironmentVariableA("TESSALINE_VIRTUAL_DEVICE", nullptr);
  SetEnvironmentVariableA("TESSALINE_VIRTUAL_DEVICE_RENDER_ONLY", nullptr);
}

// Wine's ksuser.dll only has a stub of KsCreatePin (calling it aborts the process), so
// the system's entry is checked for presence, not called.
TEST(DeviceSelection, SystemTableIsComplete) {
  const tess::DeviceSeam& seam = tess::systemDevices();
  const void* const* entry = reinterpret_cast<const void* const*>(&seam);
  for (size_t i = 0; i < sizeof seam / sizeof(void*); ++i) EXPECT_NE(entry[i], nullptr) << i;
}

// A reader may still hold the table in use while others are installed: no later
// installation writes over it.
TEST(DeviceSelection, AnInstalledTableIsNeverOverwritten) {
  auto withClassDevs = [](HDEVINFO(WINAPI * fn)(const GUID*, PCSTR, HWND, DWORD)) {
    tess::DeviceSeam table = tess::systemDevices();
    table.getClassDevs = fn;
    return table;
  };
  const tess::DeviceSeam a = withClassDevs([](const GUID*, PCSTR, HWND, DWORD) -> HDEVINFO { return nullptr; });
  const tess::DeviceSeam b = withClassDevs([](const GUID*, PCSTR, HWND, DWORD) -> HDEVINFO { return INVALID_HANDLE_VALUE; });
  const tess::DeviceSeam c = withClassDevs([](const GUID*, PCSTR, HWND, DWORD) -> HDEVINFO {
    SetLastError(ERROR_INVALID_DATA);
    return INVALID_HANDLE_VALUE;
  });
  tess::installDevices(&a);
  const tess::DeviceSeam& held = tess::devices();
  tess::installDevices(&b);
  tess::installDevices(&c);
  tess::installDevices(&b);
  EXPECT_EQ(held.getClassDevs, a.getClassDevs);
  EXPECT_EQ(tess::devices().getClassDevs, b.getClassDevs);
  // Installing an equal table again reuses the kept one.
  tess::installDevices(&a);
  EXPECT_EQ(&tess::devices(), &held);
  tess::installDevices(nullptr);
}
