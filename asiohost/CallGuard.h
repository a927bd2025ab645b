// A time limit on every call into the driver: a watchdog thread notices a call that does
// not return in time and hands it to the owner's handler (the program reports and exits;
// a hung driver thread cannot be taken back any other way).
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace asiohost {

class CallGuard {
 public:
  using TimeoutHandler = std::function<void(const char* call, int timeoutMs)>;
  CallGuard(int timeoutMs, TimeoutHandler onTimeout);
  ~CallGuard();
  CallGuard(const CallGuard&) = delete;
  CallGuard& operator=(const CallGuard&) = delete;

  template <class F>
  auto call(const char* what, F&& f) -> decltype(f()) {
    arm(what);
    struct Disarm {
      CallGuard* g;
      ~Disarm() { g->disarm(); }
    } disarm{this};
    return f();
  }
  int timeoutMs() const { return timeoutMs_; }
  bool ok() const { return thread_ != nullptr; }

 private:
  void arm(const char* what);
  void disarm();
  static DWORD WINAPI watch(void* self);

  int timeoutMs_;
  TimeoutHandler onTimeout_;
  CRITICAL_SECTION lock_;
  HANDLE wake_ = nullptr;
  HANDLE thread_ = nullptr;
  const char* current_ = nullptr;  // guarded by lock_
  ULONGLONG deadline_ = 0;
  bool quit_ = false;
};

}  // namespace asiohost
