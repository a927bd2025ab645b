// Installed ASIO drivers as hosts find them: the subkeys of HKLM "Software\ASIO" in the
// 64-bit and the 32-bit registry views, each with its "CLSID" and "Driver" values.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace asiohost {

struct InstalledDriver {
  std::string name;                 // the subkey's name, as hosts show it
  std::string clsidText;            // "CLSID" value as stored
  std::string path;                 // "Driver" value (the module), may be empty
  std::string description;          // "Description" value, may be empty
  bool in64 = false, in32 = false;  // registry views it was found in
  bool clsidValid = false;
  CLSID clsid{};
  std::string problem;  // why it cannot be loaded as stored (wrong value type, bad CLSID)
};

// Drivers of both views, merged by name. `error` is set (and the list empty) only when the
// ASIO key cannot be read at all for a reason other than being absent.
std::vector<InstalledDriver> listInstalledDrivers(std::string& error);

// The entry of that name (case-insensitive), or nullptr.
const InstalledDriver* findDriver(const std::vector<InstalledDriver>& drivers, const std::string& name);

std::string wideToUtf8(const wchar_t* s, int length = -1);
std::wstring utf8ToWide(const std::string& s);

}  // namespace asiohost
