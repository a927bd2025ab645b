// UdpReceiver: listens on a UDP port (all local addresses) with one receive thread and hands
// every datagram to a window as WM_CPL_DATAGRAM (remote::kDatagramMessage: slot index, slot
// address), in arrival order, through eight 1024-byte slots used round-robin.
//
// Stop and the slot buffer: everything the receive thread touches (socket, events, slot
// buffer, library use) lives in one reference-counted state; the thread holds a reference until
// it has left. Stop clears the running flag, wakes the thread and waits up to 5000 ms for it to
// end (on the thread handle, so that the socket is closed and the port free when it returns),
// meanwhile dispatching messages sent to this thread (so a delivery to a window of this
// thread completes instead of deadlocking). When the wait cannot end (Stop called from inside
// the datagram handler, or the target window's thread is stuck) Stop does not wait, or stops
// waiting, and lets go of its reference: the thread sees the cleared flag when its delivery
// returns, delivers nothing more, and frees the state as it leaves. So Stop never frees the
// buffer under the thread, waits at most 5000 ms (only when the target's thread is stuck) and
// does not wait at all inside the handler. A stuck delivery keeps the port bound until it ends.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>

#include "RemoteMessages.h"

class UdpReceiver {
 public:
  static constexpr DWORD kStopWaitMs = 5000;
  static constexpr int kReceiveBufferFactor = 10;  // the socket's receive buffer is raised this much

  // mainWindow: the target of the datagram messages.
  explicit UdpReceiver(HWND mainWindow);
  ~UdpReceiver();  // stops
  UdpReceiver(const UdpReceiver&) = delete;
  UdpReceiver& operator=(const UdpReceiver&) = delete;

  // Binds 0.0.0.0:port and starts the receive thread. S_OK, or the failure of the first step
  // that failed (an HRESULT from the socket or system error), leaving what was set up for
  // Stop. E_UNEXPECTED when already started and not stopped.
  HRESULT Start(uint16_t port);
  // Ends reception and releases what Start set up; nothing when not started.
  void Stop();

  bool IsRunning() const;
  // The port bound by the last successful bind (the system's choice when Start was given 0).
  uint16_t BoundPort() const { return m_boundPort; }
  // The socket's receive buffer size after Start raised it (0 before).
  int ReceiveBufferBytes() const { return m_receiveBufferBytes; }

  // Receive states alive in the process, the stopped ones whose thread has not left yet
  // included. For tests of the buffer's lifetime.
  static long LiveStates();

 private:
  struct ReceiveState;
  static DWORD WINAPI ReceiveThreadMain(void* state);

  HWND m_hMainWindow;
  ReceiveState* m_pState = nullptr;  // this object's reference
  HANDLE m_hThread = nullptr;
  uint16_t m_boundPort = 0;
  int m_receiveBufferBytes = 0;
};
