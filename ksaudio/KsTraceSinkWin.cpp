#include <windows.h>

#include "KsTrace.h"

namespace tess {

void DefaultTraceSink(const char* message) { OutputDebugStringA(message); }

}  // namespace tess
