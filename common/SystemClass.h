// System classification shared by the control panel and the installer.
#pragma once

#include <cstdint>

namespace tess {

enum class ProcessorArch { X86, X64, Itanium, Other };

struct SystemVersionInfo {
  bool queryOk = false;   // both the version and the system information could be read
  bool platformNt = false;
  uint32_t major = 0, minor = 0, build = 0;
  bool server = false;    // product type other than workstation
  ProcessorArch arch = ProcessorArch::X86;
};

struct SystemClass {
  bool ok = false;        // false: not NT, major below 5, or a failed query
  int systemClass = 0;    // 0..12, see classifySystem
  bool x86 = true;
  uint32_t build = 0;
};

SystemClass classifySystem(const SystemVersionInfo& info);

// Classes 2..11 can use audio endpoints; 0, 1 and 12 are the legacy group.
constexpr bool isEndpointCapable(int systemClass) { return systemClass >= 2 && systemClass <= 11; }
// Windows 10 1703 or later.
constexpr bool isWin10Creators(const SystemClass& c) {
  return c.ok && c.systemClass >= 10 && c.build >= 15063;
}

#if defined(_WIN32)
// Reads the running system's version and processor and classifies them.
SystemClass querySystemClass();
#endif

}  // namespace tess
