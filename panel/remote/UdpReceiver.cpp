#include "UdpReceiver.h"

#include <atomic>
#include <climits>
#include <memory>
#include <new>

#include "DatagramSlots.h"
#include "WinsockSession.h"

namespace {

std::atomic<long> g_liveStates{0};

HRESULT lastSocketError() {
  const int error = ::WSAGetLastError();
  return error ? HRESULT_FROM_WIN32(static_cast<DWORD>(error)) : E_FAIL;
}

HRESULT lastSystemError() {
  const DWORD error = ::GetLastError();
  return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

// Waits for an event while running the messages other threads send to this one (only those:
// posted messages stay queued). Sent messages already pending are run first, and the wait is
// sliced so that one queued before it began is never left waiting.
bool waitDispatchingSentMessages(HANDLE event, DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    MSG msg;
    ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    const DWORD elapsed = ::GetTickCount() - start;
    if (elapsed >= timeoutMs) return false;
    const DWORD slice = timeoutMs - elapsed < 50 ? timeoutMs - elapsed : 50;
    const DWORD r = ::MsgWaitForMultipleObjectsEx(1, &event, slice, QS_SENDMESSAGE, 0);
    if (r == WAIT_OBJECT_0) return true;
    if (r != WAIT_OBJECT_0 + 1 && r != WAIT_TIMEOUT) return false;
  }
}

struct EventHandle {
  HANDLE h = nullptr;
  ~EventHandle() {
    if (h) ::CloseHandle(h);
  }
};

}  // namespace

struct UdpReceiver::ReceiveState {
  explicit ReceiveState(HWND window)
      : target(window), slotBuffer(new (std::nothrow) uint8_t[remote::kSlotBufferSize]()), slots(slotBuffer.get()) {
    ++g_liveStates;
  }
  ~ReceiveState() { --g_liveStates; }
  ReceiveState(const ReceiveState&) = delete;
  ReceiveState& operator=(const ReceiveState&) = delete;

  void AddRef() { ++references; }
  void Release() {
    if (--references == 0) delete this;
  }

  void Run();
  void Deliver(const remote::DatagramSlots::Delivery& d);

  std::atomic<long> references{1};
  const HWND target;
  // Members go in reverse order: the socket first, then the events it signalled, then the
  // library use.
  WinsockSession winsock;
  EventHandle readEvent;  // the socket's FD_READ
  EventHandle stopEvent;
  UniqueSocket socket;
  std::atomic<long> running{0};
  std::atomic<long> delivering{0};  // the thread is inside its synchronous delivery
  std::unique_ptr<uint8_t[]> slotBuffer;
  remote::DatagramSlots slots;
};

void UdpReceiver::ReceiveState::Run() {
  HANDLE events[2] = {stopEvent.h, readEvent.h};
  while (running) {
    const DWORD woke = ::WaitForMultipleObjects(2, events, FALSE, INFINITE);
    if (woke != WAIT_OBJECT_0 + 1) break;  // stop, or the wait itself failed
    WSANETWORKEVENTS happened;
    ::WSAEnumNetworkEvents(socket.Get(), readEvent.h, &happened);  // resets the event
    // Drain what is queued; the event is set again when more arrives.
    while (running) {
      const remote::DatagramSlots::Target place = slots.Prepare();
      int addressLength = static_cast<int>(remote::kSlotAddressBytes);
      const int got = ::recvfrom(socket.Get(), reinterpret_cast<char*>(place.payload),
                                 static_cast<int>(remote::kSlotPayloadCapacity), 0,
                                 reinterpret_cast<sockaddr*>(place.address), &addressLength);
      std::size_t length = 0;
      if (got >= 0) {
        length = static_cast<std::size_t>(got);
      } else {
        const int error = ::WSAGetLastError();
        if (error == WSAEMSGSIZE) {
          length = remote::kSlotPayloadCapacity;  // a longer datagram, cut to its slot
        } else if (error == WSAECONNRESET || error == WSAENETRESET) {
          continue;  // an earlier send's ICMP report: nothing lost, read on
        } else if (error == WSAEWOULDBLOCK) {
          break;  // nothing queued: wait for the next one
        } else {
          ::WaitForSingleObject(stopEvent.h, 10);  // a failing socket: retry, without spinning
          break;
        }
      }
      const remote::DatagramSlots::Delivery d =
          slots.Commit(addressLength > 0 ? static_cast<std::size_t>(addressLength) : 0, length);
      if (!running) break;
      Deliver(d);
    }
  }
}

