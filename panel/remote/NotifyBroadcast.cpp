#include "NotifyBroadcast.h"

#include <climits>

#include "WinsockSession.h"

namespace {
HRESULT lastSocketError() {
  const int error = ::WSAGetLastError();
  return error ? HRESULT_FROM_WIN32(static_cast<DWORD>(error)) : E_FAIL;
}
}  // namespace

HRESULT SendNotifyBroadcast(remote::NetAddress mask, remote::NetAddress address, uint16_t port, const void* data,
                            std::size_t length) {
  if ((!data && length) || length > INT_MAX) return E_INVALIDARG;
  WinsockSession winsock;
  if (!winsock.Ok()) return HRESULT_FROM_WIN32(static_cast<DWORD>(winsock.Error()));
  UniqueSocket s(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  if (!s.Valid()) return lastSocketError();
  const BOOL on = TRUE;
  if (::setsockopt(s.Get(), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) != 0)
    return lastSocketError();
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = remote::directedBroadcast(address, mask);  // both already in network order
  const int sent = ::sendto(s.Get(), static_cast<const char*>(data), static_cast<int>(length), 0,
                            reinterpret_cast<const sockaddr*>(&to), sizeof to);
  if (sent == SOCKET_ERROR) return lastSocketError();
  return sent == static_cast<int>(length) ? S_OK : E_FAIL;
}
