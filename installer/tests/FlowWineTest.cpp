// The real DrvPkgInst.exe under Wine: registry, files, RegSvr32.exe, CMD.exe and the
// certificate tool for real; the USB device tree, removal, re-enumeration and the restart
// through the virtual DAC. The prefix's Windows version is set per case to reach the
// system classes.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "WineCase.h"

using namespace coinst;

namespace {

constexpr char kAutorunName[] = "Tessaline USB 2 Control Panel";
constexpr char kOriginalDevicePath[] = "%SystemRoot%\\inf";
constexpr char kClassKey[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e96c-e325-11ce-bfc1-08002be10318}\\";

std::optional<DWORD> status(const char* key = kPackageKey) { return readDword(key, "CoInstallStatus"); }

// The file the ASIO driver's class is registered with, when "Tessaline USB 2" is registered.
std::optional<std::string> registeredAsioFile() {
  std::optional<std::string> clsid = readText("SOFTWARE\\ASIO\\Tessaline USB 2", "CLSID");
  if (!clsid) return std::nullopt;
  return readText(("SOFTWARE\\Classes\\CLSID\\" + *clsid + "\\InprocServer32").c_str(), nullptr);
}

class CoInstaller : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { makePackageFolder(); }
  static void TearDownTestSuite() { restoreWindowsVersion(); }

  void SetUp() override {
    restoreWindowsVersion();
    clearPackageKeys();
    deleteValue(kRunKey, kAutorunName);
    setText(kCurrentVersionKey, "DevicePath", kOriginalDevicePath, REG_EXPAND_SZ);
    // The policies key a Windows system has; the flow opens it, creating only below it.
    ensureKey("SOFTWARE\\Policies\\Microsoft\\Windows");
    deleteTree("SOFTWARE\\Policies\\Microsoft\\Windows\\DeviceInstall");
    removeInstalledInfs();
  }
};

}  // namespace

