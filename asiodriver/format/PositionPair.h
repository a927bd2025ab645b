// The sample position and system time of the last buffer switch, written by the pump
// thread and read by the host's thread: a pair of 64-bit words that must be read whole
// and together. A 32-bit process would tear each word, and any process could mix the
// position of one switch with the time of another. A sequence count makes the reader
// retry while a write is under way (the writer never waits). Portable.
#pragma once

#include <cstdint>

namespace tess::fmt {

class PositionPair {
 public:
  struct Value {
    uint64_t position;
    uint64_t time;
  };

  // One writer only (the pump thread).
  void store(uint64_t position, uint64_t time) {
    const uint32_t s = __atomic_load_n(&sequence_, __ATOMIC_RELAXED);
    __atomic_store_n(&sequence_, s + 1, __ATOMIC_RELAXED);  // odd: a write is under way
    __atomic_thread_fence(__ATOMIC_RELEASE);
    storeWord(position_, position);
    storeWord(time_, time);
    __atomic_store_n(&sequence_, s + 2, __ATOMIC_RELEASE);
  }

  Value load() const {
    for (;;) {
      const uint32_t before = __atomic_load_n(&sequence_, __ATOMIC_ACQUIRE);
      if (before & 1) continue;
      Value v{loadWord(position_), loadWord(time_)};
      __atomic_thread_fence(__ATOMIC_ACQUIRE);
      if (__atomic_load_n(&sequence_, __ATOMIC_RELAXED) == before) return v;
    }
  }

 private:
  // Each word as two 32-bit halves: plain atomics on any target, checked by the sequence.
  static void storeWord(uint32_t (&w)[2], uint64_t v) {
    __atomic_store_n(&w[0], static_cast<uint32_t>(v), __ATOMIC_RELAXED);
    __atomic_store_n(&w[1], static_cast<uint32_t>(v >> 32), __ATOMIC_RELAXED);
  }
  static uint64_t loadWord(const uint32_t (&w)[2]) {
    return uint64_t{__atomic_load_n(&w[0], __ATOMIC_RELAXED)} |
           uint64_t{__atomic_load_n(&w[1], __ATOMIC_RELAXED)} << 32;
  }

  uint32_t sequence_ = 0;
  uint32_t position_[2] = {};
  uint32_t time_[2] = {};
};

}  // namespace tess::fmt
