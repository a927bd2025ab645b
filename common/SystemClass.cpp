#include "SystemClass.h"

namespace tess {

SystemClass classifySystem(const SystemVersionInfo& info) {
  SystemClass c;
  if (!info.queryOk || !info.platformNt || info.major < 5) return c;
  c.ok = true;
  c.build = info.build;
  const bool x64 = info.arch == ProcessorArch::X64;
  c.x86 = info.major == 5 || !(x64 || info.arch == ProcessorArch::Itanium);

  const uint32_t v = info.major * 100 + info.minor;
  const bool srv = info.server;
  switch (v) {
    case 501: c.systemClass = 0; break;
    case 502: c.systemClass = srv ? 1 : (x64 ? 0 : 1); break;
    case 600: c.systemClass = srv ? 3 : 2; break;
    case 601: c.systemClass = srv ? 5 : 4; break;
    case 602: c.systemClass = srv ? 8 : 6; break;
    case 603: c.systemClass = srv ? 9 : 7; break;
    case 1000: c.systemClass = srv ? 11 : 10; break;
    default: c.systemClass = 12; break;
  }
  return c;
}

}  // namespace tess
