// The driver DLLs (both variants) under Wine: exports, class factory, unload rules, the
// creation path without a device, the status block it leaves behind, and registration by
// regsvr32 in the real registry.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>

#include <cstring>
#include <set>
#include <string>

#include "RegKey.h"
#include "Settings.h"
#include "TessConstants.h"

using namespace tess;

namespace {

constexpr char kDllName[] = "TessalineUsbAudioDevice2ASIO.dll";
constexpr const char* kVariantDlls[] = {"TessalineUsbAudioDevice2ASIO.dll", "TessalineUsbAudioDevice2ASIOW.dll"};
// Arbitrary: the factory accepts any class identifier.
const CLSID kSomeClsid = {0x0badc0de, 0x1234, 0x5678, {0x9a, 0xbc, 0xde, 0xf0, 0x11, 0x22, 0x33, 0x44}};
const Identity kForeign = {{7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7}};

std::string besideThisProgram(const char* file) {
  char self[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return file;
  std::string path(self, n);
  return path.substr(0, path.find_last_of("\\/") + 1) + file;
}

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using NoArgFn = HRESULT(STDAPICALLTYPE*)();

// GetProcAddress hands back a generic function pointer; go through void* to retype it.
template <typename Fn>
Fn procAddress(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

struct DriverDll {
  HMODULE module = nullptr;
  GetClassObjectFn getClassObject = nullptr;
  NoArgFn canUnloadNow = nullptr;
  explicit DriverDll(const char* name) {
    module = LoadLibraryA(besideThisProgram(name).c_str());
    if (!module) return;
    getClassObject = procAddress<GetClassObjectFn>(module, "DllGetClassObject");
    canUnloadNow = procAddress<NoArgFn>(module, "DllCanUnloadNow");
  }
  ~DriverDll() {
    if (module) FreeLibrary(module);
  }
  IClassFactory* factory(REFCLSID clsid = kSomeClsid) {
    IClassFactory* f = nullptr;
    return getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&f)) == S_OK ? f : nullptr;
  }
};

class Driver : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    ASSERT_NE(dll.module, nullptr) << "cannot load " << besideThisProgram(GetParam());
    ASSERT_NE(dll.getClassObject, nullptr);
    ASSERT_NE(dll.canUnloadNow, nullptr);
  }
  DriverDll dll{GetParam()};
};

void deleteSettingsKey() {
  RegKey asio;
  if (asio.open(HKEY_CURRENT_USER, kAsioKeyPath, KEY_ALL_ACCESS) == ERROR_SUCCESS) RegDeleteKeyA(asio.get(), kDriverName);
}

}  // namespace

TEST_P(Driver, ExportsTheFiveEntryPointsUndecorated) {
  for (const char* name : {"DllMain", "DllGetClassObject", "DllCanUnloadNow", "DllRegisterServer", "DllUnregisterServer"})
    EXPECT_NE(GetProcAddress(dll.module, name), nullptr) << name;
}

TEST_P(Driver, FactoryAnswersAnyClassAndOnlyItsInterfaces) {
  EXPECT_EQ(dll.canUnloadNow(), S_OK);
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(dll.getClassObject(kSomeClsid, IID_IPersist, &out), E_FAIL);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(dll.canUnloadNow(), S_OK);  // the refused factory is gone again

  IClassFactory* f = dll.factory();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(dll.canUnloadNow(), S_FALSE);
  IUnknown* unk = nullptr;
  EXPECT_EQ(f->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unk)), S_OK);
  ASSERT_NE(unk, nullptr);
  EXPECT_EQ(unk->Release(), 1u);
  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(f->QueryInterface(IID_IMarshal, &out), E_FAIL);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(f->Release(), 0u);
  EXPECT_EQ(dll.canUnloadNow(), S_OK);
}

TEST_P(Driver, LockServerHoldsTheModule) {
  IClassFactory* f = dll.factory();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->LockServer(TRUE), S_OK);
  EXPECT_EQ(f->LockServer(TRUE), S_OK);
  f->Release();
  EXPECT_EQ(dll.canUnloadNow(), S_FALSE);
  IClassFactory* g = dll.factory();
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->LockServer(FALSE), S_OK);
  g->Release();
  EXPECT_EQ(dll.canUnloadNow(), S_FALSE);
  g = dll.factory();
  EXPECT_EQ(g->LockServer(FALSE), S_OK);
  g->Release();
  EXPECT_EQ(dll.canUnloadNow(), S_OK);
}

