// Pages of a skin: faces may hold several pages stacked vertically, one skin height each.
// An element is cut from the page of the lowest bit of its page mask. Portable.
#pragma once

#include <cstdint>

namespace skin {

inline int pageOffset(uint32_t pageMask, int skinHeight) {
  if (pageMask == 0) return 0;
  int page = 0;
  while ((pageMask & 1u) == 0) {
    pageMask >>= 1;
    ++page;
  }
  return page * skinHeight;
}

inline bool onFirstPage(uint32_t pageMask) { return (pageMask & 1u) != 0; }

}  // namespace skin
