/* windowexit: the x86 lane's hand on a window program (checks/window-exits.sh). It waits
 * for the top-level window with the exact title to be shown, posts the program's exit
 * command to it (WM_COMMAND, as a menu item does) and waits for the program to end.
 *   windowexit TITLE COMMAND_ID [TIMEOUT_S]
 * Exit status 0 when the window showed, and its process ended with status 0 within the
 * limit after the command (emulated Wine starts take seconds: the default limit is long). */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

static HWND waitForShownWindow(const char* title, ULONGLONG until) {
  for (;;) {
    HWND window = FindWindowA(NULL, title);
    if (window && IsWindowVisible(window)) return window;
    if (GetTickCount64() >= until) return NULL;
    Sleep(100);
  }
}

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    fprintf(stderr, "usage: windowexit TITLE COMMAND_ID [TIMEOUT_S]\n");
    return 2;
  }
  const char* title = argv[1];
  char* end = NULL;
  const unsigned long command = strtoul(argv[2], &end, 0);
  if (*end || command == 0 || command > 0xFFFF) {
    fprintf(stderr, "windowexit: '%s' is not a command identifier\n", argv[2]);
    return 2;
  }
  const unsigned long timeoutS = argc == 4 ? strtoul(argv[3], &end, 10) : 240;
  if (argc == 4 && (*end || timeoutS == 0)) {
    fprintf(stderr, "windowexit: '%s' is not a number of seconds\n", argv[3]);
    return 2;
  }
  const DWORD limitMs = (DWORD)timeoutS * 1000;

  HWND window = waitForShownWindow(title, GetTickCount64() + limitMs);
  if (!window) {
    printf("windowexit: no window titled '%s' shown within %lu s\n", title, timeoutS);
    return 1;
  }
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  HANDLE process = processId ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId) : NULL;
  if (!process) {
    printf("windowexit: cannot open the process of window '%s' (error %lu)\n", title, GetLastError());
    return 1;
  }
  printf("windowexit: window '%s' shown; posting command 0x%04lx\n", title, command);
  int rc = 1;
  if (!PostMessageA(window, WM_COMMAND, (WPARAM)command, 0)) {
    printf("windowexit: PostMessage failed (error %lu)\n", GetLastError());
  } else {
    const DWORD waited = WaitForSingleObject(process, limitMs);
    DWORD exitCode = STILL_ACTIVE;
    if (waited != WAIT_OBJECT_0) {
      printf("windowexit: the program did not end within %lu s of the command\n", timeoutS);
    } else if (!GetExitCodeProcess(process, &exitCode)) {
      printf("windowexit: no exit status (error %lu)\n", GetLastError());
    } else {
      printf("windowexit: the program ended with status %lu\n", exitCode);
      rc = exitCode == 0 ? 0 : 1;
    }
  }
  CloseHandle(process);
  return rc;
}
