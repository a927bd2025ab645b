// The two driver packages built from the supported-device table, the driver folder and
// the INF table the device pass installs from.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "DeviceTable.h"

namespace tess::installer {

inline constexpr char kMainBaseName[] = "TessUAD2";
inline constexpr char kSecondBaseName[] = "TUad2iAP";
inline constexpr int kSecondInterface = 6;
inline constexpr size_t kMaxPackageRows = 1024;

struct PackageRow {
  std::string hardwareId;  // USB\VID_%04X&PID_%04X&MI_%02X
  std::string baseName;
  std::string infName;
  std::string driverFile;
};

// One row per table entry (up to the first vendor id 0, at most kMaxPackageRows):
// the entry's own interface, under the main package's names.
std::vector<PackageRow> mainPackageList(const SupportedDevice* table);
// The same devices at interface 6, under the second package's names.
std::vector<PackageRow> secondPackageList(const SupportedDevice* table);

// The package folder (ending in a backslash) followed by "DriverXP" on class 0, else "Driver".
std::string driverFolder(std::string_view packageFolder, int systemClass);

struct InfRow {
  std::string baseName;
  std::string path;  // driver folder, "\", INF name
};

// One row per distinct base name in list order; a base name counts as seen when an
// earlier one is a case-insensitive prefix of it.
std::vector<InfRow> infTable(const std::vector<PackageRow>& rows, std::string_view driverFolder);

// At or above the version threshold only the second package is installed.
bool installsInf(std::string_view baseName, bool atThreshold);

}  // namespace tess::installer