// Which values must be there, and where the status lands.
TEST_F(CoInstaller, MandatoryValuesFallbacksAndEarlyExits) {
  enum Where { Package, Wow32, Neither };
  struct Case {
    const char* what;
    std::function<void()> arrange;
    Where statusIn;
    bool autostart;
  } cases[] = {
      {"flags 0 run no step but complete", [] { writePackageKey(kPackageKey, 0x00); }, Package, false},
      {"only the low byte of the flags counts", [] { writePackageKey(kPackageKey, 0x100); }, Package, false},
      {"no InstallPath in either view", [] {
         writePackageKey(kPackageKey, 0);
         deleteValue(kPackageKey, "InstallPath");
       }, Neither, false},
      {"no CoInstallFlags", [] {
         writePackageKey(kPackageKey, 0);
         deleteValue(kPackageKey, "CoInstallFlags");
       }, Neither, false},
      {"CoInstallFlags of the wrong type", [] {
         writePackageKey(kPackageKey, 0);
         setText(kPackageKey, "CoInstallFlags", "8");
       }, Neither, false},
      {"everything in the 32-bit view only", [] { writePackageKey(kWow32Key, 0x08); }, Wow32, true},
      {"bit 3 clear: no AutoRunRegKeyName is fine", [] {
         writePackageKey(kPackageKey, 0);
         deleteValue(kPackageKey, "AutoRunRegKeyName");
       }, Package, false},
      {"bit 3 and AutoRunRegKeyName in neither view", [] {
         writePackageKey(kPackageKey, 0x08);
         deleteValue(kPackageKey, "AutoRunRegKeyName");
       }, Neither, false},
      {"bit 3 and AutoRunRegKeyName in the 32-bit view", [] {
         writePackageKey(kPackageKey, 0x08);
         deleteValue(kPackageKey, "AutoRunRegKeyName");
         setText(kWow32Key, "AutoRunRegKeyName", kAutorunName);
       }, Package, true},
      {"bit 4 alone makes AcplExecFileName mandatory", [] {
         writePackageKey(kPackageKey, 0x10);
         deleteValue(kPackageKey, "AcplExecFileName");
       }, Neither, false},
      {"bit 4 alone does nothing else", [] { writePackageKey(kPackageKey, 0x10); }, Package, false},
      {"bit 2 and no ASIO DLL name", [] {
         writePackageKey(kPackageKey, 0x04);
         deleteValue(kPackageKey, "AsioDllFileName");
       }, Neither, false},
      {"bit 2 clear and no ASIO DLL name", [] {
         writePackageKey(kPackageKey, 0x00);
         deleteValue(kPackageKey, "AsioDllFileName");
       }, Package, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    clearPackageKeys();
    deleteValue(kRunKey, kAutorunName);
    c.arrange();
    RunResult run = runInstaller({});
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(status(kPackageKey), c.statusIn == Package ? std::optional<DWORD>(80) : std::nullopt);
    EXPECT_EQ(status(kWow32Key), c.statusIn == Wow32 ? std::optional<DWORD>(80) : std::nullopt);
    std::optional<std::string> autostart = readText(kRunKey, kAutorunName);
    EXPECT_EQ(autostart.has_value(), c.autostart);
    if (autostart) {
      EXPECT_EQ(*autostart, std::string(kPackageFolder) + "TessalineUsbAudioDevice2ACPLUI.exe");
    }
  }
}

TEST_F(CoInstaller, CommandLineChoosesTheMode) {
  struct Case { const char* arguments; bool removal; } cases[] = {
      {"", false}, {"/U", true}, {"/u", true}, {"/UNINSTALL", true}, {"-u", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    clearPackageKeys();
    writePackageKey(kPackageKey, 0x08);
    setText(kRunKey, kAutorunName, "left by an earlier install");
    RunResult run = runInstaller(withArgs(c.arguments));
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(status(), std::optional<DWORD>(80));
    std::optional<std::string> autostart = readText(kRunKey, kAutorunName);
    if (c.removal) {
      EXPECT_FALSE(autostart.has_value());
    } else {
      EXPECT_EQ(autostart, std::string(kPackageFolder) + "TessalineUsbAudioDevice2ACPLUI.exe");
    }
  }
}

// Drivers and ASIO DLL by system class: the driver folder, the search path, the INFs
// pre-installed and the DLL name; then removal puts the search path back.
TEST_F(CoInstaller, SystemClassesChooseFolderSearchPathInfsAndDll) {
  struct Case {
    const char* what;
    const char* version;
    DWORD build;
    const char* driverFolder;
    bool addsToSearchPath;
    std::vector<std::string> installed;  // base names, sorted
    const char* dll;
  } cases[] = {
      {"XP (class 0)", "5.1", 2600, "DriverXP", true, {}, kAsioDll},
      {"7 (class 4)", "6.1", 7601, "Driver", true, {"TUad2iAP", "TessUAD2"}, kAsioDll},
      {"10 below 1703 (class 10, build 14393)", "10.0", 14393, "Driver", true, {"TUad2iAP", "TessUAD2"}, kAsioDll},
      {"10 at 1703 (class 10, build 15063)", "10.0", 15063, "Driver", false, {"TUad2iAP"}, kAsioWDll},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    removeInstalledInfs();
    deleteTree("SOFTWARE\\Policies\\Microsoft\\Windows\\DeviceInstall");
    setText(kCurrentVersionKey, "DevicePath", kOriginalDevicePath, REG_EXPAND_SZ);
    setWindowsVersion(c.version, c.build);
    clearPackageKeys();
    writePackageKey(kPackageKey, 0x02 | 0x04);

    RunResult run = runInstaller({});
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(status(), std::optional<DWORD>(80));
    const std::string folder = std::string("C:\\COINST\\PKG\\") + (c.driverFolder == std::string("DriverXP") ? "DRIVERXP" : "DRIVER");
    EXPECT_EQ(readText(kCurrentVersionKey, "DevicePath"),
              c.addsToSearchPath ? folder + ";" + kOriginalDevicePath : std::string(kOriginalDevicePath));
    EXPECT_EQ(readDword(kSigningKey, "AllSigningEqual"), std::optional<DWORD>(1));
    // Which packages were installed; their order is the INF table's (native test): two
    // copies made within one file-time tick cannot be told apart here.
    std::vector<std::string> installed = installedPackageInfs();
    std::sort(installed.begin(), installed.end());
    EXPECT_EQ(installed, c.installed);
    EXPECT_EQ(run.usbLog, std::vector<std::string>{"reenumerate root 0"});
    // The real driver registered under the DLL name for the class.
    ASSERT_TRUE(waitFor([] { return registeredAsioFile().has_value(); }));
    const std::string registered = *registeredAsioFile();
    EXPECT_NE(registered.find(c.dll), std::string::npos) << registered;

    // Installing again adds the folder once.
    run = runInstaller({});
    if (c.addsToSearchPath) {
      EXPECT_EQ(readText(kCurrentVersionKey, "DevicePath"), folder + ";" + kOriginalDevicePath);
    }

    run = runInstaller(withArgs("/U"));
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(readText(kCurrentVersionKey, "DevicePath"), std::string(kOriginalDevicePath));
    EXPECT_EQ(readDword(kSigningKey, "AllSigningEqual"), std::optional<DWORD>(0));
    EXPECT_TRUE(waitFor([] { return !registeredAsioFile().has_value(); }));
  }
}

TEST_F(CoInstaller, RemovalTakesTheMiddleEntryOutOfTheSearchPath) {
  setText(kCurrentVersionKey, "DevicePath", "A;C:\\COINST\\PKG\\DRIVER;B", REG_SZ);
  writePackageKey(kPackageKey, 0x02);
  runInstaller(withArgs("/U"));
  EXPECT_EQ(readText(kCurrentVersionKey, "DevicePath"), std::string("A;B"));
  // Clearing a signing policy that was never set creates nothing.
  EXPECT_FALSE(keyExists("SOFTWARE\\Policies\\Microsoft\\Windows\\DeviceInstall"));
  // A search path of another type is not edited.
  setDword(kCurrentVersionKey, "DevicePath", 7);
  runInstaller(withArgs(""));
  EXPECT_EQ(readDword(kCurrentVersionKey, "DevicePath"), std::optional<DWORD>(7));
  EXPECT_EQ(status(), std::optional<DWORD>(80));
}

// The device pass over the virtual USB tree: which devices are removed and which OEM INFs go.
TEST_F(CoInstaller, DevicePassRemovesMatchingDevicesAndOnlyOurOemInfs) {
  const std::string inf = windowsFolder() + "\\inf\\";
  writeFile(inf + "oem50.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Models]\r\n%D%=tessuad2,USB\\VID_1209\r\n");
  writeFile(inf + "oem51.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Other]\r\nSomeoneElse\r\n");
  std::string longLine(20000, 'x');
  writeFile(inf + "oem52.inf", longLine + "\r\n" + longLine + "TUAD2IAP" + longLine);
  struct Device { const char* instance; const char* hardwareId; const char* infPath; DWORD infType; } tree[] = {
      {"ours-mi01", "USB\\VID_1209&PID_0007&REV_0100&MI_01", "oem50.inf", REG_SZ},
      {"foreign-inf", "USB\\VID_1209&PID_0007&REV_0100&MI_06", "oem51.inf", REG_SZ},
      {"long-lines", "usb\\vid_1209&pid_0008&rev_0200&mi_06", "oem52.inf", REG_SZ},
      {"no-rev", "USB\\VID_1209&PID_0008&MI_01", "oem50.inf", REG_SZ},
      {"no-mi", "USB\\VID_1209&PID_0008&REV_0100", "oem50.inf", REG_SZ},
      {"other-device", "USB\\VID_046D&PID_0A44&REV_0100&MI_01", "oem50.inf", REG_SZ},
      {"no-infpath", "USB\\VID_1209&PID_0007&REV_0100&MI_01", nullptr, REG_SZ},
      {"infpath-dword", "USB\\VID_1209&PID_0007&REV_0100&MI_01", "", REG_DWORD},
      {"infpath-outside", "USB\\VID_1209&PID_0007&REV_0100&MI_01", "..\\win.ini", REG_SZ},
      {"infpath-missing-file", "USB\\VID_1209&PID_0007&REV_0100&MI_01", "oem99.inf", REG_SZ},
  };
  std::vector<std::string> lines;
  int n = 0;
  for (const Device& d : tree) {
    const std::string driverKey = "{4d36e96c-e325-11ce-bfc1-08002be10318}\\" + std::to_string(9000 + n++);
    const std::string classKey = std::string(kClassKey) + driverKey.substr(driverKey.find('\\') + 1);
    deleteTree(classKey.c_str());
    setText(classKey.c_str(), "DriverDesc", d.instance);
    if (d.infType == REG_DWORD) {
      setDword(classKey.c_str(), "InfPath", 50);
    } else if (d.infPath) {
      setText(classKey.c_str(), "InfPath", d.infPath);
    }
    lines.push_back(std::string(d.instance) + "|" + d.hardwareId + "|" + driverKey);
  }
  writePackageKey(kPackageKey, 0x02);
  RunResult run = runInstaller(withArgs("/U", lines));
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.usbLog, (std::vector<std::string>{"remove ours-mi01", "remove foreign-inf", "remove long-lines",
                                                   "reenumerate root 0"}));
  EXPECT_FALSE(fileExists(inf + "oem50.inf"));
  EXPECT_TRUE(fileExists(inf + "oem51.inf"));
  EXPECT_FALSE(fileExists(inf + "oem52.inf"));
  EXPECT_TRUE(fileExists(windowsFolder() + "\\win.ini"));
  EXPECT_EQ(status(), std::optional<DWORD>(80));
  DeleteFileA((inf + "oem51.inf").c_str());
}

TEST_F(CoInstaller, InstallTrustsTheCertificateInBothMachineStores) {
  std::ifstream in(COINST_CERT, std::ios::binary);
  std::vector<BYTE> der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(der.empty());
  PCCERT_CONTEXT cert = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
  ASSERT_NE(cert, nullptr);
  auto trustedIn = [cert](const char* storeName) {
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                                     CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_READONLY_FLAG, storeName);
    if (!store) return false;
    PCCERT_CONTEXT found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, cert, nullptr);
    if (found) CertFreeCertificateContext(found);
    CertCloseStore(store, 0);
    return found != nullptr;
  };
  // Untrusted again through the stores' registry keys, where both machine stores keep it.
  auto untrust = [cert](const char* storeName) {
    BYTE hash[20] = {};
    DWORD size = sizeof hash;
    if (!CertGetCertificateContextProperty(cert, CERT_HASH_PROP_ID, hash, &size)) return;
    char hex[41] = {};
    for (DWORD i = 0; i < size; ++i) std::snprintf(hex + 2 * i, 3, "%02X", hash[i]);
    deleteTree((std::string("SOFTWARE\\Microsoft\\SystemCertificates\\") + storeName + "\\Certificates\\" + hex).c_str());
  };
  untrust("Root");
  untrust("TrustedPublisher");
  ASSERT_FALSE(trustedIn("Root"));

  writePackageKey(kPackageKey, 0x01);
  RunResult run = runInstaller({});
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_TRUE(waitFor([&] { return trustedIn("Root") && trustedIn("TrustedPublisher"); }));
  EXPECT_TRUE(waitFor([] {
    return !fileExists(std::string(kPackageFolder) + "CertMgr.EXE") &&
           !fileExists(std::string(kPackageFolder) + "NewCert.cer");
  }));
  EXPECT_EQ(status(), std::optional<DWORD>(80));
  CertFreeCertificateContext(cert);
}

