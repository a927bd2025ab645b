// The control panel under Wine and Xvfb: the main dialog in this process without a device
// (page rules, keys, tray, USB notifications, session end), the ASIO page on the real status
// block and registry, and the program itself in its own process with the virtual DAC and the
// real driver streaming in another process (asiohost).
#include <gtest/gtest.h>

#include <windows.h>
#include <dbt.h>

#include <cstring>
#include <string>
#include <vector>

#include "KestaACPLUIDlg.h"
#include "PPageASIO.h"
#include "PanelMessages.h"
#include "PanelTestSupport.h"
#include "Settings.h"
#include "TessConstants.h"

using namespace paneltest;

namespace {

const char* const kAllPageButtons[] = {
    "BTN_P_384K", "BTN_P_352K", "BTN_P_192K", "BTN_P_176K", "BTN_P_96K", "BTN_P_88K", "BTN_P_48K", "BTN_P_44K",
    "BTN_P_32K", "BTN_P_32B", "BTN_P_24B", "BTN_P_16B", "BTN_P_MUTE", "BTN_P_VOL_GANG",
    "BTN_R_384K", "BTN_R_352K", "BTN_R_192K", "BTN_R_176K", "BTN_R_96K", "BTN_R_88K", "BTN_R_48K", "BTN_R_44K",
    "BTN_R_32K", "BTN_R_32B", "BTN_R_24B", "BTN_R_16B", "BTN_R_MUTE", "BTN_R_VOL_GANG",
    "BTN_ASIO_16B", "BTN_ASIO_24B", "BTN_ASIO_32B", "BTN_ASIO_BFSZ_3MS", "BTN_ASIO_BFSZ_5MS", "BTN_ASIO_BFSZ_10MS",
    "BTN_ASIO_BFSZ_100MS", "BTN_RMCT_NETWORK_SET", "BTN_RMCT_START_SVR"};

bool buttonVisible(CSkinDialog& d, const char* name) {
  CSkinButton* b = d.FindSkinButton(name);
  return b && ::IsWindowVisible(b->m_hWnd);
}
bool labelVisible(CSkinDialog& d, const char* name) {
  CSkinLabel* l = d.FindSkinLabel(name);
  return l && ::IsWindowVisible(l->m_hWnd);
}

// A device-interface notification record as the system delivers it.
struct UsbNotification {
  std::vector<unsigned char> bytes;
  explicit UsbNotification(const char* name) {
    bytes.resize(offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + std::strlen(name) + 1);
    auto* r = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(bytes.data());
    r->dbcc_size = static_cast<DWORD>(bytes.size());
    r->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    std::memcpy(r->dbcc_name, name, std::strlen(name) + 1);
  }
  LPARAM param() { return reinterpret_cast<LPARAM>(bytes.data()); }
};
const char kOurUsbDevice[] = "\\\\?\\USB#VID_1209&PID_0007#5&1a2b&0&1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
const char kOtherUsbDevice[] = "\\\\?\\USB#VID_046D&PID_0A44#5&77&0&2#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

class PanelDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    deleteAsioSettings();
    deletePackageKey();
  }
  std::unique_ptr<CKestaACPLUIDlg> open() {
    auto dialog = std::make_unique<CKestaACPLUIDlg>();
    if (!dialog->Create()) return nullptr;
    dialog->SetWindowPos(HWND_TOP, 40, 40, 0, 0, SWP_NOSIZE);
    dialog->ShowWindow(SW_SHOW);
    pump(300);
    return dialog;
  }
};

