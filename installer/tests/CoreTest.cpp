// The co-installer's portable rules: mode, hardware ids, search path, package lists,
// INF table, OEM INF scan, registry strings.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "InfScan.h"
#include "PackageLists.h"
#include "RegistryText.h"
#include "SearchPath.h"
#include "TextRules.h"

using namespace tess::installer;

TEST(CommandLine, RemovalWhereverSlashUAppearsInAnyCase) {
  struct Case { const char* line; Mode mode; } cases[] = {
      {"DrvPkgInst.exe", Mode::Install},
      {"\"C:\\Program Files\\Tess\\DrvPkgInst.exe\"", Mode::Install},
      {"DrvPkgInst.exe /U", Mode::Removal},
      {"DrvPkgInst.exe /u", Mode::Removal},
      {"DrvPkgInst.exe /UNINSTALL", Mode::Removal},
      {"\"C:\\pkg/us\\DrvPkgInst.exe\"", Mode::Removal},  // the whole line counts
      {"DrvPkgInst.exe -u", Mode::Install},
      {"", Mode::Install},
  };
  for (const Case& c : cases) EXPECT_EQ(modeFromCommandLine(c.line), c.mode) << c.line;
}

TEST(HardwareId, NormalFormDropsTheRevision) {
  struct Case { const char* id; const char* normal; } cases[] = {
      {"USB\\VID_1234&PID_5678&REV_0100&MI_01", "USB\\VID_1234&PID_5678&MI_01"},
      {"usb\\vid_1209&pid_0007&rev_0100&mi_06", "USB\\VID_1209&PID_0007&MI_06"},
      {"USB\\VID_1209&PID_0007&REV_0100&MI_01&COL02", "USB\\VID_1209&PID_0007&MI_01&COL02"},
      {"USB\\VID_1209&PID_0007&MI_01", nullptr},        // no "&REV"
      {"USB\\VID_1209&PID_0007&REV_0100", nullptr},     // no "MI"
      {"", nullptr},
  };
  for (const Case& c : cases) {
    auto normal = normaliseHardwareId(c.id);
    if (c.normal) {
      ASSERT_TRUE(normal.has_value()) << c.id;
      EXPECT_EQ(*normal, c.normal);
    } else {
      EXPECT_FALSE(normal.has_value()) << c.id;
    }
  }
}

TEST(HardwareId, PackageIdMustBeACaseInsensitivePrefix) {
  EXPECT_TRUE(hardwareIdMatches("USB\\VID_1209&PID_0007&MI_01", "usb\\vid_1209&pid_0007&mi_01"));
  EXPECT_TRUE(hardwareIdMatches("USB\\VID_1209&PID_0007&MI_01&COL02", "USB\\VID_1209&PID_0007&MI_01"));
  EXPECT_FALSE(hardwareIdMatches("USB\\VID_1209&PID_0007&MI_0", "USB\\VID_1209&PID_0007&MI_01"));
  EXPECT_FALSE(hardwareIdMatches("USB\\VID_1209&PID_0007&MI_06", "USB\\VID_1209&PID_0007&MI_01"));
  EXPECT_FALSE(hardwareIdMatches("USB\\VID_1209&PID_0007&MI_01", ""));
}

TEST(SearchPath, AddPutsTheUpperCasedFolderFirstOnce) {
  struct Case { const char* current; const char* folder; const char* after; } cases[] = {
      {"%SystemRoot%\\inf", "C:\\Pkg\\Driver", "C:\\PKG\\DRIVER;%SystemRoot%\\inf"},
      {"C:\\PKG\\DRIVER;%SystemRoot%\\inf", "C:\\Pkg\\Driver", "C:\\PKG\\DRIVER;%SystemRoot%\\inf"},
      {"A;c:\\pkg\\driver;B", "C:\\Pkg\\Driver", "A;c:\\pkg\\driver;B"},  // present in another case
      {"C:\\PKG\\DRIVERXP", "C:\\Pkg\\Driver", "C:\\PKG\\DRIVER;C:\\PKG\\DRIVERXP"},  // not inside an entry
      {"", "C:\\Pkg\\Driver", "C:\\PKG\\DRIVER"},
  };
  for (const Case& c : cases) EXPECT_EQ(searchPathWithFolder(c.current, c.folder), c.after) << c.current;
  // Adding twice adds once.
  const std::string once = searchPathWithFolder("X", "C:\\Pkg\\Driver");
  EXPECT_EQ(searchPathWithFolder(once, "C:\\Pkg\\Driver"), once);
}