// Class 12 (Windows 2000) starts no tool: the certificate step ends the flow, and without
// it the flow goes on with every start skipped. Below 5 the classification fails.
TEST_F(CoInstaller, Class12StartsNothingAndOldSystemsStopAtOnce) {
  setWindowsVersion("5.0", 2195);
  writePackageKey(kPackageKey, 0x01 | 0x08);
  runInstaller({});
  EXPECT_FALSE(status().has_value());
  EXPECT_FALSE(readText(kRunKey, kAutorunName).has_value());

  clearPackageKeys();
  writePackageKey(kPackageKey, 0x04 | 0x08);
  runInstaller({});
  EXPECT_EQ(status(), std::optional<DWORD>(80));
  EXPECT_TRUE(readText(kRunKey, kAutorunName).has_value());
  Sleep(3000);  // a start would have registered by now
  EXPECT_FALSE(registeredAsioFile().has_value());

  clearPackageKeys();
  setWindowsVersion("4.0", 1381);
  writePackageKey(kPackageKey, 0x00);
  RunResult run = runInstaller({});
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_FALSE(status().has_value());
}

TEST_F(CoInstaller, RemovalUnregistersAndDeletesTheFiles) {
  writePackageKey(kPackageKey, 0x04 | 0x08);
  runInstaller({});
  ASSERT_TRUE(waitFor([] { return registeredAsioFile().has_value(); }));
  const std::string driver = std::string(kPackageFolder) + "Driver\\";
  const std::string drivers = systemFolder() + "\\drivers\\";
  for (const std::string& f : {driver + "TessUAD2.pnf", driver + "Inf01.txt", drivers + "TessUAD2.sys",
                               drivers + "TUad2iAP.sys"})
    writeFile(f, "x");
  RunResult run = runInstaller(withArgs("/U"));
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_TRUE(waitFor([] { return !registeredAsioFile().has_value(); }));
  EXPECT_FALSE(readText(kRunKey, kAutorunName).has_value());
  for (const std::string& f : {driver + "TessUAD2.pnf", driver + "Inf01.txt", drivers + "TessUAD2.sys",
                               drivers + "TUad2iAP.sys"})
    EXPECT_TRUE(waitFor([&] { return !fileExists(f); })) << f;
  EXPECT_TRUE(fileExists(driver + "TessUAD2.inf"));
  EXPECT_EQ(status(), std::optional<DWORD>(80));
}

