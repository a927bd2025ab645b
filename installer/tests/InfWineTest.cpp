// The package INFs open with the platform's INF parser and cover the package hardware ids
// in the install section named after each base name.
#include <gtest/gtest.h>

#include <windows.h>
#include <setupapi.h>

#include <string>

#include "PackageLists.h"

using namespace tess::installer;

namespace {

std::string infPath(const char* name) {
  std::string p = std::string("Z:") + COINST_INF_DIR + "/" + name;
  for (char& c : p)
    if (c == '/') c = '\\';
  return p;
}

// The install section a hardware id maps to in a models section, or "".
std::string sectionFor(HINF inf, const char* models, const std::string& hardwareId) {
  INFCONTEXT line;
  for (BOOL ok = SetupFindFirstLineA(inf, models, nullptr, &line); ok; ok = SetupFindNextLine(&line, &line)) {
    char section[256] = {}, id[512] = {};
    if (SetupGetStringFieldA(&line, 1, section, sizeof section, nullptr) &&
        SetupGetStringFieldA(&line, 2, id, sizeof id, nullptr) && _stricmp(id, hardwareId.c_str()) == 0)
      return section;
  }
  return "";
}

}  // namespace

TEST(PackageInfs, OpenAndCoverTheHardwareIdsInTheirInstallSection) {
  struct Package { const char* inf; std::vector<PackageRow> rows; } packages[] = {
      {"TessUAD2.inf", mainPackageList(tess::kSupportedDevices)},
      {"TUad2iAP.inf", secondPackageList(tess::kSupportedDevices)},
  };
  for (const Package& p : packages) {
    SCOPED_TRACE(p.inf);
    UINT errorLine = 0;
    HINF inf = SetupOpenInfFileA(infPath(p.inf).c_str(), nullptr, INF_STYLE_WIN4, &errorLine);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE) << "error at line " << errorLine;
    ASSERT_FALSE(p.rows.empty());
    const std::string base = p.rows[0].baseName;
    INFCONTEXT line;
    EXPECT_TRUE(SetupFindFirstLineA(inf, base.c_str(), nullptr, &line)) << "install section " << base;
    EXPECT_TRUE(SetupFindFirstLineA(inf, (base + ".Services").c_str(), "AddService", &line));
    for (const char* models : {"Tessaline.NTx86", "Tessaline.NTamd64"})
      for (const PackageRow& row : p.rows) EXPECT_EQ(sectionFor(inf, models, row.hardwareId), base) << row.hardwareId;
    SetupCloseInfFile(inf);
  }
}