void UdpReceiver::ReceiveState::Deliver(const remote::DatagramSlots::Delivery& d) {
  delivering = 1;
  ::SendMessageA(target, remote::kDatagramMessage, d.index, reinterpret_cast<LPARAM>(d.slot));
  delivering = 0;
}

DWORD WINAPI UdpReceiver::ReceiveThreadMain(void* parameter) {
  auto* state = static_cast<ReceiveState*>(parameter);
  state->Run();
  state->Release();  // the thread's handle is signalled only after this: Stop waits on it
  return 0;
}

UdpReceiver::UdpReceiver(HWND mainWindow) : m_hMainWindow(mainWindow) {}

UdpReceiver::~UdpReceiver() { Stop(); }

long UdpReceiver::LiveStates() { return g_liveStates; }

bool UdpReceiver::IsRunning() const { return m_pState && m_hThread && m_pState->running; }

HRESULT UdpReceiver::Start(uint16_t port) {
  if (m_pState) return E_UNEXPECTED;
  ReceiveState* state = new (std::nothrow) ReceiveState(m_hMainWindow);
  if (!state) return E_OUTOFMEMORY;
  m_pState = state;
  m_receiveBufferBytes = 0;
  if (!state->slotBuffer) return E_OUTOFMEMORY;

  if (!state->winsock.Ok()) return HRESULT_FROM_WIN32(static_cast<DWORD>(state->winsock.Error()));
  state->socket.Reset(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  if (!state->socket.Valid()) return lastSocketError();
  const SOCKET s = state->socket.Get();

  int size = 0;
  int sizeLength = sizeof size;
  if (::getsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&size), &sizeLength) != 0)
    return lastSocketError();
  const int raised = size > INT_MAX / kReceiveBufferFactor ? INT_MAX : size * kReceiveBufferFactor;
  if (::setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&raised), sizeof raised) != 0)
    return lastSocketError();
  sizeLength = sizeof m_receiveBufferBytes;
  ::getsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&m_receiveBufferBytes), &sizeLength);

  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  local.sin_port = htons(port);
  if (::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) return lastSocketError();
  sockaddr_in bound{};
  int boundLength = sizeof bound;
  if (::getsockname(s, reinterpret_cast<sockaddr*>(&bound), &boundLength) == 0) m_boundPort = ntohs(bound.sin_port);

  state->readEvent.h = ::WSACreateEvent();
  if (state->readEvent.h == WSA_INVALID_EVENT) {
    state->readEvent.h = nullptr;
    return lastSocketError();
  }
  if (::WSAEventSelect(s, state->readEvent.h, FD_READ) != 0) return lastSocketError();
  state->stopEvent.h = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!state->stopEvent.h) return lastSystemError();

  state->running = 1;
  state->AddRef();  // the thread's
  m_hThread = ::CreateThread(nullptr, 0, &ReceiveThreadMain, state, 0, nullptr);
  if (!m_hThread) {
    const HRESULT failure = lastSystemError();
    state->running = 0;
    state->Release();
    return failure;
  }
  return S_OK;
}

void UdpReceiver::Stop() {
  ReceiveState* state = m_pState;
  if (!state) return;
  m_pState = nullptr;
  state->running = 0;
  if (state->stopEvent.h) ::SetEvent(state->stopEvent.h);
  if (m_hThread) {
    // Inside the handler of this receiver's own delivery the thread waits for us: leave it
    // its reference and go.
    const bool insideDelivery = state->delivering &&
                                ::GetWindowThreadProcessId(state->target, nullptr) == ::GetCurrentThreadId() &&
                                (::InSendMessageEx(nullptr) & ISMEX_SEND) != 0;
    if (!insideDelivery) waitDispatchingSentMessages(m_hThread, kStopWaitMs);
    ::CloseHandle(m_hThread);
    m_hThread = nullptr;
  }
  state->Release();
}
