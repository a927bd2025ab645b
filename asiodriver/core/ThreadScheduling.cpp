#include "ThreadScheduling.h"

namespace tess {

MmcssScope::MmcssScope() {
  m_avrt = LoadLibraryA("avrt.dll");
  if (!m_avrt) return;
  using Join = HANDLE(WINAPI*)(LPCSTR, LPDWORD);
  auto join = reinterpret_cast<Join>(reinterpret_cast<void*>(GetProcAddress(m_avrt, "AvSetMmThreadCharacteristicsA")));
  m_revert = reinterpret_cast<BOOL(WINAPI*)(HANDLE)>(
      reinterpret_cast<void*>(GetProcAddress(m_avrt, "AvRevertMmThreadCharacteristics")));
  DWORD taskIndex = 0;
  if (join && m_revert) m_task = join("Pro Audio", &taskIndex);
  if (!m_task) {
    FreeLibrary(m_avrt);
    m_avrt = nullptr;
  }
}

MmcssScope::~MmcssScope() {
  if (m_task) m_revert(m_task);
  if (m_avrt) FreeLibrary(m_avrt);
}

}  // namespace tess
