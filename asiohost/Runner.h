// The commands that run against a driver object: check, play and latency.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

#include "CallGuard.h"
#include "DriverLoader.h"
#include "DriverRegistry.h"
#include "Options.h"

namespace asiohost {

// Runs the command on the driver, prints what it verified and measured to `out`, writes the
// JSON summary when asked, and releases the driver. Returns the program's exit status.
int runOnDriver(DriverRef driver, const Options& options, HWND sysHandle, CallGuard& guard, FILE* out);

// The soak (--cycles N): creates and releases the driver N times, streaming a little each
// time, then prints handle and memory figures. Returns the program's exit status.
int runCycles(const InstalledDriver& driver, const Options& options, HWND sysHandle, CallGuard& guard, FILE* out);

}  // namespace asiohost
