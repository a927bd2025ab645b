#include "PackageLists.h"

#include <cstdio>

#include "TextRules.h"

namespace tess::installer {

namespace {

std::vector<PackageRow> packageList(const SupportedDevice* table, int interfaceOverride, const char* baseName) {
  std::vector<PackageRow> rows;
  for (size_t i = 0; table && i < kMaxPackageRows && table[i].vendorId != 0; ++i) {
    const int iface = interfaceOverride >= 0 ? interfaceOverride : table[i].interfaceNumber;
    char id[64];
    std::snprintf(id, sizeof id, "USB\\VID_%04X&PID_%04X&MI_%02X", static_cast<unsigned>(table[i].vendorId),
                  static_cast<unsigned>(table[i].productId), static_cast<unsigned>(iface));
    rows.push_back({id, baseName, std::string(baseName) + ".inf", std::string(baseName) + ".sys"});
  }
  return rows;
}

}  // namespace

std::vector<PackageRow> mainPackageList(const SupportedDevice* table) { return packageList(table, -1, kMainBaseName); }

std::vector<PackageRow> secondPackageList(const SupportedDevice* table) {
  return packageList(table, kSecondInterface, kSecondBaseName);
}

std::string driverFolder(std::string_view packageFolder, int systemClass) {
  return std::string(packageFolder) + (systemClass == 0 ? "DriverXP" : "Driver");
}

std::vector<InfRow> infTable(const std::vector<PackageRow>& rows, std::string_view folder) {
  std::vector<InfRow> table;
  for (const PackageRow& row : rows) {
    bool seen = false;
    for (const InfRow& earlier : table) seen = seen || startsWithNoCase(row.baseName, earlier.baseName);
    if (!seen) table.push_back({row.baseName, std::string(folder) + "\\" + row.infName});
  }
  return table;
}

bool installsInf(std::string_view baseName, bool atThreshold) {
  return !atThreshold || startsWithNoCase(baseName, kSecondBaseName);
}

}  // namespace tess::installer
