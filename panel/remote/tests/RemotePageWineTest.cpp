// The remote page in a skinned dialog under Wine and Xvfb, driven as a user would: the
// network-setting dialog opened from its skin button (adapters, Refresh, OK, Cancel, the
// address in host order, a screenshot), the server button's toggle and checked look, and 100
// toggles while datagrams arrive.
#include <gtest/gtest.h>
#include <iphlpapi.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "PPageRemoteCtrl.h"
#include "PngWriter.h"
#include "RemoteResourceIds.h"
#include "SkinDialog.h"
#include "WineTestSupport.h"

using namespace remotetest;

namespace {

const char kDialogTitle[] = "Network Setting (Remote Control)";

// The main dialog's part in the remote page: builds it, routes the two clicks, answers datagrams.
class CHarnessDialog : public CSkinDialog {
 public:
  std::unique_ptr<CPPageRemoteCtrl> page;
  // The last datagram and a count (no growing copies: the leak checks read the heap).
  std::array<uint8_t, 1024> lastDatagram{};
  std::size_t datagramCount = 0;

  BOOL OnInitDialog() override {
    const BOOL result = CSkinDialog::OnInitDialog();
    ResetSkinPages();
    page = std::make_unique<CPPageRemoteCtrl>(this);
    page->Init();
    ShowSkinButton(CPPageRemoteCtrl::kNetworkButton, 1);
    ShowSkinButton(CPPageRemoteCtrl::kServerButton, 1);
    ShowSkinLabel(CPPageRemoteCtrl::kRemoteIpLabel, 0);
    ShowSkinLabel("TXT_CPL_LOAD", 0);
    return result;
  }
  void OnSkinButtonClicked(const char* name) override {
    if (!page) return;
    if (std::strcmp(name, CPPageRemoteCtrl::kNetworkButton) == 0) page->NetworkSetting();
    if (std::strcmp(name, CPPageRemoteCtrl::kServerButton) == 0) page->ToggleServer();
  }
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
    if (msg == remote::kDatagramMessage) {
      std::memcpy(lastDatagram.data(), reinterpret_cast<const void*>(lParam), lastDatagram.size());
      ++datagramCount;
      return 0;
    }
    return CSkinDialog::WindowProc(msg, wParam, lParam);
  }
};

constexpr int kX = 40, kY = 40;

std::unique_ptr<CHarnessDialog> showHarness() {
  INITCOMMONCONTROLSEX all{sizeof all, 0xFF};
  ::InitCommonControlsEx(&all);
  auto dialog = std::make_unique<CHarnessDialog>();
  if (!dialog->Create()) return nullptr;
  dialog->SetWindowPos(HWND_TOP, kX, kY, 0, 0, SWP_NOSIZE);
  dialog->ShowWindow(SW_SHOW);
  ::SetForegroundWindow(dialog->m_hWnd);
  pump(200);
  return dialog;
}

void click(CSkinDialog& dialog, const char* button) {
  CSkinButton* b = dialog.FindSkinButton(button);
  ASSERT_NE(b, nullptr) << button;
  b->SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  b->SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  pump(20);
}

// The adapters the system lists with an address, read here without the page's code.
struct SystemAdapter {
  std::string address, description;
  uint32_t hostOrder;
};
std::vector<SystemAdapter> systemAdapters() {
  ULONG bytes = 0;
  std::vector<SystemAdapter> result;
  if (::GetAdaptersInfo(nullptr, &bytes) != ERROR_BUFFER_OVERFLOW) return result;
  std::vector<uint8_t> buffer(bytes);
  auto* list = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
  if (::GetAdaptersInfo(list, &bytes) != ERROR_SUCCESS) return result;
  for (IP_ADAPTER_INFO* a = list; a && result.size() < 16; a = a->Next) {
    unsigned o[4];
    if (std::sscanf(a->IpAddressList.IpAddress.String, "%u.%u.%u.%u", &o[0], &o[1], &o[2], &o[3]) != 4) continue;
    if ((o[0] | o[1] | o[2] | o[3]) == 0) continue;
    result.push_back(
        {a->IpAddressList.IpAddress.String, a->Description, (o[0] << 24) | (o[1] << 16) | (o[2] << 8) | o[3]});
  }
  return result;
}