TEST_P(Driver, CreationWithoutADeviceFailsAndLeavesNothingClaimed) {
  deleteSettingsKey();
  IClassFactory* f = dll.factory();
  ASSERT_NE(f, nullptr);
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(f->CreateInstance(nullptr, kSomeClsid, &out), E_FAIL);
  EXPECT_EQ(out, nullptr);
  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(f->CreateInstance(reinterpret_cast<IUnknown*>(f), IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(out, nullptr);
  f->Release();
  EXPECT_EQ(dll.canUnloadNow(), S_OK);  // no driver object survived

  // The module keeps the block it created; it is free and shows UNLOAD.
  CStatusBlockMapping block;
  ASSERT_TRUE(block.attach(BlockSide::ControlPanel));
  EXPECT_FALSE(block.created());
  StatusBlockView v = block.view();
  ASSERT_TRUE(v.valid());
  EXPECT_TRUE(v.free());
  EXPECT_EQ(v.state(), uint32_t(kStateUnload));
  EXPECT_EQ(v.field(28), 1u);  // changed: the claim and the release were announced
  EXPECT_EQ(v.field(8), 1u);   // the creator's defaults, without a settings key
  EXPECT_EQ(v.field(36), 10u);
  EXPECT_EQ(v.field(40), 32u);
  EXPECT_EQ(v.field(56), 2u);
  EXPECT_EQ(v.field(60), 2u);
}

TEST_P(Driver, CreationLoadsTheSettingsIntoTheBlockItCreates) {
  deleteSettingsKey();
  {
    RegKey asio, key;
    ASSERT_EQ(asio.create(HKEY_CURRENT_USER, kAsioKeyPath, KEY_ALL_ACCESS), ERROR_SUCCESS);
    ASSERT_EQ(key.create(asio.get(), kDriverName, KEY_ALL_ACCESS), ERROR_SUCCESS);
    ASSERT_TRUE(key.writeDword("BufferSize", 50));
    ASSERT_TRUE(key.writeDword("BitsPerSample", 24));
    ASSERT_TRUE(key.writeDword("SupportSampleRate", 0x1FF));
    ASSERT_EQ(RegSetValueExA(key.get(), "SupporBitsPerSample", 0, REG_SZ, reinterpret_cast<const BYTE*>("14"), 3),
              ERROR_SUCCESS);  // wrong type: its default
  }
  IClassFactory* f = dll.factory();
  ASSERT_NE(f, nullptr);
  void* out = nullptr;
  EXPECT_EQ(f->CreateInstance(nullptr, kSomeClsid, &out), E_FAIL);
  f->Release();
  CStatusBlockMapping block;
  ASSERT_TRUE(block.attach(BlockSide::ControlPanel));
  EXPECT_FALSE(block.created());
  StatusBlockView v = block.view();
  EXPECT_EQ(v.field(36), 50u);
  EXPECT_EQ(v.field(40), 24u);
  EXPECT_EQ(v.field(56), 0x1FFu);
  EXPECT_EQ(v.field(60), 2u);
  deleteSettingsKey();
}

TEST_P(Driver, ABlockOwnedByAnotherInstanceIsLeftAlone) {
  CStatusBlockMapping block;
  ASSERT_TRUE(block.attach(BlockSide::ControlPanel));
  StatusBlockView v = block.view();
  ASSERT_TRUE(v.claim(kForeign));
  ASSERT_TRUE(v.publishState(kForeign, kStateRunning));
  ASSERT_TRUE(v.publishDeviceName(kForeign, "held elsewhere"));
  v.takeChanged();
  IClassFactory* f = dll.factory();
  ASSERT_NE(f, nullptr);
  void* out = nullptr;
  EXPECT_EQ(f->CreateInstance(nullptr, kSomeClsid, &out), E_FAIL);
  f->Release();
  EXPECT_TRUE(v.ownedBy(kForeign));
  EXPECT_EQ(v.state(), uint32_t(kStateRunning));
  EXPECT_FALSE(v.takeChanged());
  char name[32];
  v.deviceName(name, sizeof name);
  EXPECT_STREQ(name, "held elsewhere");
  v.release(kForeign);
}

TEST_P(Driver, ABlockWithoutMagicIsNeverTouched) {
  // Someone else's mapping under our name, without the magic.
  HANDLE foreign =
      CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kStatusBlockSize, kStatusBlockName);
  ASSERT_NE(foreign, nullptr);
  ASSERT_NE(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
  auto* bytes = static_cast<uint8_t*>(MapViewOfFile(foreign, FILE_MAP_ALL_ACCESS, 0, 0, kStatusBlockSize));
  ASSERT_NE(bytes, nullptr);
  std::memset(bytes, 0x5A, kStatusBlockSize);
  IClassFactory* f = dll.factory();
  ASSERT_NE(f, nullptr);
  void* out = nullptr;
  EXPECT_EQ(f->CreateInstance(nullptr, kSomeClsid, &out), E_FAIL);
  f->Release();
  for (uint32_t i = 0; i < kStatusBlockSize; ++i) ASSERT_EQ(bytes[i], 0x5A) << i;
  UnmapViewOfFile(bytes);
  CloseHandle(foreign);
}

// --- Registration through the system's registration tool ---------------------------

namespace {

DWORD runRegsvr32(const char* flags) {
  std::string cmd = std::string("regsvr32.exe ") + flags + " \"" + besideThisProgram(kDllName) + "\"";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 0xFFFFFFFF;
  DWORD code = 0xFFFFFFFE;
  if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return code;
}

bool keyExists(HKEY root, const std::string& path) {
  RegKey k;
  return k.open(root, path.c_str(), KEY_READ) == ERROR_SUCCESS;
}

std::string readSz(HKEY root, const std::string& path, const char* value, DWORD* typeOut = nullptr) {
  RegKey k;
  if (k.open(root, path.c_str(), KEY_READ) != ERROR_SUCCESS) return "<no key>";
  char buf[MAX_PATH + 1] = {};
  DWORD type = 0, size = MAX_PATH;
  if (RegQueryValueExA(k.get(), value, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) != ERROR_SUCCESS)
    return "<no value>";
  if (typeOut) *typeOut = type;
  return buf;
}

void countsOf(HKEY root, const std::string& path, DWORD& subkeys, DWORD& values) {
  RegKey k;
  subkeys = values = 0xFFFF;
  if (k.open(root, path.c_str(), KEY_READ) != ERROR_SUCCESS) return;
  RegQueryInfoKeyA(k.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                   nullptr);
}

std::set<std::string> subkeysOf(HKEY root, const char* path) {
  std::set<std::string> names;
  RegKey k;
  if (k.open(root, path, KEY_READ) != ERROR_SUCCESS) return names;
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD len = sizeof name;
    if (RegEnumKeyExA(k.get(), i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.insert(name);
  }
  return names;
}

const std::string kAsioDriverKey = std::string(kAsioKeyPath) + "\\" + kDriverName;

// The registered class identifier, checked to be stored as UTF-16 REG_SZ.
std::string registeredClsid() {
  RegKey k;
  if (k.open(HKEY_LOCAL_MACHINE, kAsioDriverKey.c_str(), KEY_READ) != ERROR_SUCCESS) return "";
  wchar_t text[64] = {};
  DWORD type = 0, size = sizeof text - sizeof(wchar_t);
  if (RegQueryValueExW(k.get(), L"CLSID", nullptr, &type, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS ||
      type != REG_SZ || size != 39 * sizeof(wchar_t))
    return "";
  char narrow[64];
  WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
  return narrow;
}

void expectLayout(const std::string& clsid) {
  const std::string dll = besideThisProgram(kDllName);
  DWORD subkeys, values, type = 0;
  countsOf(HKEY_LOCAL_MACHINE, kAsioDriverKey, subkeys, values);
  EXPECT_EQ(subkeys, 0u);
  EXPECT_EQ(values, 3u);  // "CLSID", "Driver" and "Description"
  // Hosts show the driver by this name and some treat it as required.
  EXPECT_EQ(readSz(HKEY_LOCAL_MACHINE, kAsioDriverKey, "Description", &type), kDriverName);
  EXPECT_EQ(type, DWORD(REG_SZ));
  EXPECT_EQ(lstrcmpiA(readSz(HKEY_LOCAL_MACHINE, kAsioDriverKey, "Driver", &type).c_str(), dll.c_str()), 0)
      << readSz(HKEY_LOCAL_MACHINE, kAsioDriverKey, "Driver");
  EXPECT_EQ(type, DWORD(REG_SZ));

  const std::string classKey = "CLSID\\" + clsid;
  countsOf(HKEY_CLASSES_ROOT, classKey, subkeys, values);
  EXPECT_EQ(subkeys, 1u);
  EXPECT_EQ(values, 1u);
  EXPECT_EQ(readSz(HKEY_CLASSES_ROOT, classKey, "FriendlyName"), kDriverName);
  const std::string inproc = classKey + "\\InprocServer32";
  countsOf(HKEY_CLASSES_ROOT, inproc, subkeys, values);
  EXPECT_EQ(subkeys, 0u);
  EXPECT_EQ(values, 2u);
  EXPECT_EQ(lstrcmpiA(readSz(HKEY_CLASSES_ROOT, inproc, nullptr).c_str(), dll.c_str()), 0);
  EXPECT_EQ(readSz(HKEY_CLASSES_ROOT, inproc, "ThreadingModel"), "Apartment");
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Variants, Driver, ::testing::ValuesIn(kVariantDlls),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param).find("ASIOW") != std::string::npos ? "CoreAudio"
                                                                                               : "KernelStreaming";
                         });

TEST(Registration, RegisterTwiceThenUnregister) {
  ASSERT_EQ(runRegsvr32("/s /u"), 0u);  // start from nothing
  ASSERT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kAsioDriverKey));

  ASSERT_EQ(runRegsvr32("/s"), 0u);
  const std::string first = registeredClsid();
  ASSERT_EQ(first.size(), 38u) << first;
  expectLayout(first);

  // The standard COM path reaches the factory, which finds no device.
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  CLSID clsid;
  wchar_t wide[64];
  MultiByteToWideChar(CP_ACP, 0, first.c_str(), -1, wide, 64);
  ASSERT_EQ(CLSIDFromString(wide, &clsid), S_OK);
  void* driver = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid, &driver), E_FAIL);
  EXPECT_EQ(driver, nullptr);
  CoUninitialize();

  ASSERT_EQ(runRegsvr32("/s"), 0u);
  const std::string second = registeredClsid();
  ASSERT_EQ(second.size(), 38u);
  EXPECT_NE(first, second);
  expectLayout(second);
  EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, "CLSID\\" + first));  // left behind, as registration always did

  {  // settings exist, so we can see unregistration remove them
    RegKey asio, key;
    ASSERT_EQ(asio.create(HKEY_CURRENT_USER, kAsioKeyPath, KEY_ALL_ACCESS), ERROR_SUCCESS);
    ASSERT_EQ(key.create(asio.get(), kDriverName, KEY_ALL_ACCESS), ERROR_SUCCESS);
    ASSERT_TRUE(key.writeDword("SampleRate", 48000));
  }
  ASSERT_EQ(runRegsvr32("/s /u"), 0u);
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kAsioDriverKey));
  EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, "CLSID\\" + second));
  EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, "CLSID\\" + first));
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, kAsioDriverKey));

  // Tidy the older class key by hand.
  RegDeleteKeyA(HKEY_CLASSES_ROOT, ("CLSID\\" + first + "\\InprocServer32").c_str());
  RegDeleteKeyA(HKEY_CLASSES_ROOT, ("CLSID\\" + first).c_str());
}

