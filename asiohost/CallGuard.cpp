#include "CallGuard.h"

namespace asiohost {

CallGuard::CallGuard(int timeoutMs, TimeoutHandler onTimeout)
    : timeoutMs_(timeoutMs), onTimeout_(std::move(onTimeout)) {
  InitializeCriticalSection(&lock_);
  wake_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (wake_) thread_ = CreateThread(nullptr, 0, &CallGuard::watch, this, 0, nullptr);
}

CallGuard::~CallGuard() {
  EnterCriticalSection(&lock_);
  quit_ = true;
  LeaveCriticalSection(&lock_);
  if (thread_) {
    SetEvent(wake_);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
  }
  if (wake_) CloseHandle(wake_);
  DeleteCriticalSection(&lock_);
}

void CallGuard::arm(const char* what) {
  EnterCriticalSection(&lock_);
  current_ = what;
  deadline_ = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs_);
  LeaveCriticalSection(&lock_);
  SetEvent(wake_);
}

void CallGuard::disarm() {
  EnterCriticalSection(&lock_);
  current_ = nullptr;
  LeaveCriticalSection(&lock_);
}

DWORD WINAPI CallGuard::watch(void* self) {
  CallGuard& g = *static_cast<CallGuard*>(self);
  for (;;) {
    EnterCriticalSection(&g.lock_);
    const bool quit = g.quit_;
    const char* current = g.current_;
    const ULONGLONG deadline = g.deadline_;
    LeaveCriticalSection(&g.lock_);
    if (quit) return 0;
    DWORD wait = INFINITE;
    if (current) {
      const ULONGLONG now = GetTickCount64();
      if (now >= deadline) {
        // The handler runs without the lock; it normally ends the process.
        g.onTimeout_(current, g.timeoutMs_);
        EnterCriticalSection(&g.lock_);
        if (g.current_ == current) g.current_ = nullptr;
        LeaveCriticalSection(&g.lock_);
        continue;
      }
      wait = static_cast<DWORD>(deadline - now);
    }
    WaitForSingleObject(g.wake_, wait);
  }
}

}  // namespace asiohost
