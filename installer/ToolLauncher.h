// Starting the tools the flow uses (RegSvr32.exe, CMD.exe, the certificate tool): "open"
// on classes 0 and 1, elevated ("runas") on classes 2 to 11, nothing on class 12. The flow
// never waits for them.
#pragma once

#include <string>

namespace tess::installer {

// False only when the class starts nothing (12); a start that fails is not reported.
bool startTool(int systemClass, const std::string& program, const std::string& parameters);

}  // namespace tess::installer