TEST(Registration, UnregisterWithNothingRegisteredSucceedsAndChangesNothing) {
  ASSERT_EQ(runRegsvr32("/s /u"), 0u);
  const auto machineBefore = subkeysOf(HKEY_LOCAL_MACHINE, kAsioKeyPath);
  const auto userBefore = subkeysOf(HKEY_CURRENT_USER, kAsioKeyPath);
  const auto classesBefore = subkeysOf(HKEY_CLASSES_ROOT, "CLSID");
  EXPECT_EQ(runRegsvr32("/s /u"), 0u);
  EXPECT_EQ(subkeysOf(HKEY_LOCAL_MACHINE, kAsioKeyPath), machineBefore);
  EXPECT_EQ(subkeysOf(HKEY_CURRENT_USER, kAsioKeyPath), userBefore);
  EXPECT_EQ(subkeysOf(HKEY_CLASSES_ROOT, "CLSID"), classesBefore);
}

TEST(Registration, AForeignClsidValueIsNotFollowed) {
  // A damaged "CLSID" value (not a GUID, not terminated) removes only our own keys.
  {
    RegKey asio, key;
    ASSERT_EQ(asio.create(HKEY_LOCAL_MACHINE, kAsioKeyPath, KEY_ALL_ACCESS), ERROR_SUCCESS);
    ASSERT_EQ(key.create(asio.get(), kDriverName, KEY_ALL_ACCESS), ERROR_SUCCESS);
    std::wstring junk(300, L'{');
    ASSERT_EQ(RegSetValueExW(key.get(), L"CLSID", 0, REG_SZ, reinterpret_cast<const BYTE*>(junk.data()),
                             DWORD(junk.size() * sizeof(wchar_t))),
              ERROR_SUCCESS);
  }
  const auto classesBefore = subkeysOf(HKEY_CLASSES_ROOT, "CLSID");
  EXPECT_EQ(runRegsvr32("/s /u"), 0u);
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kAsioDriverKey));
  EXPECT_EQ(subkeysOf(HKEY_CLASSES_ROOT, "CLSID"), classesBefore);
}
