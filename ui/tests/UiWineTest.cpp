// The UI framework against real windows under Wine: a dialog from a template with its modal
// loop, subclassed controls with their wrappers, message dispatch and owner-draw reflection.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <string>
#include <vector>

#include "Controls.h"
#include "Dialog.h"
#include "Gdi.h"
#include "GdiCount.h"
#include "NotifyIcon.h"
#include "UiTestIds.h"
#include "WinApp.h"

namespace {

constexpr UINT_PTR kCheckTimer = 7;

class COwnerButton : public CButton {
 public:
  int draws = 0;
  int upClicks = 0;
  int preTranslated = 0;
  void DrawItem(DRAWITEMSTRUCT* dis) override {
    ++draws;
    ::FillRect(dis->hDC, &dis->rcItem, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
  }
  BOOL PreTranslateMessage(MSG* msg) override {
    if (msg->message == WM_APP) ++preTranslated;
    return FALSE;
  }

 protected:
  void OnLButtonUp(UINT flags, POINT point) override {
    ++upClicks;
    CButton::OnLButtonUp(flags, point);
  }
};

class CTestDialog : public CDialog {
 public:
  CTestDialog() : CDialog(IDD_UI_TEST) {}

  CComboBox combo;
  CIPAddressCtrl ip;
  CSliderCtrl slider;
  COwnerButton button;
  CToolTipCtrl tooltip;
  std::vector<std::string> failures;
  int timerTicks = 0;
  bool initialised = false;

  void expect(bool ok, const char* what) {
    if (!ok) failures.push_back(what);
  }

  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    initialised = true;
    expect(combo.SubclassDlgItem(IDC_TEST_COMBO, this), "combo bound");
    expect(ip.SubclassDlgItem(IDC_TEST_IP, this), "ip bound");
    expect(slider.SubclassDlgItem(IDC_TEST_SLIDER, this), "slider bound");
    expect(button.SubclassDlgItem(IDC_TEST_BUTTON, this), "button bound");
    expect(!button.SubclassWindow(button.m_hWnd), "a window binds to one object only");
    expect(CWnd::FromHandlePermanent(combo.m_hWnd) == &combo, "handle maps to its object");
    expect(tooltip.Create(this), "tooltip created");
    expect(tooltip.AddTool(&button, "Owner drawn", nullptr, 1), "tool added");
    SetTimer(kCheckTimer, 10);
    PostMessage(WM_APP);  // goes through the modal loop's pre-translation
    ::PostMessageA(button.m_hWnd, WM_APP, 0, 0);
    return TRUE;
  }

 protected:
  void OnTimer(UINT_PTR id) override {
    if (id != kCheckTimer) return CDialog::OnTimer(id);
    if (++timerTicks < 3) return;
    KillTimer(kCheckTimer);
    CheckControls();
    EndDialog(42);
  }