TEST_F(PanelDialog, WithoutADeviceOnlyTheFrameShows) {
  auto dialog = open();
  ASSERT_TRUE(dialog);
  EXPECT_EQ(dialog->GetWindowText(), tess::kPanelWindowTitle);
  EXPECT_EQ(::FindWindowA(nullptr, tess::kPanelWindowTitle), dialog->m_hWnd) << "found by its title";
  EXPECT_EQ(dialog->PlayPage(), nullptr);
  EXPECT_EQ(dialog->RecordPage(), nullptr);
  EXPECT_EQ(dialog->AsioPage(), nullptr) << "no device, no ASIO page";
  for (const char* name : kAllPageButtons) EXPECT_FALSE(buttonVisible(*dialog, name)) << name;
  for (const char* name : {"SLDR_P_VOL_L", "SLDR_P_VOL_R", "SLDR_R_VOL_L", "SLDR_R_VOL_R"})
    EXPECT_FALSE(::IsWindowVisible(dialog->FindSkinSlider(name)->m_hWnd)) << name;
  for (const char* name : {"TXT_ASIOSTATE", "TXT_ASIODEVICE", "TXT_ASIOSTATUS", "TXT_ASIOPCM", "TXT_ASIODSD",
                           "TXT_LOCAL_IP", "TXT_REMOTE_IP", "TXT_CPL_LOAD"})
    EXPECT_FALSE(labelVisible(*dialog, name)) << name;
  EXPECT_TRUE(buttonVisible(*dialog, "BTN_HIDE"));
  EXPECT_EQ(dialog->Switches().asioDrv, 1u) << "defaults without the package key";
  EXPECT_EQ(dialog->Switches().playRec, 0u);
  EXPECT_TRUE(dialog->Tray().IsAdded());
  EXPECT_EQ(dialog->Tray().Tip(), tess::kPanelWindowTitle);

  dialog->RedrawWindow(RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  pump(300);
  const std::string png = besideProgram("panel_no_device.png");
  EXPECT_TRUE(screenshot(dialog->m_hWnd, png));
  std::printf("screenshot: %s\n", png.c_str());
}

TEST_F(PanelDialog, KeysAndMinimiseSendItToTheTrayAndTheMenuFollows) {
  auto dialog = open();
  ASSERT_TRUE(dialog);
  auto key = [&](WPARAM vk) {
    MSG msg{dialog->m_hWnd, WM_KEYDOWN, vk, 0, 0, {}};
    if (!CWnd::WalkPreTranslateTree(dialog->m_hWnd, &msg)) ::DispatchMessageA(&msg);
    pump(50);
  };
  key(VK_RETURN);
  EXPECT_TRUE(dialog->IsWindowVisible()) << "Enter does nothing";
  dialog->SendMessage(WM_COMMAND, IDOK);
  pump(50);
  EXPECT_TRUE(dialog->IsWindowVisible()) << "the hidden Exit button does not end a tray program";
  key(VK_ESCAPE);
  EXPECT_FALSE(dialog->IsWindowVisible()) << "Esc hides";
  EXPECT_TRUE(::IsWindow(dialog->m_hWnd));

  dialog->SendMessage(WM_COMMAND, ID_TRAY_SHOW);
  EXPECT_TRUE(dialog->IsWindowVisible());
  dialog->SendMessage(WM_SYSCOMMAND, SC_MINIMIZE);
  EXPECT_FALSE(dialog->IsWindowVisible()) << "minimise hides the window";
  EXPECT_FALSE(::IsIconic(dialog->m_hWnd));
  EXPECT_TRUE(dialog->Tray().IsAdded()) << "the tray icon stays";

  auto menuItems = [](bool visible) {
    HMENU menu = CPanelTray::BuildMenu(visible);
    std::vector<std::pair<std::string, UINT>> items;
    for (int i = 0; i < ::GetMenuItemCount(menu); ++i) {
      char text[32] = {};
      ::GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
      items.emplace_back(text, ::GetMenuItemID(menu, i));
    }
    ::DestroyMenu(menu);
    return items;
  };
  using Items = std::vector<std::pair<std::string, UINT>>;
  EXPECT_EQ(menuItems(true), (Items{{"Hide", ID_TRAY_HIDE}, {"Exit", ID_TRAY_EXIT}}));
  EXPECT_EQ(menuItems(false), (Items{{"Show", ID_TRAY_SHOW}, {"Exit", ID_TRAY_EXIT}}));

  dialog->PostMessage(WM_CPL_TRAY, CPanelTray::kIconId, WM_LBUTTONDBLCLK);
  EXPECT_TRUE(pumpUntil([&] { return dialog->IsWindowVisible(); }, 2000)) << "a double click restores";
}

TEST_F(PanelDialog, UsbRemovalArrivalAndForeignDevices) {
  auto dialog = open();
  ASSERT_TRUE(dialog);
  UsbNotification ours(kOurUsbDevice), other(kOtherUsbDevice);
  dialog->SendMessage(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, ours.param());
  EXPECT_EQ(dialog->Tray().Tip(), "N/A");
  for (const char* name : kAllPageButtons) EXPECT_FALSE(buttonVisible(*dialog, name)) << name;

  dialog->SendMessage(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, other.param());
  EXPECT_EQ(dialog->Tray().Tip(), "N/A") << "a device not in the table changes nothing";
  EXPECT_FALSE(dialog->PendingRescan());

  dialog->SendMessage(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, ours.param());
  EXPECT_EQ(dialog->Tray().Tip(), tess::kPanelWindowTitle);
  EXPECT_TRUE(dialog->PendingRescan()) << "waits for the endpoint to become active";
  // The endpoint's arrival starts the rescan's wait; the window keeps answering meanwhile.
  dialog->SendMessage(WM_CPL_ENDPOINT_ACTIVE);
  EXPECT_FALSE(dialog->PendingRescan());
  const ULONGLONG before = ::GetTickCount64();
  DWORD_PTR answer = 0;
  EXPECT_TRUE(::SendMessageTimeoutA(dialog->m_hWnd, WM_NULL, 0, 0, SMTO_NORMAL, 500, &answer));
  EXPECT_LT(::GetTickCount64() - before, 1500u);

  // A record too short for its type is ignored.
  DEV_BROADCAST_HDR shortRecord{sizeof shortRecord, DBT_DEVTYP_DEVICEINTERFACE, 0};
  dialog->SendMessage(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<LPARAM>(&shortRecord));
  EXPECT_EQ(dialog->Tray().Tip(), tess::kPanelWindowTitle);
}

TEST_F(PanelDialog, SessionEndRunsTheShutdownAndTheShellRestartBringsTheIconBack) {
  auto dialog = open();
  ASSERT_TRUE(dialog);
  const UINT taskbarCreated = ::RegisterWindowMessageA("TaskbarCreated");
  dialog->SendMessage(taskbarCreated);
  EXPECT_TRUE(dialog->Tray().IsAdded()) << "added again after the shell restarted";
  EXPECT_NE(dialog->Manager(), nullptr);
  EXPECT_TRUE(dialog->SendMessage(WM_QUERYENDSESSION));
  dialog->SendMessage(WM_ENDSESSION, TRUE);
  EXPECT_FALSE(dialog->Tray().IsAdded());
  EXPECT_EQ(dialog->Manager(), nullptr) << "endpoint bindings and controller released";
}

// The ASIO page on the real status block and registry -------------------------------------------

class AsioPage : public PanelDialog {};

TEST_F(AsioPage, CreatesTheBlockWithDefaultsAndFollowsARunningDriver) {
  auto dialog = open();
  ASSERT_TRUE(dialog);
  {
    CPPageASIO page(dialog.get());
    EXPECT_EQ(page.Init(), 1);
    ASSERT_TRUE(page.IsMapped());
    tess::StatusBlockView block = page.Block();
    tess::BlockSettings s;
    ASSERT_TRUE(block.readSettings(s));
    EXPECT_EQ(s.bufferSize, 10u);
    EXPECT_EQ(s.bitsPerSample, 32u);
    EXPECT_EQ(s.supportedRates, 2u);
    EXPECT_EQ(s.supportedWidths, 2u);
    EXPECT_EQ(dialog->FindSkinLabel("TXT_ASIOSTATE")->Text(), "UNLOAD");
    EXPECT_EQ(dialog->FindSkinLabel("TXT_ASIODEVICE")->Text(), "Not Available");
    EXPECT_TRUE(buttonVisible(*dialog, "BTN_ASIO_16B"));
    EXPECT_FALSE(buttonVisible(*dialog, "BTN_ASIO_24B"));
    EXPECT_FALSE(buttonVisible(*dialog, "BTN_ASIO_32B"));
    EXPECT_EQ(dialog->GetSkinButtonCheck("BTN_ASIO_32B"), 1) << "the invisible 32-bit button is the checked one";
    EXPECT_EQ(dialog->GetSkinButtonCheck("BTN_ASIO_BFSZ_3MS"), 1) << "1 ms shows at the hidden 3 ms button";

    // A driver in another process would write these; the fields are the same words.
    tess::CStatusBlockMapping driver;
    ASSERT_TRUE(driver.attach(tess::BlockSide::Driver));
    const tess::Identity id{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};
    tess::StatusBlockView d = driver.view();
    ASSERT_TRUE(d.claim(id));
    ASSERT_TRUE(d.publishInit(id, tess::InitPublication{100, 48000, 24, 0xE, 0x1FF}));
    ASSERT_TRUE(d.publishBuffers(id, tess::BuffersPublication{480, false, false, false, false}));
    ASSERT_TRUE(d.publishState(id, tess::kStateRunning));
    EXPECT_EQ(page.PendingCommand(), ID_CPL_REFRESH_ASIO);
    EXPECT_EQ(page.PendingCommand(), 0u) << "taken once";
    page.Refresh();
    EXPECT_EQ(dialog->FindSkinLabel("TXT_ASIOSTATE")->Text(), "RUNNING");
    EXPECT_EQ(dialog->FindSkinLabel("TXT_ASIODEVICE")->Text(), "USB Audio Device2");
    EXPECT_EQ(dialog->FindSkinLabel("TXT_ASIOSTATUS")->Text(), "2 Channel, 24 bits, 48000 Hz, Buffer 10.0 ms");
    EXPECT_TRUE(labelVisible(*dialog, "TXT_ASIOSTATUS"));
    EXPECT_TRUE(labelVisible(*dialog, "TXT_ASIOPCM"));
    EXPECT_TRUE(buttonVisible(*dialog, "BTN_ASIO_24B"));
    ASSERT_TRUE(d.publishDopFlags(id, 1, 1));
    d.raw()->dsd256 = 1;
    page.Refresh();
    EXPECT_FALSE(labelVisible(*dialog, "TXT_ASIOPCM"));
    EXPECT_TRUE(labelVisible(*dialog, "TXT_ASIODSD128")) << "DSD128 wins over DSD256";
    EXPECT_FALSE(labelVisible(*dialog, "TXT_ASIODSD256"));
    EXPECT_FALSE(labelVisible(*dialog, "TXT_ASIODSD"));

    ASSERT_TRUE(d.requestShowPanel());
    EXPECT_EQ(page.PendingCommand(), ID_CPL_SHOW_ASIO);

    // The dialog makes the clicked button the only checked one; the page stores it.
    dialog->SetSkinButtonCheck("BTN_ASIO_32B", 0);
    dialog->SetSkinButtonCheck("BTN_ASIO_24B", 1);
    page.StoreWidth();
    page.StoreBufferSize(5);
    ASSERT_TRUE(block.readSettings(s));
    EXPECT_EQ(s.bitsPerSample, 24u);
    EXPECT_EQ(s.bufferSize, 200u);
    page.RequestReset();
    EXPECT_EQ(block.raw()->resetRequest, 1u);
    DWORD value = 0;
    EXPECT_FALSE(readAsioSetting(tess::kValueBufferSize, &value)) << "written when the page goes";
    d.release(id);
  }
  DWORD value = 0;
  EXPECT_TRUE(readAsioSetting(tess::kValueBufferSize, &value));
  EXPECT_EQ(value, 200u);
  EXPECT_TRUE(readAsioSetting(tess::kValueBitsPerSample, &value));
  EXPECT_EQ(value, 24u);
}

}  // namespace
