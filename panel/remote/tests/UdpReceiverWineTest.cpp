// The UDP receiver and the notification broadcast on real sockets under Wine (loopback only):
// order, slots and cuts; the directed broadcast; hostile input; Stop while a delivery waits.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "AdapterList.h"
#include "NotifyBroadcast.h"
#include "UdpReceiver.h"
#include "WineTestSupport.h"

using namespace remotetest;

namespace {

struct Winsock : ::testing::Test {
  WinsockSession winsock;  // keeps the library up between the receiver's own uses
};

using Receiver = Winsock;

TEST_F(Receiver, EveryDatagramInOrderWithSenderCutAndPaddedNinthReusesSlotZero) {
  DatagramWindow window;
  UdpReceiver receiver(window.hwnd());
  ASSERT_EQ(receiver.Start(0), S_OK);
  ASSERT_NE(receiver.BoundPort(), 0);
  {
    UniqueSocket fresh(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    int size = 0, length = sizeof size;
    ASSERT_EQ(::getsockopt(fresh.Get(), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&size), &length), 0);
    std::printf("receive buffer %d bytes, raised from %d\n", receiver.ReceiveBufferBytes(), size);
    EXPECT_EQ(receiver.ReceiveBufferBytes(), 10 * size);
  }
  LoopbackSender sender(receiver.BoundPort());

  const std::size_t lengths[] = {4, 64, 991, 992, 993, 1500, 8000, 65507, 10};
  for (uint32_t n = 0; n < 9; ++n) {
    const std::vector<uint8_t> payload = patternPayload(n, lengths[n]);
    ASSERT_TRUE(sender.Send(payload.data(), static_cast<int>(payload.size())));
    ASSERT_TRUE(pumpUntil([&] { return window.received.size() == n + 1; })) << "datagram " << n;
  }
  for (uint32_t n = 0; n < 9; ++n) {
    const DatagramWindow::Received& r = window.received[n];
    EXPECT_EQ(r.index, n % 8);
    EXPECT_EQ(checkSlot(r.slot, lengths[n]), static_cast<long>(n)) << "slot of datagram " << n;
    sockaddr_in from;
    std::memcpy(&from, r.slot.data(), sizeof from);
    EXPECT_EQ(ntohs(from.sin_port), sender.LocalPort());
  }
  EXPECT_EQ(window.received[8].slotAddress, window.received[0].slotAddress) << "the ninth reuses slot 0";
  EXPECT_EQ(window.received[1].slotAddress, window.received[0].slotAddress + 1024);

  // An empty datagram is delivered too: sender filled in, payload all zero.
  ASSERT_TRUE(sender.Send("", 0));
  ASSERT_TRUE(pumpUntil([&] { return window.received.size() == 10; }));
  const auto& empty = window.received[9].slot;
  EXPECT_EQ(window.received[9].index, 1u);
  EXPECT_EQ(reinterpret_cast<const sockaddr_in*>(empty.data())->sin_family, AF_INET);
  for (std::size_t i = 16; i < 1024; ++i) ASSERT_EQ(empty[i], 0) << i;

  receiver.Stop();
  EXPECT_FALSE(receiver.IsRunning());
  EXPECT_EQ(UdpReceiver::LiveStates(), 0);
  // Stopped means deaf: the port is free again and nothing more arrives.
  sender.Send("late", 4);
  pump(200);
  EXPECT_EQ(window.received.size(), 10u);
}

// Bound to every local address: a datagram to another loopback address arrives as well.
TEST_F(Receiver, ListensOnEveryLocalAddress) {
  DatagramWindow window;
  UdpReceiver receiver(window.hwnd());
  ASSERT_EQ(receiver.Start(0), S_OK);
  UniqueSocket out(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(receiver.BoundPort());
  to.sin_addr.s_addr = htonl(0x7F000002);  // 127.0.0.2
  ASSERT_EQ(::sendto(out.Get(), "other", 5, 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 5);
  ASSERT_TRUE(pumpUntil([&] { return window.received.size() == 1; }));
  EXPECT_EQ(std::memcmp(window.received[0].slot.data() + 32, "other", 6), 0);
  receiver.Stop();
}

TEST_F(Receiver, WrongOrderAndBusyPortFailCleanly) {
  DatagramWindow window;
  UdpReceiver receiver(window.hwnd());
  receiver.Stop();  // not started: nothing
  ASSERT_EQ(receiver.Start(0), S_OK);
  EXPECT_EQ(receiver.Start(0), E_UNEXPECTED) << "already running";
  const uint16_t port = receiver.BoundPort();
  UdpReceiver second(window.hwnd());
  const HRESULT busy = second.Start(port);
  EXPECT_EQ(busy, HRESULT_FROM_WIN32(WSAEADDRINUSE));
  EXPECT_FALSE(second.IsRunning());
  EXPECT_EQ(second.Start(port), E_UNEXPECTED) << "a failed start waits for Stop";
  second.Stop();
  EXPECT_EQ(UdpReceiver::LiveStates(), 1);
  receiver.Stop();
  EXPECT_EQ(UdpReceiver::LiveStates(), 0);
  ASSERT_EQ(second.Start(port), S_OK) << "the port is free after Stop";
  second.Stop();
}

using Broadcast = Winsock;

TEST_F(Broadcast, GoesToTheSubnetsDirectedBroadcastAddressWithSeventeenBytes) {
  DatagramWindow window;
  UdpReceiver receiver(window.hwnd());
  ASSERT_EQ(receiver.Start(0), S_OK);
  // 127.0.0.1 with mask 255.0.0.0: the datagram goes to 127.255.255.255.
  ASSERT_EQ(SendNotifyBroadcast(remote::fromOctets(255, 0, 0, 0), remote::fromOctets(127, 0, 0, 1),
                                receiver.BoundPort(), kNotifyText, kNotifyLength),
            S_OK);
  ASSERT_TRUE(pumpUntil([&] { return window.received.size() == 1; }));
  const auto& slot = window.received[0].slot;
  EXPECT_EQ(kNotifyLength, 17u);
  EXPECT_EQ(std::memcmp(slot.data() + 32, "LumoTechNotifyBC", 17), 0);
  for (std::size_t i = 32 + 17; i < 1024; ++i) ASSERT_EQ(slot[i], 0) << i;
  receiver.Stop();

  // A directed broadcast to a subnet with no receiver, and bad arguments.
  EXPECT_EQ(SendNotifyBroadcast(remote::fromOctets(255, 255, 255, 0), remote::fromOctets(127, 0, 0, 1),
                                receiver.BoundPort(), nullptr, 17),
            E_INVALIDARG);
}

TEST(AdapterScan, TableHoldsTheSystemsUsableAdaptersOnce) {
  AdapterList list;
  std::size_t count = 99;
  ASSERT_TRUE(list.ScanAdapters(&count));
  EXPECT_EQ(count, list.Adapters().size());
  remote::AdapterTable table;
  std::vector<std::size_t> added;
  ASSERT_TRUE(list.ScanIntoTable(table, [&](std::size_t row) { added.push_back(row); }));
  ASSERT_TRUE(list.ScanIntoTable(table, [&](std::size_t row) { added.push_back(row); })) << "twice";
  std::size_t usable = 0;
  for (const remote::RawAdapter& a : list.Adapters()) {
    const auto address = remote::parseDottedQuad(a.address, a.addressCapacity);
    std::printf("adapter \"%.132s\" %.16s/%.16s type %u\n", a.description, a.address, a.mask, a.type);
    if (address && *address != 0) ++usable;
  }
  EXPECT_EQ(table.Count(), std::min<std::size_t>(usable, 16));
  EXPECT_EQ(added.size(), 2 * table.Count()) << "the second scan starts from an empty table";
}

// A flood of datagrams of every size, loopback only, bounded in count and time: every
// delivery is well formed and in order; none is written past its slot.
TEST_F(Receiver, FloodOfEverySizeDeliversInOrderAndWellFormed) {
  DatagramWindow window;
  UdpReceiver receiver(window.hwnd());
  ASSERT_EQ(receiver.Start(0), S_OK);
  const std::size_t lengths[] = {4, 0, 992, 993, 1500, 65507, 64, 5};
  constexpr uint32_t kCount = 20000;
  std::atomic<uint32_t> sent{0};
  std::atomic<bool> done{false};
  std::thread flood([&] {
    LoopbackSender sender(receiver.BoundPort());
    const DWORD end = ::GetTickCount() + 10000;
    for (uint32_t n = 0; n < kCount && static_cast<LONG>(::GetTickCount() - end) < 0; ++n) {
      const std::vector<uint8_t> p = patternPayload(n, lengths[n % 8]);
      sender.Send(p.data(), static_cast<int>(p.size()));
      sent = n + 1;
    }
    done = true;
  });
  pumpUntil([&] { return done.load(); }, 60000);
  flood.join();
  pump(500);  // what is still queued
  receiver.Stop();

  long last = -1;
  std::size_t bad = 0, outOfOrder = 0, empties = 0;
  for (const auto& r : window.received) {
    const long zeroPayload = [&] {
      for (std::size_t i = 32; i < 1024; ++i)
        if (r.slot[i]) return 0;
      return 1;
    }();
    if (zeroPayload) {
      ++empties;  // the zero-length datagrams
      continue;
    }
    uint32_t sequence;
    std::memcpy(&sequence, r.slot.data() + 32, 4);
    const long checked = sequence < kCount ? checkSlot(r.slot, lengths[sequence % 8]) : -1;
    if (checked < 0)
      ++bad;
    else if (checked <= last)
      ++outOfOrder;
    else
      last = checked;
  }
  std::printf("flood: %u sent, %zu delivered (%zu empty)\n", sent.load(), window.received.size(), empties);
  EXPECT_GT(window.received.size(), 0u);
  EXPECT_LE(window.received.size(), sent.load());
  EXPECT_EQ(bad, 0u);
  EXPECT_EQ(outOfOrder, 0u);
  for (std::size_t i = 0; i < window.received.size(); ++i) ASSERT_EQ(window.received[i].index, i % 8);
}

// 100 starts and stops while datagrams keep arriving: nothing grows.
TEST_F(Receiver, HundredTogglesUnderTrafficLeakNothing) {
  DatagramWindow window;
  UdpReceiver receiver(window.hwnd());
  ASSERT_EQ(receiver.Start(0), S_OK);
  const uint16_t port = receiver.BoundPort();
  receiver.Stop();
  auto length = [](uint32_t n) -> std::size_t { return n % 3 ? 200 : 1500; };
  TrafficThread traffic(port, length);
  // Check each delivery in the handler and keep only counts: copies would grow the heap.
  std::size_t delivered = 0, malformed = 0;
  window.onDatagram = [&](const DatagramWindow::Received& r) {
    uint32_t sequence;
    std::memcpy(&sequence, r.slot.data() + 32, 4);
    ++delivered;
    if (checkSlot(r.slot, length(sequence)) != static_cast<long>(sequence)) ++malformed;
    window.received.clear();
  };
  HRESULT firstFailure = S_OK;
  auto cycle = [&] {
    const HRESULT started = receiver.Start(port);
    if (started != S_OK) {
      if (firstFailure == S_OK) firstFailure = started;
      receiver.Stop();
      return false;
    }
    pump(3);
    receiver.Stop();
    return true;
  };
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(cycle());  // warm-up: the libraries' first-use allocations
  traffic.Hold();
  const uintptr_t handlesBefore = handleProbe();
  const std::size_t heapBefore = heapBusyBytes();
  traffic.Resume();
  int started = 0;
  for (int i = 0; i < 100; ++i) started += cycle();
  traffic.Hold();
  const uintptr_t handlesAfter = handleProbe();
  const std::size_t heapAfter = heapBusyBytes();
  const uint32_t sent = traffic.Sent();

  std::printf("toggles: %d started, %zu datagrams delivered of %u sent; heap %zu -> %zu bytes\n", started, delivered,
              sent, heapBefore, heapAfter);
  EXPECT_EQ(started, 100) << "first failure " << std::hex << firstFailure;
  EXPECT_GT(delivered, 0u) << "traffic reached the receiver between toggles";
  EXPECT_EQ(malformed, 0u);
  EXPECT_GT(heapBefore, 0u) << "the heap walk sees the heaps";
  EXPECT_EQ(handlesAfter, handlesBefore) << "a handle leaked per cycle";
  EXPECT_LT(heapAfter, heapBefore + 64 * 1024) << "the heap grew by more than one slot buffer per 8 cycles";
  EXPECT_EQ(UdpReceiver::LiveStates(), 0);
}

// Stop on the window's own thread while a delivery to it is queued: Stop dispatches it, the
// thread leaves, and the state is gone when Stop returns.
TEST_F(Receiver, StopOnTheWindowsThreadLetsAQueuedDeliveryThrough) {
  DatagramWindow window;
  UdpReceiver receiver(window.hwnd());
  ASSERT_EQ(receiver.Start(0), S_OK);
  LoopbackSender sender(receiver.BoundPort());
  const std::vector<uint8_t> p = patternPayload(5, 100);
  ASSERT_TRUE(sender.Send(p.data(), 100));
  // Without dispatching, wait until the receive thread's message waits in our queue.
  const DWORD end = ::GetTickCount() + 20000;
  while (!(HIWORD(::GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) && static_cast<LONG>(::GetTickCount() - end) < 0)
    ::Sleep(5);
  ASSERT_TRUE(HIWORD(::GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) << "delivery pending";
  ASSERT_TRUE(window.received.empty());
  receiver.Stop();
  ASSERT_EQ(window.received.size(), 1u) << "Stop let the delivery through";
  EXPECT_EQ(checkSlot(window.received[0].slot, 100), 5);
  EXPECT_EQ(UdpReceiver::LiveStates(), 0) << "the thread left within the wait";
}

// Stop from inside the datagram handler: the thread waits for that very handler, so Stop must
// not wait for the thread; the thread frees the state once the handler returns.
TEST_F(Receiver, StopInsideTheHandlerReturnsAtOnceAndTheThreadFreesTheBuffer) {
  DatagramWindow window;
  UdpReceiver receiver(window.hwnd());
  ASSERT_EQ(receiver.Start(0), S_OK);
  long liveInHandler = -1;
  DWORD stopTook = 0;
  window.onDatagram = [&](const DatagramWindow::Received&) {
    if (liveInHandler != -1) return;
    const DWORD t0 = ::GetTickCount();
    receiver.Stop();
    stopTook = ::GetTickCount() - t0;
    liveInHandler = UdpReceiver::LiveStates();
  };
  LoopbackSender sender(receiver.BoundPort());
  const std::vector<uint8_t> p = patternPayload(1, 50);
  ASSERT_TRUE(sender.Send(p.data(), 50));
  ASSERT_TRUE(pumpUntil([&] { return liveInHandler != -1; }));
  std::printf("Stop inside the handler took %lu ms\n", stopTook);
  EXPECT_EQ(liveInHandler, 1) << "the blocked thread still owns the buffer";
  EXPECT_TRUE(pumpUntil([] { return UdpReceiver::LiveStates() == 0; })) << "the thread freed it on leaving";
  sender.Send(p.data(), 50);
  pump(200);
  EXPECT_EQ(window.received.size(), 1u);
}

// The target window's thread is stuck: the delivery cannot complete, Stop gives up after its
// wait and returns; the buffer stays alive (the handler reads it intact later) and is freed
// when the thread finally leaves.
TEST_F(Receiver, StopWithADeliveryStuckInAnotherThreadNeverFreesTheBufferUnderIt) {
  HANDLE entered = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE windowReady = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<HWND> target{nullptr};
  std::atomic<long> slotIntact{-1};
  std::atomic<long> liveWhenHandled{-1};
  std::atomic<DWORD> windowThreadId{0};
  std::thread windowThread([&] {
    windowThreadId = ::GetCurrentThreadId();
    DatagramWindow window;
    window.onDatagram = [&](const DatagramWindow::Received& r) {
      ::SetEvent(entered);
      ::WaitForSingleObject(release, INFINITE);
      // The slot as it is now, long after Stop returned.
      std::array<uint8_t, 1024> now;
      std::memcpy(now.data(), r.slotAddress, now.size());
      slotIntact = checkSlot(now, 300) == 9;
      liveWhenHandled = UdpReceiver::LiveStates();
    };
    target = window.hwnd();
    ::SetEvent(windowReady);
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) ::DispatchMessageA(&msg);
  });
  ASSERT_EQ(::WaitForSingleObject(windowReady, 20000), WAIT_OBJECT_0);

  UdpReceiver receiver(target);
  ASSERT_EQ(receiver.Start(0), S_OK);
  LoopbackSender sender(receiver.BoundPort());
  const std::vector<uint8_t> p = patternPayload(9, 300);
  ASSERT_TRUE(sender.Send(p.data(), 300));
  ASSERT_EQ(::WaitForSingleObject(entered, 20000), WAIT_OBJECT_0);

  const DWORD t0 = ::GetTickCount();
  receiver.Stop();
  const DWORD took = ::GetTickCount() - t0;
  std::printf("Stop with a stuck delivery returned after %lu ms\n", took);
  EXPECT_FALSE(receiver.IsRunning());
  EXPECT_EQ(UdpReceiver::LiveStates(), 1) << "Stop left the buffer to the thread";

  ::SetEvent(release);
  const DWORD end = ::GetTickCount() + 20000;
  while (UdpReceiver::LiveStates() != 0 && static_cast<LONG>(::GetTickCount() - end) < 0) ::Sleep(10);
  EXPECT_EQ(UdpReceiver::LiveStates(), 0) << "the thread freed it on leaving";
  EXPECT_EQ(slotIntact, 1) << "the slot was intact when the handler read it";
  EXPECT_EQ(liveWhenHandled, 1);
  ::PostThreadMessageA(windowThreadId, WM_QUIT, 0, 0);
  windowThread.join();
  for (HANDLE h : {entered, release, windowReady}) ::CloseHandle(h);
}

}  // namespace
