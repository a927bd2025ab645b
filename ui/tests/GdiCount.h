// Counts of what a process holds, for leak tests. GetGuiResources is a stub under Wine 8
// (it returns 0), so GDI objects are counted as the live cells of the process's GDI handle
// table, which the process environment block points at (as on Windows).
#pragma once

#include <windows.h>
#include <winternl.h>

#include <cstddef>
#include <cstdint>

namespace uitest {

struct GdiHandleCell {
  uint64_t object;
  uint32_t owner;
  uint16_t unique;
  uint8_t type;  // 0: free
  uint8_t flags;
  uint64_t user;
};
static_assert(sizeof(GdiHandleCell) == 24, "GDI handle table cell");

inline const unsigned char* processEnvironmentBlock() {
  // The TEB read through the segment register looks out of bounds to the compiler.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
  return reinterpret_cast<const unsigned char*>(NtCurrentTeb()->ProcessEnvironmentBlock);
#pragma GCC diagnostic pop
}

inline int liveGdiObjects() {
  const unsigned char* peb = processEnvironmentBlock();
#if defined(_WIN64)
  const std::size_t tableOffset = 0xF8;
#else
  const std::size_t tableOffset = 0x94;
#endif
  const auto* table = *reinterpret_cast<const GdiHandleCell* const*>(peb + tableOffset);
  if (!table) return -1;
  const DWORD own = ::GetCurrentProcessId() & 0xFFFF;
  int live = 0;
  for (int i = 0; i < 0x10000; ++i)
    if (table[i].type != 0 && ((table[i].owner & 0xFFFF) == 0 || (table[i].owner & 0xFFFF) == own)) ++live;
  return live;
}

// Windows of this thread, top-level and their descendants.
inline int threadWindows() {
  int count = 0;
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND top, LPARAM p) -> BOOL {
        auto* n = reinterpret_cast<int*>(p);
        ++*n;
        ::EnumChildWindows(top, [](HWND, LPARAM q) -> BOOL { return ++*reinterpret_cast<int*>(q), TRUE; }, p);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  return count;
}

}  // namespace uitest
