// The co-installer's flow: install or, with "/U", removal, its steps chosen by the
// package key's "CoInstallFlags"; "CoInstallStatus" = 80 when it runs to its end.
#pragma once

#include <string>

namespace tess::installer {

// Steps of "CoInstallFlags" (low byte only).
enum StepFlag : unsigned {
  kStepCertificate = 0x01,
  kStepDrivers = 0x02,
  kStepAsioDll = 0x04,
  kStepAutostart = 0x08,
  kStepNeedsPanelName = 0x10,
  kStepRestartQuestion = 0x20,
  kStepDriversToo = 0x40,
};

void runFlow(const std::string& commandLine);

}  // namespace tess::installer
