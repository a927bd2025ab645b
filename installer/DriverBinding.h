// The device-facing half of the co-installer: the driver search path, the signing
// policy, and the device pass that removes matching devices with their OEM packages,
// pre-installs the package INFs and re-enumerates. Results are informative only: the
// flow ignores them.
#pragma once

#include <string>
#include <vector>

#include "PackageLists.h"

namespace tess::installer {

bool addToSearchPath(const std::string& folder);
bool removeFromSearchPath(const std::string& folder);
bool setSigningPolicy();
bool clearSigningPolicy();

struct DevicePassInput {
  int systemClass = 0;
  bool install = false;
  bool atThreshold = false;
  std::vector<std::string> hardwareIds;
  std::vector<InfRow> infs;
};
bool runDevicePass(const DevicePassInput& input);

// Pre-installs one INF (classes 2 to 11 only): its base-name section's files, then the
// INF into the system's OEM driver store.
void installInf(int systemClass, const std::string& baseName, const std::string& infPath);

}  // namespace tess::installer