// Runs `steps` on a helper thread against the modal dialog while the UI thread clicks the
// button that opens it (and so stays in the dialog's loop until the steps close it).
void withNetworkDialog(CHarnessDialog& harness, const std::function<void(HWND dialog)>& steps) {
  std::atomic<bool> found{false};
  std::thread driver([&] {
    HWND dialog = nullptr;
    // Visible only once initialised: the modal loop shows it after WM_INITDIALOG.
    for (int i = 0; i < 2000 && !dialog; ++i) {
      dialog = ::FindWindowA("#32770", kDialogTitle);
      if (dialog && !::IsWindowVisible(dialog)) dialog = nullptr;
      if (!dialog) ::Sleep(10);
    }
    if (!dialog) return;
    found = true;
    steps(dialog);
  });
  click(harness, CPPageRemoteCtrl::kNetworkButton);
  driver.join();
  ASSERT_TRUE(found) << "the dialog opened";
  EXPECT_EQ(::FindWindowA("#32770", kDialogTitle), nullptr) << "and closed";
}

HWND item(HWND dialog, int id) { return ::GetDlgItem(dialog, id); }
int comboCount(HWND dialog) {
  return static_cast<int>(::SendMessageA(item(dialog, IDC_RMCT_ADAPTERS), CB_GETCOUNT, 0, 0));
}
std::string comboText(HWND dialog, int i) {
  char text[256] = {};
  ::SendMessageA(item(dialog, IDC_RMCT_ADAPTERS), CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
  return text;
}
DWORD shownAddress(HWND dialog) {
  DWORD address = 0;
  ::SendMessageA(item(dialog, IDC_RMCT_LOCAL_IP), IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
  return address;
}
void command(HWND dialog, int id, int code) {
  ::SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(item(dialog, id)));
}
void choose(HWND dialog, int row) {
  ::SendMessageA(item(dialog, IDC_RMCT_ADAPTERS), CB_SETCURSEL, static_cast<WPARAM>(row), 0);
  command(dialog, IDC_RMCT_ADAPTERS, CBN_SELCHANGE);
}
void setPortText(HWND dialog, const std::string& text) {
  ::SendMessageA(item(dialog, IDC_RMCT_PORT), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::string besideProgram(const char* file) {
  char path[MAX_PATH] = {};
  const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir(path, n);
  return dir.substr(0, dir.find_last_of("\\/") + 1) + file;
}

// Screen pixels of a rectangle, 0x00RRGGBB, rows from the top.
std::vector<uint32_t> screenPixels(const RECT& r) {
  const int w = r.right - r.left, h = r.bottom - r.top;
  std::vector<uint32_t> pixels(static_cast<std::size_t>(w) * h);
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  HBITMAP bitmap = ::CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = ::SelectObject(memory, bitmap);
  ::BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  ::SelectObject(memory, old);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  if (::GetDIBits(memory, bitmap, 0, static_cast<UINT>(h), pixels.data(), &info, DIB_RGB_COLORS) != h) pixels.clear();
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  for (uint32_t& p : pixels) p &= 0x00FFFFFF;
  return pixels;
}

// A face's pixels at a client rectangle of the skin.
std::vector<uint32_t> facePixels(UINT faceId, const RECT& r) {
  HBITMAP face = static_cast<HBITMAP>(
      ::LoadImageA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(faceId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  if (!face) return {};
  BITMAP info{};
  ::GetObjectA(face, sizeof info, &info);
  std::vector<uint32_t> all(static_cast<std::size_t>(info.bmWidth) * info.bmHeight);
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), info.bmWidth, -info.bmHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  HDC screen = ::GetDC(nullptr);
  const int rows = ::GetDIBits(screen, face, 0, static_cast<UINT>(info.bmHeight), all.data(), &bi, DIB_RGB_COLORS);
  ::ReleaseDC(nullptr, screen);
  ::DeleteObject(face);
  if (rows != info.bmHeight) return {};
  std::vector<uint32_t> part;
  for (LONG y = r.top; y < r.bottom; ++y)
    for (LONG x = r.left; x < r.right; ++x)
      part.push_back(all[static_cast<std::size_t>(y) * info.bmWidth + x] & 0x00FFFFFF);
  return part;
}

// Which face the server button shows on the screen: 133 (pressed/checked), 129 (normal), or 0.
// Asked until it shows `expected` or a few seconds pass (drawing reaches the screen late on a
// loaded machine).
UINT serverButtonFace(CHarnessDialog& d, UINT expected) {
  CSkinButton* b = d.FindSkinButton(CPPageRemoteCtrl::kServerButton);
  UINT face = 0;
  const DWORD end = ::GetTickCount() + 5000;
  do {
    b->RedrawWindow(RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    pump(100);
    RECT screen, dialogRect;
    b->GetWindowRect(&screen);
    d.GetWindowRect(&dialogRect);
    const RECT client{screen.left - dialogRect.left, screen.top - dialogRect.top, screen.right - dialogRect.left,
                      screen.bottom - dialogRect.top};
    const std::vector<uint32_t> shown = screenPixels(screen);
    face = 0;
    if (!shown.empty() && shown == facePixels(IDB_SKIN_PRESSED, client)) face = IDB_SKIN_PRESSED;
    if (!shown.empty() && shown == facePixels(IDB_SKIN_NORMAL, client)) face = IDB_SKIN_NORMAL;
  } while (face != expected && static_cast<LONG>(::GetTickCount() - end) < 0);
  return face;
}

// Sets the page's port the way a user can: through the dialog's OK.
void setPortThroughDialog(CHarnessDialog& d, uint16_t port) {
  withNetworkDialog(d, [&](HWND dialog) {
    setPortText(dialog, std::to_string(port));
    command(dialog, IDOK, BN_CLICKED);
  });
}

TEST(RemotePage, InitShowsTheFirstAdaptersAddress) {
  auto d = showHarness();
  ASSERT_TRUE(d);
  const std::vector<SystemAdapter> expected = systemAdapters();
  CSkinLabel* label = d->FindSkinLabel(CPPageRemoteCtrl::kLocalIpLabel);
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(d->page->Setting().port, 5566);
  EXPECT_EQ(d->page->Setting().selectedRow, 0u);
  EXPECT_EQ(d->page->Setting().adapters.Count(), expected.size());
  EXPECT_FALSE(d->page->IsServerRunning());
  if (expected.empty()) {
    EXPECT_FALSE(label->IsWindowVisible()) << "no adapter: the label is hidden";
  } else {
    EXPECT_TRUE(label->IsWindowVisible());
    EXPECT_EQ(label->Text(), expected[0].address);
  }
}

TEST(RemotePage, NetworkDialogShowsAdaptersRefreshesOnceEachAndOkCopiesTheChoiceBack) {
  auto d = showHarness();
  ASSERT_TRUE(d);
  const std::vector<SystemAdapter> expected = systemAdapters();
  const int last = expected.empty() ? 0 : static_cast<int>(expected.size()) - 1;
  struct Seen {
    std::string title, portText;
    int count = -1, countAfterRefresh = -1;
    std::vector<std::string> itemsAfterRefresh;
    DWORD addressAtOpen = 0, addressAfterChoice = 0;
    bool notifyHidden = false, allControls = false;
    std::string png;
    bool pngWritten = false;
  } seen;
  withNetworkDialog(*d, [&](HWND dialog) {
    char title[128] = {};
    ::GetWindowTextA(dialog, title, sizeof title);
    seen.title = title;
    seen.allControls = true;
    for (int id :
         {IDC_RMCT_ADAPTERS, IDC_RMCT_REFRESH, IDC_RMCT_LOCAL_IP, IDC_RMCT_PORT, IDC_RMCT_NOTIFY, IDOK, IDCANCEL})
      seen.allControls = seen.allControls && item(dialog, id);
    seen.notifyHidden = !::IsWindowVisible(item(dialog, IDC_RMCT_NOTIFY));
    seen.count = comboCount(dialog);
    seen.addressAtOpen = shownAddress(dialog);
    char port[16] = {};
    ::GetWindowTextA(item(dialog, IDC_RMCT_PORT), port, sizeof port);
    seen.portText = port;
    command(dialog, IDC_RMCT_REFRESH, BN_CLICKED);
    command(dialog, IDC_RMCT_REFRESH, BN_CLICKED);
    seen.countAfterRefresh = comboCount(dialog);
    for (int i = 0; i < seen.countAfterRefresh; ++i) seen.itemsAfterRefresh.push_back(comboText(dialog, i));
    choose(dialog, last);
    seen.addressAfterChoice = shownAddress(dialog);
    setPortText(dialog, "6001");

    // What a person sees of the dialog.
    ::RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    ::Sleep(500);
    RECT r;
    ::GetClientRect(dialog, &r);
    ::MapWindowPoints(dialog, nullptr, reinterpret_cast<POINT*>(&r), 2);
    // The client area: under Xvfb no window manager draws a frame or caption around it.
    const std::vector<uint32_t> client = screenPixels(r);
    std::vector<uint8_t> rgb;
    for (uint32_t p : client) rgb.insert(rgb.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
    seen.png = besideProgram("remote_network_setting_screenshot.png");
    seen.pngWritten = !client.empty() && skintest::writePng(seen.png, r.right - r.left, r.bottom - r.top, rgb);

    command(dialog, IDOK, BN_CLICKED);
  });
  std::printf("screenshot: %s\n", seen.png.c_str());
  EXPECT_TRUE(seen.pngWritten);
  EXPECT_EQ(seen.title, kDialogTitle);
  EXPECT_TRUE(seen.allControls);
  EXPECT_TRUE(seen.notifyHidden);
  EXPECT_EQ(seen.portText, "5566");
  ASSERT_EQ(seen.count, static_cast<int>(expected.size()));
  EXPECT_EQ(seen.countAfterRefresh, seen.count) << "Refresh twice leaves each adapter once";
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(seen.itemsAfterRefresh[i], expected[i].description);
  if (expected.empty()) {
    EXPECT_EQ(seen.addressAtOpen, 0x7F000001u) << "no adapter: 127.0.0.1";
    GTEST_SKIP() << "the system lists no adapter with an address";
  }
  EXPECT_EQ(seen.addressAtOpen, expected[0].hostOrder) << "host byte order, first octet highest";
  EXPECT_EQ(seen.addressAfterChoice, expected[static_cast<std::size_t>(last)].hostOrder);

  EXPECT_EQ(d->page->Setting().selectedRow, static_cast<std::size_t>(last));
  EXPECT_EQ(d->page->Setting().port, 6001);
  EXPECT_EQ(d->FindSkinLabel(CPPageRemoteCtrl::kLocalIpLabel)->Text(),
            expected[static_cast<std::size_t>(last)].address);
  EXPECT_TRUE(d->FindSkinLabel(CPPageRemoteCtrl::kLocalIpLabel)->IsWindowVisible());
}

TEST(RemotePage, CancelChangesNothing) {
  auto d = showHarness();
  ASSERT_TRUE(d);
  const std::string labelBefore = d->FindSkinLabel(CPPageRemoteCtrl::kLocalIpLabel)->Text();
  const remote::NetworkSetting before = d->page->Setting();
  int count = -1;
  withNetworkDialog(*d, [&](HWND dialog) {
    count = comboCount(dialog);
    if (count > 0) choose(dialog, count - 1);
    setPortText(dialog, "7002");
    command(dialog, IDC_RMCT_REFRESH, BN_CLICKED);
    command(dialog, IDCANCEL, BN_CLICKED);
  });
  EXPECT_EQ(d->page->Setting().port, 5566);
  EXPECT_EQ(d->page->Setting().selectedRow, before.selectedRow);
  EXPECT_EQ(d->page->Setting().adapters.Count(), before.adapters.Count());
  EXPECT_EQ(d->FindSkinLabel(CPPageRemoteCtrl::kLocalIpLabel)->Text(), labelBefore);
}

TEST(RemotePage, ServerButtonTogglesTheReceiverAndItsCheckedLookFollows) {
  auto d = showHarness();
  ASSERT_TRUE(d);
  const uint16_t port = freeUdpPort();
  ASSERT_NE(port, 0);
  setPortThroughDialog(*d, port);
  ASSERT_EQ(d->page->Setting().port, port);
  EXPECT_EQ(serverButtonFace(*d, IDB_SKIN_NORMAL), static_cast<UINT>(IDB_SKIN_NORMAL));

  click(*d, CPPageRemoteCtrl::kServerButton);
  EXPECT_TRUE(d->page->IsServerRunning());
  EXPECT_EQ(d->GetSkinButtonCheck(CPPageRemoteCtrl::kServerButton), 1);
  EXPECT_TRUE(d->FindSkinButton(CPPageRemoteCtrl::kServerButton)->IsWindowEnabled());
  EXPECT_EQ(serverButtonFace(*d, IDB_SKIN_PRESSED), static_cast<UINT>(IDB_SKIN_PRESSED)) << "checked look while running";

  {
    WinsockSession winsock;
    LoopbackSender sender(port);
    const std::vector<uint8_t> p = patternPayload(3, 40);
    ASSERT_TRUE(sender.Send(p.data(), 40));
    ASSERT_TRUE(pumpUntil([&] { return d->datagramCount == 1; })) << "the main window got the datagram";
    EXPECT_EQ(checkSlot(d->lastDatagram, 40), 3);
  }

  d->ShowSkinLabel(CPPageRemoteCtrl::kRemoteIpLabel, 1);
  click(*d, CPPageRemoteCtrl::kServerButton);
  EXPECT_FALSE(d->page->IsServerRunning());
  EXPECT_EQ(d->GetSkinButtonCheck(CPPageRemoteCtrl::kServerButton), 0);
  EXPECT_FALSE(d->FindSkinLabel(CPPageRemoteCtrl::kRemoteIpLabel)->IsWindowVisible());
  EXPECT_EQ(serverButtonFace(*d, IDB_SKIN_NORMAL), static_cast<UINT>(IDB_SKIN_NORMAL));
  EXPECT_EQ(UdpReceiver::LiveStates(), 0);

  // A port someone else holds: the start fails, the button stays unchecked and usable.
  WinsockSession winsock;
  UniqueSocket holder(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  ASSERT_EQ(::bind(holder.Get(), reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
  click(*d, CPPageRemoteCtrl::kServerButton);
  EXPECT_FALSE(d->page->IsServerRunning());
  EXPECT_EQ(d->GetSkinButtonCheck(CPPageRemoteCtrl::kServerButton), 0);
  EXPECT_TRUE(d->FindSkinButton(CPPageRemoteCtrl::kServerButton)->IsWindowEnabled());
  EXPECT_EQ(UdpReceiver::LiveStates(), 0) << "the failed start released what it set up";
}

TEST(RemotePage, HundredTogglesWhileDatagramsArriveLeakNothing) {
  auto d = showHarness();
  ASSERT_TRUE(d);
  const uint16_t port = freeUdpPort();
  setPortThroughDialog(*d, port);
  ASSERT_EQ(d->page->Setting().port, port);
  TrafficThread traffic(port, [](uint32_t n) -> std::size_t { return n % 2 ? 100 : 2000; });
  auto toggleTwice = [&] {
    click(*d, CPPageRemoteCtrl::kServerButton);
    const bool started = d->page->IsServerRunning();
    pump(5);
    click(*d, CPPageRemoteCtrl::kServerButton);
    return started && !d->page->IsServerRunning() && d->GetSkinButtonCheck(CPPageRemoteCtrl::kServerButton) == 0;
  };
  for (int i = 0; i < 5; ++i) toggleTwice();
  traffic.Hold();
  const uintptr_t handlesBefore = handleProbe();
  const std::size_t heapBefore = heapBusyBytes();
  const std::size_t deliveredBefore = d->datagramCount;
  traffic.Resume();
  int good = 0;
  for (int i = 0; i < 100; ++i) good += toggleTwice();
  traffic.Hold();
  const uintptr_t handlesAfter = handleProbe();
  const std::size_t heapAfter = heapBusyBytes();
  std::printf("page toggles: %d clean cycles, %zu datagrams delivered, heap %zu -> %zu bytes\n", good,
              d->datagramCount - deliveredBefore, heapBefore, heapAfter);
  EXPECT_EQ(good, 100);
  EXPECT_GT(d->datagramCount, deliveredBefore) << "datagrams arrived between toggles";
  EXPECT_EQ(handlesAfter, handlesBefore);
  EXPECT_LT(heapAfter, heapBefore + 64 * 1024);
  EXPECT_EQ(UdpReceiver::LiveStates(), 0);
}

TEST(RemotePage, DestroyingThePageStopsTheReceiver) {
  auto d = showHarness();
  ASSERT_TRUE(d);
  const uint16_t port = freeUdpPort();
  setPortThroughDialog(*d, port);
  ASSERT_EQ(d->page->Setting().port, port);
  click(*d, CPPageRemoteCtrl::kServerButton);
  ASSERT_TRUE(d->page->IsServerRunning());
  EXPECT_EQ(UdpReceiver::LiveStates(), 1);
  d->page.reset();
  EXPECT_EQ(UdpReceiver::LiveStates(), 0);
  UdpReceiver again(d->m_hWnd);
  EXPECT_EQ(again.Start(port), S_OK) << "the port is free";
  again.Stop();
}

}  // namespace