 private:
  void CheckControls() {
    expect(combo.AddString("44100") == 0, "add string");
    expect(combo.AddString("48000") == 1, "add second string");
    expect(combo.GetCount() == 2, "count");
    expect(combo.SetCurSel(1) == 1 && combo.GetCurSel() == 1, "selection");
    expect(combo.GetLBText(1) == "48000", "item text");
    expect(combo.GetLBText(9).empty(), "bad index gives empty text");
    expect(combo.FindStringExact(-1, "44100") == 0, "find");
    expect(combo.SetItemData(0, 1234) && combo.GetItemData(0) == 1234, "item data");

    ip.SetAddress(MAKEIPADDRESS(192, 168, 1, 20));
    DWORD address = 0;
    expect(ip.GetAddress(address) == 4 && address == MAKEIPADDRESS(192, 168, 1, 20), "ip address");
    ip.ClearAddress();
    expect(ip.IsBlank(), "ip cleared");

    slider.SetRange(0, 100);
    slider.SetPos(30);
    expect(slider.GetPos() == 30 && slider.GetRangeMax() == 100, "trackbar position");
    RECT thumb{};
    slider.GetThumbRect(&thumb);
    expect(thumb.right > thumb.left, "thumb rectangle");

    expect(tooltip.GetToolCount() == 1, "tool count");
    tooltip.UpdateTipText("Renamed", &button, 1);

    button.Invalidate();
    button.UpdateWindow();
    expect(button.draws > 0, "owner drawing reflected to the button");
    button.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    button.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    expect(button.upClicks == 1, "mouse message reached the handler");
    expect(button.preTranslated == 1, "posted message pre-translated by the control");
    expect(GetWindowText() == "UI framework test", "window text");
  }
};

TEST(UiFramework, ModalDialogFromTemplateRunsItsLoopAndControls) {
  CTestDialog dialog;
  EXPECT_EQ(dialog.DoModal(), 42);
  EXPECT_TRUE(dialog.initialised);
  for (const std::string& f : dialog.failures) ADD_FAILURE() << f;
  EXPECT_EQ(dialog.m_hWnd, nullptr) << "the modal loop destroys the dialog";
  EXPECT_EQ(dialog.combo.m_hWnd, nullptr) << "children detach when destroyed";
  EXPECT_STREQ(dialog.RuntimeClassName(), "CDialog");
  EXPECT_TRUE(dialog.slider.IsKindOf(RUNTIME_CLASS(CWnd)));
}

TEST(UiFramework, MissingTemplateFailsCleanly) {
  CDialog dialog(9999);
  EXPECT_EQ(dialog.DoModal(), -1);
  EXPECT_FALSE(dialog.Create());
}

TEST(UiFramework, OkEndsTheDialogAndQuitEndsTheLoop) {
  class CQuitting : public CDialog {
   public:
    CQuitting() : CDialog(IDD_UI_TEST) {}
    BOOL OnInitDialog() override {
      PostMessage(WM_COMMAND, IDOK);
      return TRUE;
    }
  } okDialog;
  EXPECT_EQ(okDialog.DoModal(), IDOK);

  CDialog quitDialog(IDD_UI_TEST);
  ::PostQuitMessage(3);
  EXPECT_EQ(quitDialog.DoModal(), IDCANCEL);
  MSG msg;
  EXPECT_TRUE(::PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "quit left for the outer loop";
}

TEST(UiFramework, ApplicationObjectRunsInitInstance) {
  class CTestApp : public CWinApp {
   public:
    bool inited = false;
    BOOL InitInstance() override {
      inited = true;
      SetRegistryKey("Local AppWizard-Generated Applications");
      return FALSE;
    }
    int ExitInstance() override { return 5; }
  } app;
  EXPECT_EQ(CWinApp::Current(), &app);
  EXPECT_EQ(app.RunApplication(::GetModuleHandleA(nullptr)), 5);
  EXPECT_TRUE(app.inited);
  EXPECT_EQ(app.RegistryKey(), "Local AppWizard-Generated Applications");
}

TEST(UiFramework, NotificationIconAddsModifiesAndDeletes) {
  CDialog owner(IDD_UI_TEST);
  ASSERT_TRUE(owner.Create());
  CNotifyIcon icon;
  EXPECT_GE(CNotifyIcon::RecordSize(), static_cast<DWORD>(NOTIFYICONDATAA_V2_SIZE));
  HICON appIcon = ::LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
  EXPECT_TRUE(icon.Add(owner.m_hWnd, 50, WM_APP + 1, appIcon, "Tessaline USB Audio Control Panel2"));
  EXPECT_STREQ(icon.Record().szTip, "Tessaline USB Audio Control Panel2");
  EXPECT_TRUE(icon.Modify(nullptr, "N/A"));
  EXPECT_STREQ(icon.Record().szTip, "N/A");
  EXPECT_TRUE(icon.Delete());
  EXPECT_FALSE(icon.IsAdded());
  EXPECT_FALSE(icon.Delete()) << "deleting twice does nothing";
  owner.DestroyWindow();
}

TEST(UiFramework, GdiOwnersRelease) {
  // One round first: the system keeps caches (screen DC, fonts) from the first use on.
  int before = -1;
  for (int round = 0; round < 2; ++round) {
    before = uitest::liveGdiObjects();
    ASSERT_GT(before, 0) << "the GDI handle table can be read";
    CBitmap bitmap;
    EXPECT_FALSE(bitmap.LoadBitmap(::GetModuleHandleA(nullptr), 4242));
    EXPECT_EQ(bitmap.GetSize().cx, 0);
    CClientDC screen(nullptr);
    bitmap.Attach(::CreateCompatibleBitmap(screen, 7, 3));
    EXPECT_EQ(bitmap.GetSize().cx, 7);
    EXPECT_EQ(bitmap.GetSize().cy, 3);
    bitmap.Attach(::CreateCompatibleBitmap(screen, 5, 5));  // the first one is deleted
    CFont font(::CreateFontA(-12, 0, 0, 0, FW_BOLD, TRUE, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Arial"));
    CMemoryDC memory(screen);
    CSelectObject selected(memory, bitmap);
    CSelectObject fontSelected(memory, font);
    EXPECT_TRUE(selected.Selected());
    if (round == 1) {
      EXPECT_EQ(uitest::liveGdiObjects(), before + 3) << "bitmap, font and memory DC";
    }
  }
  EXPECT_EQ(uitest::liveGdiObjects(), before) << "every owner released what it held";
}

// A window whose click handler destroys it, and which deletes itself in PostNcDestroy as a
// window object that owns its own life does. Its memory is kept and poisoned on delete, so a
// write after the deletion shows.
class CSelfDeleting : public CButton {
 public:
  static int deletions;
  static void* lastStorage;
  static void* operator new(std::size_t size) {
    lastStorage = ::operator new(size);
    return lastStorage;
  }
  static void operator delete(void* p, std::size_t size) {
    ++deletions;
    std::memset(p, 0xDD, size);  // kept, not freed, so that the test can read it
  }
  void PostNcDestroy() override { delete this; }

 protected:
  void OnLButtonUp(UINT, POINT) override { DestroyWindow(); }
};
int CSelfDeleting::deletions = 0;
void* CSelfDeleting::lastStorage = nullptr;

TEST(UiFramework, AHandlerMayDestroyItsWindowAndTheObjectWithIt) {
  CDialog owner(IDD_UI_TEST);
  ASSERT_TRUE(owner.Create());
  auto* button = new CSelfDeleting;
  void* storage = CSelfDeleting::lastStorage;
  ASSERT_TRUE(button->Create("x", WS_VISIBLE, RECT{0, 0, 20, 20}, &owner, 77));
  HWND hWnd = button->m_hWnd;
  ::SendMessageA(hWnd, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
  EXPECT_FALSE(::IsWindow(hWnd));
  EXPECT_EQ(CSelfDeleting::deletions, 1) << "PostNcDestroy ran once, after the handler";
  const auto* bytes = static_cast<const unsigned char*>(storage);
  std::size_t touched = 0;
  for (std::size_t i = 0; i < sizeof(CSelfDeleting); ++i)
    if (bytes[i] != 0xDD) ++touched;
  EXPECT_EQ(touched, 0u) << "nothing is written to the object after it deleted itself";
  ::operator delete(storage);
  owner.DestroyWindow();
}

TEST(UiFramework, DispatchReachesDeviceSessionAndPrivateMessageHandlers) {
  class CHandlers : public CDialog {
   public:
    CHandlers() : CDialog(IDD_UI_TEST) {}
    std::vector<std::string> seen;
    UINT registered = ::RegisterWindowMessageA("TessUiTest.Registered");

   protected:
    BOOL OnDeviceChange(UINT event, DWORD_PTR) override {
      seen.push_back("device " + std::to_string(event));
      return TRUE;
    }
    HCURSOR OnQueryDragIcon() override {
      seen.push_back("drag icon");
      return reinterpret_cast<HCURSOR>(static_cast<INT_PTR>(0x1234));
    }
    BOOL OnQueryEndSession() override {
      seen.push_back("query end");
      return TRUE;
    }
    void OnEndSession(BOOL ending) override { seen.push_back(ending ? "end" : "no end"); }
    bool OnPrivateMessage(UINT msg, WPARAM wParam, LPARAM, LRESULT* result) override {
      if (msg == 0x8001) seen.push_back("private " + std::to_string(wParam));
      else if (msg == registered) seen.push_back("registered");
      else return false;
      *result = 42;
      return true;
    }
  } dialog;
  ASSERT_TRUE(dialog.Create());
  EXPECT_EQ(dialog.SendMessage(WM_DEVICECHANGE, 0x8000), TRUE);
  EXPECT_EQ(dialog.SendMessage(WM_QUERYDRAGICON), 0x1234);
  EXPECT_EQ(dialog.SendMessage(WM_QUERYENDSESSION), TRUE);
  dialog.SendMessage(WM_ENDSESSION, TRUE);
  EXPECT_EQ(dialog.SendMessage(0x8001, 7), 42);
  EXPECT_EQ(dialog.SendMessage(dialog.registered), 42);
  const std::vector<std::string> expected = {"device 32768", "drag icon", "query end", "end", "private 7", "registered"};
  EXPECT_EQ(dialog.seen, expected);
  dialog.DestroyWindow();
}

}  // namespace
