// The remote page's network setting: the table of usable adapters (at most 16, in the order the
// system lists them), the chosen row and the UDP port. Portable: the Windows adapter list is
// turned into RawAdapter views by AdapterList, and the rules live here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "Ipv4Text.h"

namespace remote {

inline constexpr std::size_t kMaxAdapterRows = 16;
inline constexpr std::size_t kDescriptionChars = 132;  // the system's description field
inline constexpr uint16_t kDefaultPort = 5566;

// One adapter as the system describes it. The strings are the system's fixed-width fields:
// terminated by a NUL within their capacity, or filling it.
struct RawAdapter {
  const char* address = nullptr;  // the first IPv4 address, dotted
  std::size_t addressCapacity = 0;
  const char* mask = nullptr;  // that address's subnet mask, dotted
  std::size_t maskCapacity = 0;
  uint32_t type = 0;  // the system's adapter type code
  const char* description = nullptr;
  std::size_t descriptionCapacity = 0;
};

struct AdapterRow {
  NetAddress address = 0;  // network byte order
  uint32_t type = 0;
  NetAddress mask = 0;  // network byte order
  char description[kDescriptionChars + 1] = {};
};

// What became of an adapter offered to the table.
enum class AdapterOutcome {
  Added,
  NoAddress,  // its first address is 0.0.0.0: not connected
  Malformed,  // address or mask is not a dotted quad
  TableFull,  // the table already has kMaxAdapterRows rows
};

class AdapterTable {
 public:
  void Clear() { m_count = 0; }
  AdapterOutcome Add(const RawAdapter& adapter);

  std::size_t Count() const { return m_count; }
  // Row i, for i below Count().
  const AdapterRow& Row(std::size_t i) const { return m_rows[i]; }

 private:
  std::array<AdapterRow, kMaxAdapterRows> m_rows{};
  std::size_t m_count = 0;
};

// The table with the chosen row and the port: what the page and the dialog copy to each other.
struct NetworkSetting {
  AdapterTable adapters;
  std::size_t selectedRow = 0;
  uint16_t port = kDefaultPort;

  // The chosen row, when there is one.
  const AdapterRow* Selected() const { return selectedRow < adapters.Count() ? &adapters.Row(selectedRow) : nullptr; }
};

// The address shown when no adapter can be chosen.
inline NetAddress loopbackAddress() { return fromOctets(127, 0, 0, 1); }

}  // namespace remote
