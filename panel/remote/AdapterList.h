// The system's adapter list (IP Helper, GetAdaptersInfo), kept from the last query, and the
// adapter scan that turns it into the remote page's adapter table.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "AdapterTable.h"

class AdapterList {
 public:
  static constexpr DWORD kFirstQueryBytes = 648;

  // Releases the previous answer and asks the system again (once more at the size it asks
  // for). On success count is the number of adapters listed; on failure it is 0 and false
  // comes back.
  bool ScanAdapters(std::size_t* count);

  // The adapters of the last successful query, in the system's order: views into its buffer.
  const std::vector<remote::RawAdapter>& Adapters() const { return m_adapters; }

  // The adapter scan: clears the table, queries, and adds the usable adapters in order;
  // onRowAdded(row) runs for every row added. False when the query failed (table empty).
  bool ScanIntoTable(remote::AdapterTable& table, const std::function<void(std::size_t row)>& onRowAdded = {});

 private:
  void Release();

  std::unique_ptr<uint8_t[]> m_buffer;
  ULONG m_bufferBytes = 0;
  std::vector<remote::RawAdapter> m_adapters;
};
