// What the remote-control Wine tests share: message pumping, a window that records the
// datagrams it is handed, a loopback sender, and leak probes that work under Wine.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "WinsockSession.h"

namespace remotetest {

// Dispatches this thread's messages (through the framework's pre-translation) for a while.
void pump(int milliseconds);
// Pumps until done() or the time limit; true when done.
bool pumpUntil(const std::function<bool()>& done, int limitMs = 20000);

// A message-only window that copies every datagram slot it is handed.
class DatagramWindow {
 public:
  struct Received {
    WPARAM index;
    const uint8_t* slotAddress;
    std::array<uint8_t, 1024> slot;
  };
  DatagramWindow();
  ~DatagramWindow();
  HWND hwnd() const { return m_hwnd; }
  std::vector<Received> received;
  // Runs inside the handler after the copy (a slow or stopping window).
  std::function<void(const Received&)> onDatagram;

 private:
  static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
  HWND m_hwnd = nullptr;
};

// A UDP socket bound to 127.0.0.1 that sends to 127.0.0.1:port.
class LoopbackSender {
 public:
  explicit LoopbackSender(uint16_t port);
  bool Send(const void* data, int length);
  uint16_t LocalPort() const { return m_localPort; }

 private:
  WinsockSession m_winsock;
  UniqueSocket m_socket;
  sockaddr_in m_to{};
  uint16_t m_localPort = 0;
};

// A thread sending datagrams to 127.0.0.1:port until destroyed; it can be held still while
// the leak probes read (its own socket calls open and close handles of their own).
class TrafficThread {
 public:
  // payloadLength(n): the length of datagram n (filled with patternPayload).
  TrafficThread(uint16_t port, std::function<std::size_t(uint32_t)> payloadLength);
  ~TrafficThread();
  void Hold();  // returns once the thread sends no more
  void Resume();
  uint32_t Sent() const { return m_sent; }

 private:
  void Run();
  uint16_t m_port;
  std::function<std::size_t(uint32_t)> m_length;
  std::atomic<bool> m_stop{false}, m_hold{false}, m_held{false};
  std::atomic<uint32_t> m_sent{0};
  HANDLE m_thread = nullptr;
};

// A UDP port nobody holds at the moment of asking.
uint16_t freeUdpPort();

// The payload a test sends as datagram number sequence, length bytes.
std::vector<uint8_t> patternPayload(uint32_t sequence, std::size_t length);
// Checks a delivered slot: IPv4 sender 127.0.0.1, zeros at 16..31, payload = the pattern of its
// sequence cut at 992, zeros after. Returns the sequence, or -1 when the slot is wrong.
long checkSlot(const std::array<uint8_t, 1024>& slot, std::size_t sentLength);

// Under Wine the process handle count reads 0; the value of the last of many fresh handles
// moves up when handles leak, since the lowest free ones are given out first.
uintptr_t handleProbe();
// Bytes in use in every heap of the process.
std::size_t heapBusyBytes();

}  // namespace remotetest
