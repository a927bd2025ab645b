// An owning COM reference: released when it goes out of scope or is replaced.
#pragma once

#include <unknwn.h>

namespace tess {

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { reset(); }
  ComPtr(ComPtr&& other) noexcept : m_p(other.detach()) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      m_p = other.detach();
    }
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;

  // For a call that hands out a reference: whatever was held is released first.
  T** put() {
    reset();
    return &m_p;
  }
  void reset() {
    if (m_p) m_p->Release();
    m_p = nullptr;
  }
  T* detach() {
    T* p = m_p;
    m_p = nullptr;
    return p;
  }
  T* get() const { return m_p; }
  T* operator->() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }

 private:
  T* m_p = nullptr;
};

}  // namespace tess
