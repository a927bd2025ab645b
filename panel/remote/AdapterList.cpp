#include "AdapterList.h"

#include <iphlpapi.h>

#include <new>

namespace {
// A list longer than this is not one the system made.
constexpr std::size_t kMaxListedAdapters = 4096;
}  // namespace

void AdapterList::Release() {
  m_adapters.clear();
  m_buffer.reset();
  m_bufferBytes = 0;
}

bool AdapterList::ScanAdapters(std::size_t* count) {
  if (count) *count = 0;
  Release();
  ULONG bytes = kFirstQueryBytes;
  for (int attempt = 0; attempt < 2; ++attempt) {
    m_buffer.reset(new (std::nothrow) uint8_t[bytes]());
    if (!m_buffer) break;
    m_bufferBytes = bytes;
    const ULONG asked = bytes;
    const DWORD result = ::GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(m_buffer.get()), &bytes);
    if (result == ERROR_SUCCESS) {
      // Walk the list, trusting no link that leaves the buffer.
      const auto begin = reinterpret_cast<uintptr_t>(m_buffer.get());
      for (const IP_ADAPTER_INFO* a = reinterpret_cast<const IP_ADAPTER_INFO*>(m_buffer.get());
           a && m_adapters.size() < kMaxListedAdapters; a = a->Next) {
        const auto at = reinterpret_cast<uintptr_t>(a);
        if (at < begin || at - begin > m_bufferBytes || m_bufferBytes - (at - begin) < sizeof(IP_ADAPTER_INFO)) break;
        m_adapters.push_back(remote::RawAdapter{
            a->IpAddressList.IpAddress.String, sizeof a->IpAddressList.IpAddress.String, a->IpAddressList.IpMask.String,
            sizeof a->IpAddressList.IpMask.String, a->Type, a->Description, sizeof a->Description});
      }
      if (count) *count = m_adapters.size();
      return true;
    }
    if (result != ERROR_BUFFER_OVERFLOW || attempt == 1 || bytes <= asked) break;
  }
  Release();
  return false;
}

bool AdapterList::ScanIntoTable(remote::AdapterTable& table, const std::function<void(std::size_t)>& onRowAdded) {
  table.Clear();
  std::size_t count = 0;
  if (!ScanAdapters(&count)) return false;
  for (const remote::RawAdapter& adapter : m_adapters) {
    if (table.Add(adapter) == remote::AdapterOutcome::Added && onRowAdded) onRowAdded(table.Count() - 1);
  }
  return true;
}
