// Owners of Windows Sockets resources: one use of the library (WSAStartup 2.2 ... WSACleanup)
// and one socket.
#pragma once

#include <winsock2.h>

class WinsockSession {
 public:
  WinsockSession();
  ~WinsockSession();
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;

  bool Ok() const { return m_started; }
  int Error() const { return m_error; }  // WSAStartup's answer when it failed

 private:
  bool m_started = false;
  int m_error = 0;
};

class UniqueSocket {
 public:
  UniqueSocket() = default;
  explicit UniqueSocket(SOCKET s) : m_socket(s) {}
  ~UniqueSocket() { Reset(); }
  UniqueSocket(const UniqueSocket&) = delete;
  UniqueSocket& operator=(const UniqueSocket&) = delete;

  SOCKET Get() const { return m_socket; }
  bool Valid() const { return m_socket != INVALID_SOCKET; }
  void Reset(SOCKET s = INVALID_SOCKET);

 private:
  SOCKET m_socket = INVALID_SOCKET;
};