TEST(SearchPath, RemoveTakesTheEntryAndOneSeparator) {
  const char* folder = "C:\\PKG\\DRIVER";
  struct Case { const char* current; const char* after; } cases[] = {
      {"C:\\PKG\\DRIVER;X", "X"},
      {"X;C:\\PKG\\DRIVER", "X"},
      {"A;C:\\PKG\\DRIVER;B", "A;B"},
      {"C:\\PKG\\DRIVER", ""},
      {"A;;C:\\PKG\\DRIVER;B", "A;;B"},
      {"A;c:\\pkg\\driver;B", "A;B"},
      {"C:\\PKG\\DRIVER;C:\\PKG\\DRIVER", "C:\\PKG\\DRIVER"},
  };
  for (const Case& c : cases) {
    auto after = searchPathWithoutFolder(c.current, folder);
    ASSERT_TRUE(after.has_value()) << c.current;
    EXPECT_EQ(*after, c.after) << c.current;
  }
  // Not an entry: nothing to write, and an entry that merely starts with it stays whole.
  EXPECT_FALSE(searchPathWithoutFolder("A;B", folder).has_value());
  EXPECT_FALSE(searchPathWithoutFolder("A;C:\\PKG\\DRIVERXP;B", folder).has_value());
  EXPECT_FALSE(searchPathWithoutFolder("", folder).has_value());
  // There and back.
  EXPECT_EQ(*searchPathWithoutFolder(searchPathWithFolder("X", "c:\\pkg\\driver"), folder), "X");
}

TEST(PackageLists, RowsFollowTheDeviceTableUpToItsEnd) {
  const tess::SupportedDevice table[] = {{0x1209, 0x0007, 1}, {0x1209, 0x00AB, 3}, {0, 0, 0}, {0x1111, 1, 1}};
  auto main = mainPackageList(table);
  auto second = secondPackageList(table);
  ASSERT_EQ(main.size(), 2u);
  ASSERT_EQ(second.size(), 2u);
  EXPECT_EQ(main[0].hardwareId, "USB\\VID_1209&PID_0007&MI_01");
  EXPECT_EQ(main[1].hardwareId, "USB\\VID_1209&PID_00AB&MI_03");
  EXPECT_EQ(second[1].hardwareId, "USB\\VID_1209&PID_00AB&MI_06");
  EXPECT_EQ(main[0].infName, "TessUAD2.inf");
  EXPECT_EQ(main[0].driverFile, "TessUAD2.sys");
  EXPECT_EQ(second[0].baseName, "TUad2iAP");
  EXPECT_EQ(second[0].driverFile, "TUad2iAP.sys");
  // The shipped table: two devices at interface 1.
  auto shipped = mainPackageList(tess::kSupportedDevices);
  ASSERT_EQ(shipped.size(), 2u);
  EXPECT_EQ(shipped[1].hardwareId, "USB\\VID_1209&PID_0008&MI_01");
}

TEST(PackageLists, AFullTableStopsAtTheLimit) {
  std::vector<tess::SupportedDevice> table(kMaxPackageRows + 5, tess::SupportedDevice{0x1209, 1, 1});
  EXPECT_EQ(mainPackageList(table.data()).size(), kMaxPackageRows);
}

TEST(PackageLists, DriverFolderByClassAndInfTableOneRowPerPackage) {
  EXPECT_EQ(driverFolder("C:\\Pkg\\", 0), "C:\\Pkg\\DriverXP");
  EXPECT_EQ(driverFolder("C:\\Pkg\\", 1), "C:\\Pkg\\Driver");
  EXPECT_EQ(driverFolder("C:\\Pkg\\", 10), "C:\\Pkg\\Driver");

  std::vector<PackageRow> rows = mainPackageList(tess::kSupportedDevices);
  for (const PackageRow& r : secondPackageList(tess::kSupportedDevices)) rows.push_back(r);
  auto infs = infTable(rows, "C:\\Pkg\\Driver");
  ASSERT_EQ(infs.size(), 2u);
  EXPECT_EQ(infs[0].baseName, "TessUAD2");
  EXPECT_EQ(infs[0].path, "C:\\Pkg\\Driver\\TessUAD2.inf");
  EXPECT_EQ(infs[1].path, "C:\\Pkg\\Driver\\TUad2iAP.inf");

  // A base name with an earlier one as its prefix counts as seen.
  std::vector<PackageRow> prefixed = {{"id", "Tess", "Tess.inf", "Tess.sys"}, {"id", "TESSX", "TessX.inf", "x"}};
  EXPECT_EQ(infTable(prefixed, "D").size(), 1u);

  EXPECT_TRUE(installsInf("TessUAD2", false));
  EXPECT_TRUE(installsInf("TUad2iAP", false));
  EXPECT_FALSE(installsInf("TessUAD2", true));
  EXPECT_TRUE(installsInf("tuad2iap", true));
}

