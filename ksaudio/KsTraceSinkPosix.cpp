#include <cstdio>

#include "KsTrace.h"

namespace tess {

void DefaultTraceSink(const char* message) {
  std::fputs(message, stderr);
  std::fputc('\n', stderr);
}

}  // namespace tess
