#include "WinsockSession.h"

WinsockSession::WinsockSession() {
  WSADATA data;
  m_error = ::WSAStartup(MAKEWORD(2, 2), &data);
  m_started = m_error == 0;
}

WinsockSession::~WinsockSession() {
  if (m_started) ::WSACleanup();
}

void UniqueSocket::Reset(SOCKET s) {
  if (m_socket != INVALID_SOCKET) ::closesocket(m_socket);
  m_socket = s;
}
