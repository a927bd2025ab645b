// Scheduling of the driver's time-critical threads, shared by every streaming backend.
#pragma once

#include <windows.h>

namespace tess {

// Joins the calling thread to the multimedia class scheduler's "Pro Audio" task for its
// lifetime, as audio threads that must not glitch under load do. "avrt.dll" is loaded at
// run time; where it or the task is missing nothing changes.
class MmcssScope {
 public:
  MmcssScope();
  ~MmcssScope();
  MmcssScope(const MmcssScope&) = delete;
  MmcssScope& operator=(const MmcssScope&) = delete;
  bool joined() const { return m_task != nullptr; }

 private:
  HMODULE m_avrt = nullptr;
  HANDLE m_task = nullptr;
  BOOL(WINAPI* m_revert)(HANDLE) = nullptr;
};

}  // namespace tess
