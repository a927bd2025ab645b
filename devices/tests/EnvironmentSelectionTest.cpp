// TESSALINE_VIRTUAL_DEVICE=1 makes the first use of the seam select the virtual DAC; the
// system's table fills every entry.
#include <gtest/gtest.h>

#include <windows.h>
#include <ks.h>
#include <ksmedia.h>

#include "DeviceSeam.h"
#include "VirtualDac.h"
#include "SeamIo.h"

TEST(DeviceSelection, EnvironmentVariableSelectsTheVirtualDac) {
  ASSERT_TRUE(SetEnvironmentVariableA("TESSALINE_VIRTUAL_DEVICE", "1"));
  ASSERT_TRUE(SetEnvironmentVariableA("TESSALINE_VIRTUAL_DEVICE_RENDER_ONLY", "1"));
  ASSERT_TRUE(SetEnvironmentVariableA("TESSALINE_VIRTUAL_DEVICE_WAV", "C:\\played.wav"));
  EXPECT_EQ(tess::vdac::configFromEnvironment().wavPath, "C:\\played.wav");
  EXPECT_EQ(tess::vdac::configFromEnvironment().friendlyName, "Virtual Tessaline USB 2.0");
  const tess::DeviceSeam& seam = tess::devices();
  EXPECT_EQ(seam.getClassDevs, tess::vdac::seam().getClassDevs);
  EXPECT_TRUE(tess::vdac::isInstalled());
  HDEVINFO set = seam.getClassDevs(&KSCATEGORY_AUDIO, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  SP_DEVICE_INTERFACE_DATA iface = seamio::sized<SP_DEVICE_INTERFACE_DATA>();
  EXPECT_TRUE(seam.enumDeviceInterfaces(set, nullptr, &KSCATEGORY_AUDIO, 0, &iface));
  SP_DEVICE_INTERFACE_DATA alias = seamio::sized<SP_DEVICE_INTERFACE_DATA>();
  EXPECT_FALSE(seam.getDeviceInterfaceAlias(set, &iface, &KSCATEGORY_CAPTURE, &alias));  // render-only
  EXPECT_TRUE(seam.destroyDeviceInfoList(set));

  // Later uses keep the choice; a test can go back to the system's table.
  EXPECT_EQ(&tess::devices(), &seam);
  tess::installDevices(nullptr);
  EXPECT_EQ(&tess::devices(), &tess::systemDevices());
  tess::vdac::uninstall();
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
