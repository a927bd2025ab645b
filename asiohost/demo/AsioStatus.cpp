// asiostatus: prints the driver's status block the way the control panel's ASIO page shows
// it. For the demo: `asiostatus --wait-running 3000` waits until a driver streams.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "AsioPageText.h"
#include "StatusBlock.h"
#include "TessConstants.h"

int main(int argc, char** argv) {
  DWORD waitMs = 0;
  if (argc == 3 && std::strcmp(argv[1], "--wait-running") == 0) {
    waitMs = static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10));
  } else if (argc != 1) {
    std::fprintf(stderr, "usage: asiostatus [--wait-running MS]\n");
    return 2;
  }
  const ULONGLONG until = GetTickCount64() + waitMs;
  HANDLE mapping = nullptr;
  void* view = nullptr;
  for (;;) {
    if (!mapping) mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, tess::kStatusBlockName);
    if (mapping && !view) view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, tess::kStatusBlockSize);
    const tess::StatusBlockView block(view);
    const bool running = block.valid() && block.state() == tess::kStateRunning;
    if (running || GetTickCount64() >= until) break;
    Sleep(50);
  }
  // The state turns RUNNING before the first buffer switch; flags such as DoP follow the
  // first output copies.
  if (waitMs) Sleep(500);
  int status = 0;
  const tess::StatusBlockView block(view);
  if (!view) {
    std::printf("status block \"%s\": not present (no driver holds it)\n", tess::kStatusBlockName);
    status = 1;
  } else if (!block.valid()) {
    std::printf("status block \"%s\": no magic, not read\n", tess::kStatusBlockName);
    status = 1;
  } else {
    const tess::AsioPageView page = tess::readAsioPageView(block);
    std::printf("%s", page.stateWord);
    if (page.running) std::printf("  %s  %s", page.streamLine.c_str(), tess::asioModeText(page.mode));
    std::printf("\n");
  }
  if (view) UnmapViewOfFile(view);
  if (mapping) CloseHandle(mapping);
  return status;
}
