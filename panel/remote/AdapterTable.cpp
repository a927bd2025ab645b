#include "AdapterTable.h"

#include <cstring>

namespace remote {

AdapterOutcome AdapterTable::Add(const RawAdapter& adapter) {
  const std::optional<NetAddress> address = parseDottedQuad(adapter.address, adapter.addressCapacity);
  if (address && *address == 0) return AdapterOutcome::NoAddress;
  const std::optional<NetAddress> mask = parseDottedQuad(adapter.mask, adapter.maskCapacity);
  if (!address || !mask) return AdapterOutcome::Malformed;
  if (m_count >= kMaxAdapterRows) return AdapterOutcome::TableFull;

  AdapterRow& row = m_rows[m_count];
  row = AdapterRow{};
  row.address = *address;
  row.type = adapter.type;
  row.mask = *mask;
  if (adapter.description) {
    const std::size_t limit =
        adapter.descriptionCapacity < kDescriptionChars ? adapter.descriptionCapacity : kDescriptionChars;
    std::memcpy(row.description, adapter.description, strnlen(adapter.description, limit));
  }
  ++m_count;
  return AdapterOutcome::Added;
}

}  // namespace remote
