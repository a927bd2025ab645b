// Creating a driver the way hosts do: CoCreateInstance with the stored class identifier,
// asking for the interface under that same identifier.
#pragma once

#include <string>

#include "Asio.h"
#include "DriverRegistry.h"

namespace asiohost {

// Owns one IASIO reference.
class DriverRef {
 public:
  DriverRef() = default;
  explicit DriverRef(IASIO* p) : p_(p) {}
  DriverRef(const DriverRef&) = delete;
  DriverRef& operator=(const DriverRef&) = delete;
  DriverRef(DriverRef&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  ~DriverRef() { reset(); }
  IASIO* get() const { return p_; }
  IASIO* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // Releases the reference; returns what Release returned (0 when it was the last).
  ULONG reset() {
    ULONG n = 0;
    if (p_) n = p_->Release();
    p_ = nullptr;
    return n;
  }

 private:
  IASIO* p_ = nullptr;
};

// The driver object, or an empty reference with a message that says why not.
DriverRef createDriver(const InstalledDriver& driver, std::string& error);

std::string hresultText(HRESULT hr);

}  // namespace asiohost
