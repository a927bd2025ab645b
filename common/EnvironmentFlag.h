// Switches read from the environment (TESSALINE_VIRTUAL_DEVICE and its shapes).
#pragma once

namespace tess {

// True when the variable is set to exactly "1".
bool environmentFlag(const char* name);

}  // namespace tess