namespace {

bool scan(const std::string& text, size_t chunk = 7) {
  CInfScanner scanner({"TessUAD2", "TUad2iAP"});
  for (size_t i = 0; i < text.size(); i += chunk) scanner.feed(text.data() + i, std::min(chunk, text.size() - i));
  scanner.finish();
  return scanner.found();
}

}  // namespace

TEST(InfScan, FindsABaseNameInAnyCaseOnAnyLine) {
  EXPECT_TRUE(scan("[Version]\r\nSignature=\"$Windows NT$\"\r\n[tessuad2]\r\n"));
  EXPECT_TRUE(scan("x\nServiceBinary=%12%\\TUAD2IAP.sys"));  // last line without a break
  EXPECT_FALSE(scan("[Version]\nClass=MEDIA\n[Other]\nTessUAD\n"));
  EXPECT_FALSE(scan(""));
  EXPECT_TRUE(scan(std::string("bin\0ary\nTessUAD2\n", 18)));
}

TEST(InfScan, LinesLongerThanTheBufferAreReadInPieces) {
  // A name split by the piece boundary is not found, as with a line buffer of that size...
  std::string split(kInfLineMax - 1 - 4, 'x');
  split += "TessUAD2";
  EXPECT_FALSE(scan(split, 4096));
  // ...and a name well inside a very long line is.
  std::string inside(100000, 'y');
  inside.replace(50000, 8, "TUad2iAP");
  EXPECT_TRUE(scan(inside, 3000));
}

TEST(RegistryText, RefusesWrongTypesEmbeddedNulsAndOversize) {
  auto bytes = [](const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); };
  struct Case { uint32_t type; std::string data; bool ok; const char* text; } cases[] = {
      {kRegSz, std::string("C:\\Pkg\\\0", 8), true, "C:\\Pkg\\"},
      {kRegExpandSz, std::string("%SystemRoot%\\inf\0", 17), true, "%SystemRoot%\\inf"},
      {kRegSz, std::string("no terminator"), true, "no terminator"},
      {kRegSz, std::string("two\0\0", 5), true, "two"},
      {kRegSz, std::string("", 0), true, ""},
      {kRegSz, std::string("cut\0tail\0", 9), false, nullptr},
      {7 /* REG_MULTI_SZ */, std::string("a\0b\0\0", 5), false, nullptr},
      {4 /* REG_DWORD */, std::string("\x01\0\0\0", 4), false, nullptr},
  };
  for (const Case& c : cases) {
    auto text = registryText(c.type, bytes(c.data), c.data.size(), 64);
    EXPECT_EQ(text.has_value(), c.ok) << c.data;
    if (c.ok && text) EXPECT_EQ(*text, c.text);
  }
  std::string big(65, 'a');
  EXPECT_FALSE(registryText(kRegSz, reinterpret_cast<const uint8_t*>(big.data()), big.size(), 64).has_value());
}

TEST(RegistryText, InfPathIsABareFileNameOfAtLeastFiveBytes) {
  struct Case { const char* value; bool ok; } cases[] = {
      {"oem3.inf", true}, {"a.in", true}, {"a.i", false}, {"", false},
      {"..\\system32\\x.inf", false}, {"C:\\x.inf", false}, {"sub/x.inf", false},
  };
  for (const Case& c : cases) {
    std::string data(c.value);
    data.push_back('\0');
    EXPECT_EQ(infPathText(kRegSz, reinterpret_cast<const uint8_t*>(data.data()), data.size()).has_value(), c.ok)
        << c.value;
  }
  std::string oem = "oem12.inf";
  EXPECT_FALSE(infPathText(4, reinterpret_cast<const uint8_t*>(oem.data()), oem.size()).has_value());
}
