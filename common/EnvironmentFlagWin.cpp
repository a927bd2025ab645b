#include "EnvironmentFlag.h"

#include <windows.h>

#include <cstring>

namespace tess {

bool environmentFlag(const char* name) {
  char value[8] = {};
  DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n > 0 && n < sizeof value && std::strcmp(value, "1") == 0;
}

}  // namespace tess
