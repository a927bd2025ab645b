// The virtual DAC selected inside a module that its host unloads: the device thread keeps
// the module's code mapped, so the process goes on unharmed.
#include <gtest/gtest.h>

#include <windows.h>

TEST(VirtualDacModule, HostMayUnloadTheModuleThatHoldsTheDevice) {
  HMODULE module = LoadLibraryA("vdac_dll_test_module.dll");
  ASSERT_NE(module, nullptr) << GetLastError();
  using Start = int (*)();
  auto start = reinterpret_cast<Start>(reinterpret_cast<void*>(GetProcAddress(module, "startStreamThroughEnvironment")));
  ASSERT_NE(start, nullptr);
  EXPECT_EQ(start(), 0);
  EXPECT_TRUE(FreeLibrary(module));
  // The device completes the queued packet and waits on: its code must still be there.
  Sleep(200);
  EXPECT_NE(GetModuleHandleA("vdac_dll_test_module.dll"), nullptr);
}
