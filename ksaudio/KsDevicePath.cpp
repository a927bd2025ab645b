#include "KsDevicePath.h"

#include <cstring>

#include "AsciiCase.h"

namespace tess::ks {

size_t deviceInstanceLength(const char* path) {
  if (!path) return 0;
  const char* mark = std::strstr(path, "#{");
  return mark ? static_cast<size_t>(mark - path) : 0;
}

bool sameDeviceInstance(const char* a, const char* b) {
  const size_t n = deviceInstanceLength(a);
  return n != 0 && n == deviceInstanceLength(b) && equalsIgnoringCase(a, b, n);
}

}  // namespace tess::ks