TEST_F(CoInstaller, RestartQuestionNoWritesTheStatusYesRecordsOneRestart) {
  struct Case { int answer; std::vector<std::string> log; } cases[] = {
      {IDNO, {}},
      {IDYES, {"restart 5 0 1 System will be restarted!"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    clearPackageKeys();
    writePackageKey(kPackageKey, 0x20);
    RunOptions options;
    options.answerRestart = c.answer;
    RunResult run = runInstaller(options);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.restartQuestionSeen);
    EXPECT_EQ(run.usbLog, c.log);
    EXPECT_EQ(status(), std::optional<DWORD>(80));
  }
  // Removal asks nothing.
  clearPackageKeys();
  writePackageKey(kPackageKey, 0x20);
  RunOptions removal;
  removal.arguments = "/U";
  removal.answerRestart = IDYES;
  RunResult run = runInstaller(removal);
  EXPECT_FALSE(run.restartQuestionSeen);
  EXPECT_TRUE(run.usbLog.empty());
}

// Which copies RegSvr32.exe registers: the package folder's, and its x64\ one unless the
// classification says x86 (XP: major version 5); the W name from Windows 10 1703 on.
TEST_F(CoInstaller, RegistersThePackageDllAndOnA64BitSystemItsX64Copy) {
  const std::string folder = "C:\\coinst\\markers\\";
  CreateDirectoryA("C:\\coinst\\markers", nullptr);
  CreateDirectoryA((folder + "x64").c_str(), nullptr);
  std::string marker = std::string("Z:") + COINST_MARKER_DLL;
  std::replace(marker.begin(), marker.end(), '/', '\\');
  for (const char* name : {"Marker.dll", "MarkerW.dll"}) {
    ASSERT_TRUE(CopyFileA(marker.c_str(), (folder + name).c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(marker.c_str(), (folder + "x64\\" + name).c_str(), FALSE));
  }
  auto registered = [] {
    std::vector<std::string> paths;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\TessCoinstTest\\Registered", 0, KEY_READ, &key) != ERROR_SUCCESS)
      return paths;
    char name[MAX_PATH];
    for (DWORD i = 0;; ++i) {
      DWORD size = sizeof name;
      if (RegEnumValueA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      paths.push_back(name);
    }
    RegCloseKey(key);
    std::sort(paths.begin(), paths.end());
    return paths;
  };
  struct Case { const char* version; DWORD build; std::vector<std::string> paths; } cases[] = {
      {"6.1", 7601, {folder + "Marker.dll", folder + "x64\\Marker.dll"}},
      {"5.1", 2600, {folder + "Marker.dll"}},
      {"10.0", 15063, {folder + "MarkerW.dll", folder + "x64\\MarkerW.dll"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    deleteTree("SOFTWARE\\TessCoinstTest");
    setWindowsVersion(c.version, c.build);
    clearPackageKeys();
    writePackageKey(kPackageKey, 0x04);
    setText(kPackageKey, "InstallPath", folder);
    setText(kPackageKey, "AsioDllFileName", "Marker.dll");
    setText(kPackageKey, "AsioWDllFileName", "MarkerW.dll");
    runInstaller({});
    EXPECT_EQ(registered(), c.paths);
    runInstaller(withArgs("/U"));
    EXPECT_TRUE(registered().empty());
  }
  deleteTree("SOFTWARE\\TessCoinstTest");
}
