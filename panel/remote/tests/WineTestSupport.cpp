#include "WineTestSupport.h"

#include <cstring>
#include <utility>

#include "RemoteMessages.h"
#include "Wnd.h"

namespace remotetest {

void pump(int milliseconds) {
  const DWORD end = ::GetTickCount() + static_cast<DWORD>(milliseconds);
  do {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (!CWnd::WalkPreTranslateTree(nullptr, &msg)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
      }
    }
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  } while (static_cast<LONG>(::GetTickCount() - end) < 0);
}

bool pumpUntil(const std::function<bool()>& done, int limitMs) {
  const DWORD end = ::GetTickCount() + static_cast<DWORD>(limitMs);
  while (!done()) {
    if (static_cast<LONG>(::GetTickCount() - end) >= 0) return false;
    pump(5);
  }
  return true;
}

namespace {
const char kWindowClass[] = "RemoteTestDatagramWindow";
}

DatagramWindow::DatagramWindow() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = &DatagramWindow::Proc;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  wc.lpszClassName = kWindowClass;
  ::RegisterClassA(&wc);  // a second registration fails harmlessly
  m_hwnd = ::CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, this);
}

DatagramWindow::~DatagramWindow() {
  if (m_hwnd) ::DestroyWindow(m_hwnd);
}

LRESULT CALLBACK DatagramWindow::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<DatagramWindow*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (msg == remote::kDatagramMessage && self) {
    Received r{wParam, reinterpret_cast<const uint8_t*>(lParam), {}};
    std::memcpy(r.slot.data(), r.slotAddress, r.slot.size());
    self->received.push_back(r);
    if (self->onDatagram) self->onDatagram(self->received.back());
    return 0;
  }
  return ::DefWindowProcA(hwnd, msg, wParam, lParam);
}

LoopbackSender::LoopbackSender(uint16_t port) {
  m_socket.Reset(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(m_socket.Get(), reinterpret_cast<sockaddr*>(&local), sizeof local);
  int length = sizeof local;
  if (::getsockname(m_socket.Get(), reinterpret_cast<sockaddr*>(&local), &length) == 0)
    m_localPort = ntohs(local.sin_port);
  m_to.sin_family = AF_INET;
  m_to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  m_to.sin_port = htons(port);
}

bool LoopbackSender::Send(const void* data, int length) {
  return ::sendto(m_socket.Get(), static_cast<const char*>(data), length, 0, reinterpret_cast<sockaddr*>(&m_to),
                  sizeof m_to) == length;
}

TrafficThread::TrafficThread(uint16_t port, std::function<std::size_t(uint32_t)> payloadLength)
    : m_port(port), m_length(std::move(payloadLength)) {
  m_thread = ::CreateThread(
      nullptr, 0,
      [](void* self) -> DWORD {
        static_cast<TrafficThread*>(self)->Run();
        return 0;
      },
      this, 0, nullptr);
}

TrafficThread::~TrafficThread() {
  m_stop = true;
  if (m_thread) {
    ::WaitForSingleObject(m_thread, INFINITE);
    ::CloseHandle(m_thread);
  }
}

void TrafficThread::Hold() {
  m_hold = true;
  while (m_thread && !m_held) ::Sleep(1);
}

void TrafficThread::Resume() {
  m_hold = false;
  while (m_thread && m_held) ::Sleep(1);
}

void TrafficThread::Run() {
  WinsockSession winsock;
  LoopbackSender sender(m_port);
  for (uint32_t n = 0; !m_stop; ++n) {
    if (m_hold) {
      m_held = true;
      while (m_hold && !m_stop) ::Sleep(1);
      m_held = false;
    }
    const std::vector<uint8_t> p = patternPayload(n, m_length(n));
    sender.Send(p.data(), static_cast<int>(p.size()));
    m_sent = n + 1;
    if (n % 16 == 0) ::Sleep(1);
  }
}

uint16_t freeUdpPort() {
  WinsockSession winsock;
  UniqueSocket s(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  sockaddr_in local{};
  local.sin_family = AF_INET;
  if (::bind(s.Get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) return 0;
  int length = sizeof local;
  if (::getsockname(s.Get(), reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
  return ntohs(local.sin_port);
}

std::vector<uint8_t> patternPayload(uint32_t sequence, std::size_t length) {
  std::vector<uint8_t> p(length);
  for (std::size_t i = 0; i < length; ++i) p[i] = static_cast<uint8_t>(sequence * 7 + i);
  if (length >= 4) std::memcpy(p.data(), &sequence, 4);
  return p;
}

long checkSlot(const std::array<uint8_t, 1024>& slot, std::size_t sentLength) {
  sockaddr_in from;
  std::memcpy(&from, slot.data(), sizeof from);
  if (from.sin_family != AF_INET || from.sin_addr.s_addr != htonl(INADDR_LOOPBACK)) return -1;
  for (std::size_t i = 8; i < 32; ++i)
    if (slot[i] != 0) return -1;
  if (sentLength < 4) return -1;
  uint32_t sequence;
  std::memcpy(&sequence, slot.data() + 32, 4);
  const std::vector<uint8_t> expected = patternPayload(sequence, sentLength < 992 ? sentLength : 992);
  if (std::memcmp(slot.data() + 32, expected.data(), expected.size()) != 0) return -1;
  for (std::size_t i = 32 + expected.size(); i < 1024; ++i)
    if (slot[i] != 0) return -1;
  return static_cast<long>(sequence);
}

uintptr_t handleProbe() {
  // Fill the table's holes first: a leaked handle may sit above the lowest free slot, and is
  // then seen only by a handle made after every hole below it is taken.
  std::vector<HANDLE> probes;
  for (int i = 0; i < 512; ++i) probes.push_back(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
  const auto value = reinterpret_cast<uintptr_t>(probes.back());
  for (HANDLE h : probes) ::CloseHandle(h);
  return value;
}

std::size_t heapBusyBytes() {
  HANDLE heaps[64];
  const DWORD count = ::GetProcessHeaps(64, heaps);
  std::size_t busy = 0;
  for (DWORD i = 0; i < count && i < 64; ++i) {
    if (!::HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY entry{};
    while (::HeapWalk(heaps[i], &entry))
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) busy += entry.cbData;
    ::HeapUnlock(heaps[i]);
  }
  return busy;
}

}  // namespace remotetest
