// Remote-control receiver figures on loopback (no verdicts): datagrams per second delivered to
// a window at 64 and 992 payload bytes, the loss of an unpaced burst, and the loss behind a
// slow window (1 ms per datagram) fed at a fixed rate.
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "UdpReceiver.h"
#include "WinsockSession.h"

namespace {

std::atomic<uint64_t> g_delivered{0};
DWORD g_handlerSleepMs = 0;

LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == remote::kDatagramMessage) {
    if (g_handlerSleepMs) ::Sleep(g_handlerSleepMs);
    ++g_delivered;
    return 0;
  }
  return ::DefWindowProcA(hwnd, msg, wParam, lParam);
}

HWND makeWindow() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = windowProc;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  wc.lpszClassName = "RemoteBenchWindow";
  ::RegisterClassA(&wc);
  return ::CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

// Runs the message loop as a user-interface thread does (GetMessage) for a while.
void pumpFor(DWORD ms) {
  const UINT_PTR timer = ::SetTimer(nullptr, 0, ms, nullptr);
  MSG msg;
  while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER && !msg.hwnd && msg.wParam == timer) break;
    ::DispatchMessageA(&msg);
  }
  ::KillTimer(nullptr, timer);
}

// Pumps until the count stops moving for quietMs.
void drain(DWORD quietMs) {
  uint64_t last = ~uint64_t{0};
  while (g_delivered != last) {
    last = g_delivered;
    pumpFor(quietMs);
  }
}

struct Sender {
  explicit Sender(uint16_t port) : s(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)) {
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
  }
  void send(const std::vector<char>& p) {
    ::sendto(s.Get(), p.data(), static_cast<int>(p.size()), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  UniqueSocket s;
  sockaddr_in to{};
};

// Sustained delivery: the sender keeps at most `window` datagrams in flight, so none is lost
// and the figure is the receiver's own pace.
void throughput(HWND window, std::size_t payload, DWORD seconds) {
  UdpReceiver receiver(window);
  if (receiver.Start(0) != S_OK) {
    std::printf("  start failed\n");
    return;
  }
  g_delivered = 0;
  g_handlerSleepMs = 0;
  std::atomic<bool> done{false};
  std::atomic<uint64_t> sent{0};
  const DWORD durationMs = seconds * 1000;
  std::thread sender([&] {
    Sender out(receiver.BoundPort());
    const std::vector<char> p(payload, 'x');
    const DWORD end = ::GetTickCount() + durationMs;
    while (static_cast<LONG>(::GetTickCount() - end) < 0) {
      if (sent - g_delivered >= 64) {
        ::SwitchToThread();
        continue;
      }
      out.send(p);
      ++sent;
    }
    done = true;
  });
  LARGE_INTEGER f, t0, t1;
  ::QueryPerformanceFrequency(&f);
  ::QueryPerformanceCounter(&t0);
  while (!done) pumpFor(20);
  sender.join();
  ::QueryPerformanceCounter(&t1);
  drain(100);
  receiver.Stop();
  const double elapsed = double(t1.QuadPart - t0.QuadPart) / double(f.QuadPart);
  std::printf("  %4zu-byte payload: %8.0f datagrams/s delivered (%llu of %llu in %.2f s, %.1f MB/s)\n", payload,
              double(g_delivered) / elapsed, static_cast<unsigned long long>(g_delivered.load()),
              static_cast<unsigned long long>(sent.load()), elapsed, double(g_delivered) * payload / elapsed / 1e6);
}

// count datagrams at `rate` per second (0: as fast as the sender goes) to a window that takes
// handlerMs per datagram; the loss is what never reached it.
void loss(HWND window, std::size_t payload, uint64_t count, unsigned rate, DWORD handlerMs) {
  UdpReceiver receiver(window);
  if (receiver.Start(0) != S_OK) {
    std::printf("  start failed\n");
    return;
  }
  g_delivered = 0;
  g_handlerSleepMs = handlerMs;
  std::atomic<bool> done{false};
  std::thread sender([&] {
    Sender out(receiver.BoundPort());
    const std::vector<char> p(payload, 'y');
    LARGE_INTEGER f, t0, now;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&t0);
    for (uint64_t n = 0; n < count; ++n) {
      if (rate) {
        const LONGLONG due = t0.QuadPart + static_cast<LONGLONG>(n * f.QuadPart / rate);
        for (::QueryPerformanceCounter(&now); now.QuadPart < due; ::QueryPerformanceCounter(&now)) ::Sleep(0);
      }
      out.send(p);
    }
    done = true;
  });
  while (!done) pumpFor(20);
  sender.join();
  drain(handlerMs ? 1500 : 300);
  receiver.Stop();
  g_handlerSleepMs = 0;
  const uint64_t got = g_delivered;
  std::printf(
      "  %4zu-byte payload, %6llu sent %s, handler %lu ms: %6llu delivered, %6llu lost (%.1f%%); "
      "receive buffer %d bytes\n",
      payload, static_cast<unsigned long long>(count), rate ? "paced" : "unpaced", handlerMs,
      static_cast<unsigned long long>(got), static_cast<unsigned long long>(count - got),
      100.0 * double(count - got) / double(count), receiver.ReceiveBufferBytes());
  if (rate) std::printf("        (paced at %u datagrams/s)\n", rate);
}

}  // namespace

int main() {
  WinsockSession winsock;
  HWND window = makeWindow();
  if (!winsock.Ok() || !window) {
    std::printf("remote bench: no socket library or window\n");
    return 1;
  }
  std::printf("== remote control receiver, loopback, delivered to a window with WM_CPL_DATAGRAM\n");
  throughput(window, 64, 3);
  throughput(window, 992, 3);
  std::printf("== loss\n");
  loss(window, 64, 20000, 0, 0);
  loss(window, 992, 20000, 0, 0);
  loss(window, 992, 5000, 2000, 1);
  loss(window, 64, 5000, 2000, 1);
  ::DestroyWindow(window);
  return 0;
}
