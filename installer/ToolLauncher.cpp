#include "ToolLauncher.h"

#include <windows.h>
#include <shellapi.h>

namespace tess::installer {

bool startTool(int systemClass, const std::string& program, const std::string& parameters) {
  const char* verb = nullptr;
  if (systemClass == 0 || systemClass == 1)
    verb = "open";
  else if (systemClass >= 2 && systemClass <= 11)
    verb = "runas";
  else
    return false;
  SHELLEXECUTEINFOA info = {};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_FLAG_NO_UI;
  info.lpVerb = verb;
  info.lpFile = program.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = SW_SHOWNORMAL;
  // Whether the tool started is not checked: the flow goes on either way.
  ShellExecuteExA(&info);
  return true;
}

}  // namespace tess::installer
