// Streams through a registered ASIO driver as a host does and checks what came back.
#pragma once

#include <windows.h>

// Creates the driver under `clsid`, plays a tone for `seconds` at 48 kHz and, when the
// device loops its output back, verifies that the input is the output, bit for bit.
// Returns the process exit code (0 when everything held).
int runHostDemo(const CLSID& clsid, int seconds);
