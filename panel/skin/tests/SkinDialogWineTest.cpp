// The skin toolkit with real windows under Wine and Xvfb: the shipped skin, the by-name
// operations, mouse input to a button, a label and a slider, the window's shape, a screenshot
// with pixel checks, and missing bitmaps.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "GdiCount.h"
#include "PngWriter.h"
#include "SkinDialog.h"
#include "SkinTables.h"

namespace {

// Pumps this thread's messages for a while, through the framework's pre-translation.
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

// Closes the skin's message boxes as they appear and keeps their texts.
class MessageBoxWatcher {
 public:
  MessageBoxWatcher() : thread_([this] { watch(); }) {}
  ~MessageBoxWatcher() {
    stop_ = true;
    thread_.join();
  }
  std::vector<std::string> texts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_;
  }

 private:
  void watch() {
    while (!stop_) {
      HWND box = ::FindWindowA("#32770", CSkinDialog::kMessageCaption);
      if (box && box != lastBox_) {
        lastBox_ = box;  // a box may take a moment to close
        char text[256] = {};
        ::GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
        {
          std::lock_guard<std::mutex> lock(mutex_);
          texts_.push_back(text);
        }
      }
      if (box) ::PostMessageA(box, WM_COMMAND, IDOK, 0);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  std::atomic<bool> stop_{false};
  HWND lastBox_ = nullptr;
  std::mutex mutex_;
  std::vector<std::string> texts_;
  std::thread thread_;
};

class CTestSkinDialog : public CSkinDialog {
 public:
  struct SliderChange {
    std::string name;
    int code, value;
  };
  std::vector<std::string> clicks;
  std::vector<std::string> labelClicks;
  std::vector<SliderChange> sliderChanges;

  void OnSkinButtonClicked(const char* name) override { clicks.push_back(name); }
  void OnSkinLabelClicked(const char* name) override { labelClicks.push_back(name); }
  void OnSkinSliderChanged(const char* name, int code, int value) override {
    sliderChanges.push_back(SliderChange{name, code, value});
  }
  std::vector<std::string> mouseOvers;
  void OnSkinMouseOver(const char* name, int, int) override { mouseOvers.push_back(name); }

  // Caption clicks are recorded, not run: the system's move loop would wait for the mouse.
  std::vector<std::pair<WPARAM, POINT>> captionClicks;
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
    if (msg == WM_NCLBUTTONDOWN) {
      captionClicks.emplace_back(wParam, POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
      return 0;
    }
    return CSkinDialog::WindowProc(msg, wParam, lParam);
  }
};

constexpr int kWindowX = 40, kWindowY = 40;

// The dialog, modeless, at a known place on the screen.
std::unique_ptr<CTestSkinDialog> showDialog(HINSTANCE skinModule = nullptr) {
  auto dialog = std::make_unique<CTestSkinDialog>();
  if (skinModule) dialog->SetSkinModule(skinModule);
  if (!dialog->Create()) return nullptr;
  dialog->SetWindowPos(HWND_TOP, kWindowX, kWindowY, 0, 0, SWP_NOSIZE);
  dialog->ShowWindow(SW_SHOW);
  ::SetForegroundWindow(dialog->m_hWnd);
  pump(200);
  return dialog;
}

LPARAM pointParam(int x, int y) { return MAKELPARAM(x, y); }

TEST(SkinDialog, ElementsFromTheTablesAndTheByNameOperations) {
  MessageBoxWatcher boxes;
  auto dialog = showDialog();
  ASSERT_TRUE(dialog);
  EXPECT_EQ(dialog->ButtonCount(), 43u);
  EXPECT_EQ(dialog->LabelCount(), 10u);
  EXPECT_EQ(dialog->SliderCount(), 4u);
  EXPECT_EQ(dialog->SkinWidth(), 299);
  EXPECT_EQ(dialog->SkinHeight(), 640);
  RECT window;
  dialog->GetWindowRect(&window);
  EXPECT_EQ(window.right - window.left, 299);
  EXPECT_EQ(window.bottom - window.top, 640);

  CSkinButton* hide = dialog->FindSkinButton("BTN_HIDE");
  ASSERT_NE(hide, nullptr);
  EXPECT_FALSE(hide->m_checkMode);
  EXPECT_TRUE(dialog->FindSkinButton("BTN_P_44K")->m_checkMode);
  EXPECT_EQ(hide->GetStyle() & (BS_TYPEMASK | WS_TABSTOP), static_cast<DWORD>(BS_OWNERDRAW));
  RECT r;
  ::GetWindowRect(dialog->FindSkinButton("BTN_R_192K")->m_hWnd, &r);
  EXPECT_EQ(r.left - window.left, 153);
  EXPECT_EQ(r.top - window.top, 204);

  dialog->ShowSkinButton("BTN_P_32K", 0);
  EXPECT_FALSE(dialog->FindSkinButton("BTN_P_32K")->IsWindowVisible());
  EXPECT_FALSE(dialog->FindSkinButton("BTN_P_32K")->m_shown);
  dialog->ShowSkinButton("BTN_P_32K", 1);
  EXPECT_TRUE(dialog->FindSkinButton("BTN_P_32K")->IsWindowVisible());
  dialog->EnableSkinButton("BTN_ASIO_16B", 0);
  EXPECT_FALSE(dialog->FindSkinButton("BTN_ASIO_16B")->IsWindowEnabled());
  dialog->EnableSkinButton("BTN_ASIO_16B", 1);
  EXPECT_TRUE(dialog->FindSkinButton("BTN_ASIO_16B")->IsWindowEnabled());

  EXPECT_EQ(dialog->GetSkinButtonCheck("BTN_P_48K"), 0);
  dialog->SetSkinButtonCheck("BTN_P_48K", 5);
  EXPECT_EQ(dialog->GetSkinButtonCheck("BTN_P_48K"), 1);
  dialog->SetSkinButtonCheck("BTN_P_48K", 0);
  EXPECT_EQ(dialog->GetSkinButtonCheck("BTN_P_48K"), 0);

  dialog->SetSkinLabelText("TXT_ASIOSTATE", "RUNNING");
  EXPECT_EQ(dialog->FindSkinLabel("TXT_ASIOSTATE")->Text(), "RUNNING");
  EXPECT_EQ(dialog->FindSkinLabel("TXT_ASIOSTATE")->GetWindowText(), "RUNNING");
  dialog->ShowSkinLabel("TXT_CPL_LOAD", 0);
  EXPECT_FALSE(dialog->FindSkinLabel("TXT_CPL_LOAD")->IsWindowVisible());

  dialog->SetSkinSliderPos("SLDR_P_VOL_L", 30);
  EXPECT_EQ(dialog->FindSkinSlider("SLDR_P_VOL_L")->GetPos(), 70);
  EXPECT_EQ(dialog->GetSkinSliderPos("SLDR_P_VOL_L"), 30);
  EXPECT_EQ(dialog->GetSkinSliderPos("SLDR_R_VOL_R"), 50);  // the table's position 50

  dialog->ResetSkinPages();
  EXPECT_EQ(dialog->CurrentPage(), 0);
  EXPECT_FALSE(dialog->FindSkinSlider("SLDR_P_VOL_L")->IsWindowVisible()) << "page mask 0: hidden";
  EXPECT_TRUE(dialog->FindSkinButton("BTN_HIDE")->IsWindowVisible());
  EXPECT_TRUE(dialog->FindSkinLabel("TXT_CPL_LOAD")->IsWindowVisible());
  dialog->ShowSkinSlider("SLDR_P_VOL_L", 1);
  EXPECT_TRUE(dialog->FindSkinSlider("SLDR_P_VOL_L")->IsWindowVisible());

  // Unknown names (including names the panel uses without a row) change nothing; getters 0.
  for (const char* unknown : {"BTN_ASIO_RESET", "BTN_LABEL_ASIO1", "btn_hide", "", "SLDR_NONE"}) {
    dialog->ShowSkinButton(unknown, 0);
    dialog->EnableSkinButton(unknown, 0);
    dialog->SetSkinButtonCheck(unknown, 1);
    dialog->ShowSkinLabel(unknown, 0);
    dialog->SetSkinLabelText(unknown, "x");
    dialog->ShowSkinSlider(unknown, 0);
    dialog->SetSkinSliderPos(unknown, 10);
    EXPECT_EQ(dialog->GetSkinButtonCheck(unknown), 0) << unknown;
    EXPECT_EQ(dialog->GetSkinSliderPos(unknown), 0) << unknown;
  }
  EXPECT_EQ(dialog->GetSkinButtonCheck(nullptr), 0);
  EXPECT_TRUE(dialog->FindSkinButton("BTN_HIDE")->IsWindowVisible());
  EXPECT_TRUE(boxes.texts().empty());
}

TEST(SkinDialog, LabelsLayOutAndOverflowingTextScrolls) {
  auto dialog = showDialog();
  ASSERT_TRUE(dialog);
  CSkinLabel* ip = dialog->FindSkinLabel("TXT_LOCAL_IP");
  ASSERT_NE(ip, nullptr);
  dialog->SetSkinLabelText("TXT_LOCAL_IP", "10.0.0.1");
  EXPECT_EQ(ip->VisibleCount(), 8) << "measured in the label's own font, the address fits";
  EXPECT_FALSE(ip->Overflows());
  EXPECT_TRUE(ip->CurrentLine().centred);
  // Wide letters overflow where as many narrow ones still fit.
  dialog->SetSkinLabelText("TXT_LOCAL_IP", "iiiiiiiiiiii");
  EXPECT_FALSE(ip->Overflows());

  const std::string longText(20, 'W');
  dialog->SetSkinLabelText("TXT_LOCAL_IP", longText.c_str());
  EXPECT_TRUE(ip->Overflows());
  EXPECT_LT(ip->VisibleCount(), 20);
  EXPECT_FALSE(ip->CurrentLine().centred);
  pump(1000);
  EXPECT_GT(ip->ScrollOffset(), 0u) << "the marquee runs";
  dialog->SetSkinLabelText("TXT_LOCAL_IP", "10.0.0.1");
  EXPECT_EQ(ip->ScrollOffset(), 0u);
  pump(400);
  EXPECT_EQ(ip->ScrollOffset(), 0u) << "text that fits stands still";
}

TEST(SkinDialog, MouseInputReachesTheOwnerByName) {
  auto dialog = showDialog();
  ASSERT_TRUE(dialog);
  CSkinButton* button = dialog->FindSkinButton("BTN_P_44K");
  ASSERT_NE(button, nullptr);

  button->SendMessage(WM_MOUSEMOVE, 0, pointParam(10, 7));
  EXPECT_TRUE(button->m_hover) << "hover tracking takes the pointer";
  EXPECT_EQ(::GetCapture(), button->m_hWnd);
  button->SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, pointParam(10, 7));
  button->SendMessage(WM_LBUTTONUP, 0, pointParam(10, 7));
  pump(50);
  ASSERT_EQ(dialog->clicks.size(), 1u);
  EXPECT_EQ(dialog->clicks[0], "BTN_P_44K");
  EXPECT_FALSE(button->m_hover);
  EXPECT_EQ(dialog->GetSkinButtonCheck("BTN_P_44K"), 0) << "the toolkit never checks by itself";

  // The pointer over another window ends the hover and gives the capture back.
  button->SendMessage(WM_MOUSEMOVE, 0, pointParam(10, 7));
  ASSERT_TRUE(button->m_hover);
  button->SendMessage(WM_MOUSEMOVE, 0, pointParam(100, 5));  // over "BTN_P_24B"
  EXPECT_FALSE(button->m_hover);
  EXPECT_NE(::GetCapture(), button->m_hWnd);

  // A release outside the button is no click.
  button->SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, pointParam(10, 7));
  button->SendMessage(WM_LBUTTONUP, 0, pointParam(200, 7));
  pump(50);
  EXPECT_EQ(dialog->clicks.size(), 1u);

  EXPECT_EQ(dialog->mouseOvers.front(), "BTN_P_44K");

  // The background: pointer moves report an empty name, and a press drags the window by it.
  dialog->SendMessage(WM_MOUSEMOVE, 0, pointParam(150, 380));
  EXPECT_EQ(dialog->mouseOvers.back(), "");
  dialog->SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, pointParam(150, 380));
  pump(50);
  ASSERT_EQ(dialog->captionClicks.size(), 1u);
  EXPECT_EQ(dialog->captionClicks[0].first, static_cast<WPARAM>(HTCAPTION));
  EXPECT_EQ(dialog->captionClicks[0].second.x, kWindowX + 150);
  EXPECT_EQ(dialog->captionClicks[0].second.y, kWindowY + 380);
  dialog->SendMessage(WM_LBUTTONUP, 0, pointParam(150, 380));

  CSkinLabel* label = dialog->FindSkinLabel("TXT_ASIOSTATE");
  label->SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, pointParam(5, 5));
  label->SendMessage(WM_LBUTTONUP, 0, pointParam(5, 5));
  ASSERT_EQ(dialog->labelClicks.size(), 1u);
  EXPECT_EQ(dialog->labelClicks[0], "TXT_ASIOSTATE");

  CSkinSlider* slider = dialog->FindSkinSlider("SLDR_P_VOL_L");
  ASSERT_NE(slider, nullptr);
  dialog->SetSkinSliderPos("SLDR_P_VOL_L", 50);
  pump(50);
  const RECT thumb = slider->ThumbRect();
  const int x = (thumb.left + thumb.right) / 2, y = (thumb.top + thumb.bottom) / 2;
  slider->SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, pointParam(x, y));
  EXPECT_TRUE(slider->m_thumbHeld);
  EXPECT_TRUE(slider->m_dragging);
  slider->SendMessage(WM_MOUSEMOVE, MK_LBUTTON, pointParam(x + 20, y));
  slider->SendMessage(WM_MOUSEMOVE, MK_LBUTTON, pointParam(x + 40, y));
  slider->SendMessage(WM_LBUTTONUP, 0, pointParam(x + 40, y));
  pump(50);
  EXPECT_FALSE(slider->m_thumbHeld);
  EXPECT_FALSE(slider->m_dragging);

  ASSERT_GE(dialog->sliderChanges.size(), 3u);
  for (const auto& change : dialog->sliderChanges) EXPECT_EQ(change.name, "SLDR_P_VOL_L");
  EXPECT_EQ(dialog->sliderChanges.front().code, 4);  // TB_THUMBTRACK while dragging
  EXPECT_EQ(dialog->sliderChanges.back().code, 8);   // TB_ENDTRACK on release
  const int position = slider->GetPos();
  EXPECT_GT(position, 50) << "dragged to the right";
  EXPECT_EQ(dialog->sliderChanges.back().value, 100 - position);
  EXPECT_EQ(dialog->GetSkinSliderPos("SLDR_P_VOL_L"), 100 - position);
}

TEST(SkinDialog, RebuildingTheSkinFromAClickIsSafe) {
  class CRebuilding : public CTestSkinDialog {
   public:
    void OnSkinButtonClicked(const char* name) override {
      CTestSkinDialog::OnSkinButtonClicked(name);
      LoadSkin();  // destroys the very button whose click is being handled
      LoadSkin();  // and a second rebuild must not free it while its handler still runs
    }
  };
  auto dialog = std::make_unique<CRebuilding>();
  ASSERT_TRUE(dialog->Create());
  pump(100);
  dialog->SetSkinButtonCheck("BTN_P_96K", 1);
  for (int round = 0; round < 3; ++round) {
    CSkinButton* button = dialog->FindSkinButton("BTN_P_96K");
    ASSERT_NE(button, nullptr);
    button->SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, pointParam(5, 5));
    button->SendMessage(WM_LBUTTONUP, 0, pointParam(5, 5));
    pump(50);
  }
  EXPECT_EQ(dialog->clicks.size(), 3u);
  EXPECT_EQ(dialog->ButtonCount(), 43u);
  EXPECT_EQ(dialog->GetSkinButtonCheck("BTN_P_96K"), 0) << "a rebuilt skin starts from the tables";
}

// Pixels of a bitmap, 32 bits, rows from the top.
std::vector<uint32_t> pixelsOf(HBITMAP bitmap, int width, int height) {
  std::vector<uint32_t> pixels(static_cast<std::size_t>(width) * height);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  HDC screen = ::GetDC(nullptr);
  const int rows = ::GetDIBits(screen, bitmap, 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS);
  ::ReleaseDC(nullptr, screen);
  if (rows != height) pixels.clear();
  for (uint32_t& p : pixels) p &= 0x00FFFFFF;
  return pixels;
}

struct Capture {
  int x, y, width, height;
  std::vector<uint32_t> pixels;
  uint32_t at(int screenX, int screenY) const {
    return pixels[static_cast<std::size_t>(screenY - y) * width + (screenX - x)];
  }
};

Capture captureScreen(int x, int y, int width, int height) {
  Capture c{x, y, width, height, {}};
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = ::SelectObject(memory, bitmap);
  const bool copied = ::BitBlt(memory, 0, 0, width, height, screen, x, y, SRCCOPY) != FALSE;
  ::SelectObject(memory, old);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  if (copied) c.pixels = pixelsOf(bitmap, width, height);
  ::DeleteObject(bitmap);
  return c;
}

std::string besideProgram(const char* file) {
  char path[MAX_PATH] = {};
  const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir(path, n);
  return dir.substr(0, dir.find_last_of("\\/") + 1) + file;
}

constexpr COLORREF kBackdrop = RGB(46, 58, 78);

// A plain window behind the dialog, so that what lies outside the window's shape is known.
HWND showBackdrop(int x, int y, int width, int height) {
  static const char* kClass = "SkinTestBackdrop";
  WNDCLASSA wc{};
  wc.lpfnWndProc = ::DefWindowProcA;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  wc.hbrBackground = ::CreateSolidBrush(kBackdrop);
  wc.lpszClassName = kClass;
  ::RegisterClassA(&wc);
  HWND backdrop = ::CreateWindowExA(WS_EX_TOOLWINDOW, kClass, "", WS_POPUP | WS_VISIBLE, x, y, width, height,
                                    nullptr, nullptr, wc.hInstance, nullptr);
  ::UpdateWindow(backdrop);
  return backdrop;
}

// A control panel as it looks while the ASIO driver streams.
void dressAsRunningPanel(CSkinDialog& d) {
  d.ResetSkinPages();
  for (const char* name : {"BTN_P_MUTE", "BTN_P_VOL_GANG", "BTN_R_MUTE", "BTN_R_VOL_GANG", "BTN_ASIO_BFSZ_3MS"})
    d.ShowSkinButton(name, 0);
  for (const char* name : {"BTN_P_44K", "BTN_P_24B", "BTN_R_48K", "BTN_R_24B", "BTN_ASIO_24B", "BTN_ASIO_BFSZ_10MS",
                           "BTN_RMCT_START_SVR"})
    d.SetSkinButtonCheck(name, 1);
  d.EnableSkinButton("BTN_R_384K", 0);
  d.EnableSkinButton("BTN_R_352K", 0);
  d.SetSkinLabelText("TXT_ASIOSTATE", "RUNNING");
  d.SetSkinLabelText("TXT_ASIODEVICE", "USB Audio Device2");
  d.SetSkinLabelText("TXT_ASIOSTATUS", "2 Channel, 24 bits, 48000 Hz, Buffer 10.0 ms");
  d.SetSkinLabelText("TXT_ASIOPCM", "PCM");
  for (const char* name : {"TXT_ASIODSD", "TXT_ASIODSD128", "TXT_ASIODSD256", "TXT_CPL_LOAD"}) d.ShowSkinLabel(name, 0);
  d.SetSkinLabelText("TXT_LOCAL_IP", "192.168.1.20");
  d.SetSkinLabelText("TXT_REMOTE_IP", "192.168.1.33");
}

TEST(SkinDialog, ScreenshotShowsTheRoundedWindowAndTheFaces) {
  const int margin = 16;
  HWND backdrop = showBackdrop(kWindowX - margin, kWindowY - margin, 299 + 2 * margin, 640 + 2 * margin);
  auto dialog = showDialog();
  ASSERT_TRUE(dialog);
  dressAsRunningPanel(*dialog);
  dialog->SetWindowPos(HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  // The pointer rests on the Hide push button.
  dialog->FindSkinButton("BTN_HIDE")->SendMessage(WM_MOUSEMOVE, 0, pointParam(11, 11));
  dialog->RedrawWindow(RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  pump(600);

  // The region: corners cut, the body inside.
  HRGN region = ::CreateRectRgn(0, 0, 0, 0);
  ASSERT_EQ(::GetWindowRgn(dialog->m_hWnd, region), COMPLEXREGION);
  EXPECT_FALSE(::PtInRegion(region, 0, 0));
  EXPECT_FALSE(::PtInRegion(region, 298, 639));
  EXPECT_TRUE(::PtInRegion(region, 149, 320));
  EXPECT_TRUE(::PtInRegion(region, 0, 320));
  EXPECT_TRUE(::PtInRegion(region, 149, 0));
  ::DeleteObject(region);

  const Capture shot = captureScreen(kWindowX - margin, kWindowY - margin, 299 + 2 * margin, 640 + 2 * margin);
  ASSERT_FALSE(shot.pixels.empty()) << "screen capture";
  std::vector<uint8_t> rgb;
  rgb.reserve(shot.pixels.size() * 3);
  for (uint32_t p : shot.pixels) rgb.insert(rgb.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
  const std::string png = besideProgram("skin_dialog_screenshot.png");
  EXPECT_TRUE(skintest::writePng(png, shot.width, shot.height, rgb)) << png;
  std::printf("screenshot: %s\n", png.c_str());

  const uint32_t backdropPixel = (GetRValue(kBackdrop) << 16) | (GetGValue(kBackdrop) << 8) | GetBValue(kBackdrop);
  EXPECT_EQ(shot.at(kWindowX - 4, kWindowY - 4), backdropPixel) << "outside the window";
  for (auto [cx, cy] : {std::pair{0, 0}, {1, 1}, {298, 0}, {0, 639}, {298, 639}})
    EXPECT_EQ(shot.at(kWindowX + cx, kWindowY + cy), backdropPixel) << "corner " << cx << "," << cy << " is clipped";

  // Controls show the faces' pixels at their rectangles.
  auto faceMatches = [&](UINT faceId, const char* buttonName) {
    CBitmap face;
    if (!face.LoadBitmap(::GetModuleHandleA(nullptr), faceId)) return ::testing::AssertionFailure() << "face " << faceId;
    const SIZE size = face.GetSize();
    const std::vector<uint32_t> facePixels = pixelsOf(face, size.cx, size.cy);
    RECT r;
    ::GetWindowRect(dialog->FindSkinButton(buttonName)->m_hWnd, &r);
    int mismatches = 0;
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x)
        if (shot.at(x, y) != facePixels[static_cast<std::size_t>(y - kWindowY) * size.cx + (x - kWindowX)]) ++mismatches;
    if (mismatches) return ::testing::AssertionFailure() << buttonName << ": " << mismatches << " pixels differ";
    return ::testing::AssertionSuccess();
  };
  EXPECT_TRUE(faceMatches(IDB_SKIN_PRESSED, "BTN_P_44K")) << "a checked button shows the pressed face";
  EXPECT_TRUE(faceMatches(IDB_SKIN_NORMAL, "BTN_P_48K"));
  EXPECT_TRUE(faceMatches(IDB_SKIN_HOVER, "BTN_HIDE")) << "a hovered push button shows the hover face";
  EXPECT_TRUE(faceMatches(IDB_SKIN_DISABLED, "BTN_R_384K"));
  EXPECT_TRUE(faceMatches(IDB_SKIN_BASE, "BTN_ASIO_BFSZ_3MS")) << "a hidden button leaves the background";
  EXPECT_FALSE(faceMatches(IDB_SKIN_NORMAL, "BTN_P_44K"));

  dialog.reset();
  ::DestroyWindow(backdrop);
}

TEST(SkinDialog, MissingFaceBitmapsLeaveControlsBlank) {
  MessageBoxWatcher boxes;
  HMODULE partial = ::LoadLibraryA(besideProgram("skin_partial_res.dll").c_str());
  ASSERT_NE(partial, nullptr);
  {
    auto dialog = showDialog(partial);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->ButtonCount(), 43u);
    CSkinButton* button = dialog->FindSkinButton("BTN_P_44K");
    EXPECT_TRUE(button->Bitmap(skin::ButtonLook::Normal));
    EXPECT_FALSE(button->Bitmap(skin::ButtonLook::Pressed));
    EXPECT_FALSE(button->Bitmap(skin::ButtonLook::Hover));
    // Every look without its bitmap is drawn without a crash.
    dialog->SetSkinButtonCheck("BTN_P_44K", 1);
    dialog->EnableSkinButton("BTN_P_48K", 0);
    dialog->FindSkinButton("BTN_P_96K")->SendMessage(WM_MOUSEMOVE, 0, pointParam(5, 5));
    CSkinSlider* slider = dialog->FindSkinSlider("SLDR_R_VOL_L");
    EXPECT_FALSE(slider->m_thumbs[CBitmapSlider::kThumbHeld]);
    slider->m_disabledLook = true;
    dialog->RedrawWindow(RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    slider->m_disabledLook = false;
    const RECT thumb = slider->ThumbRect();
    slider->SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, pointParam((thumb.left + thumb.right) / 2, 8));
    slider->UpdateWindow();
    slider->SendMessage(WM_LBUTTONUP, 0, pointParam((thumb.left + thumb.right) / 2, 8));
    pump(100);
    EXPECT_EQ(dialog->GetSkinButtonCheck("BTN_P_44K"), 1);
    EXPECT_FALSE(dialog->sliderChanges.empty());
  }
  ::FreeLibrary(partial);
  EXPECT_TRUE(boxes.texts().empty()) << "the mask was there";
}

TEST(SkinDialog, MissingMaskIsReportedAndTheWindowStaysRectangular) {
  MessageBoxWatcher boxes;
  // A module with no skin at all.
  auto dialog = showDialog(::GetModuleHandleA("kernel32.dll"));
  ASSERT_TRUE(dialog);
  pump(300);
  const std::vector<std::string> texts = boxes.texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0], CSkinDialog::kWrongRegion);
  HRGN region = ::CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(::GetWindowRgn(dialog->m_hWnd, region), ERROR) << "no window region";
  ::DeleteObject(region);
  EXPECT_EQ(dialog->ButtonCount(), 43u);
  EXPECT_GT(dialog->SkinWidth(), 0);
  dialog->SetSkinButtonCheck("BTN_HIDE", 1);
  EXPECT_EQ(dialog->GetSkinButtonCheck("BTN_HIDE"), 1);
}

// A bitmap drawn pixel by pixel.
template <typename InsideAt>
HBITMAP makeMask(int width, int height, InsideAt inside) {
  HDC screen = ::GetDC(nullptr);
  HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
  HDC memory = ::CreateCompatibleDC(screen);
  HGDIOBJ old = ::SelectObject(memory, bitmap);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) ::SetPixel(memory, x, y, inside(x, y) ? RGB(10, 20, 30) : RGB(255, 255, 255));
  ::SelectObject(memory, old);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  return bitmap;
}

// A panel runs for days: what it does again and again must hold no more GDI objects and
// windows afterwards than before.
TEST(SkinDialog, RepeatedWorkLeaksNoGdiObjectsOrWindows) {
  auto dialog = showDialog();
  ASSERT_TRUE(dialog);
  CSkinSlider* slider = dialog->FindSkinSlider("SLDR_P_VOL_L");
  auto work = [&](int rounds) {
    dialog->SetSkinLabelText("TXT_ASIOSTATUS", "2 Channel, 24 bits, 48000 Hz, Buffer 10.0 ms and then some more");
    for (int i = 0; i < rounds; ++i) {
      const char* button = skin::kSkinButtons[i % skin::kSkinButtonCount].name;
      dialog->SetSkinButtonCheck(button, i % 2);
      dialog->ShowSkinButton(button, 1);
      dialog->SetSkinLabelText("TXT_ASIOSTATE", i % 2 ? "RUNNING" : "PREPARED");
      dialog->SetSkinSliderPos("SLDR_P_VOL_R", i % 101);
      dialog->FindSkinButton(button)->SendMessage(WM_MOUSEMOVE, 0, pointParam(3, 3));
    }
    slider = dialog->FindSkinSlider("SLDR_P_VOL_L");
    slider->ShowWindow(SW_SHOW);
    slider->SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, pointParam(60, 8));
    for (int x = 60; x < 120; x += 6) slider->SendMessage(WM_MOUSEMOVE, MK_LBUTTON, pointParam(x, 8));
    slider->SendMessage(WM_LBUTTONUP, 0, pointParam(120, 8));
    dialog->RedrawWindow(RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    // Controls make their tooltip at the first message that passes through them.
    for (const skin::SkinLabelDef& l : skin::kSkinLabels) dialog->FindSkinLabel(l.name)->PostMessage(WM_NULL);
    pump(700);  // the marquee runs
  };
  work(50);
  dialog->LoadSkin();
  work(50);
  const int gdiBefore = uitest::liveGdiObjects(), windowsBefore = uitest::threadWindows();
  ASSERT_GT(gdiBefore, 0);
  work(300);
  for (int i = 0; i < 10; ++i) dialog->LoadSkin();
  work(50);
  EXPECT_EQ(uitest::liveGdiObjects(), gdiBefore);
  EXPECT_EQ(uitest::threadWindows(), windowsBefore);
}

TEST(SkinRegion, MasksBecomeRegions) {
  EXPECT_EQ(CSkinDialog::BitmapToRegion(nullptr), nullptr);

  struct Case {
    const char* what;
    int width, height;
    bool (*inside)(int, int);
    int regionType;
  };
  const Case cases[] = {
      {"all white: empty region", 8, 4, [](int, int) { return false; }, NULLREGION},
      {"no white: the full rectangle", 8, 4, [](int, int) { return true; }, SIMPLEREGION},
      {"2500 alternating rows: two batches", 2, 2500, [](int x, int y) { return x == y % 2; }, COMPLEXREGION},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HBITMAP mask = makeMask(c.width, c.height, c.inside);
    HRGN region = CSkinDialog::BitmapToRegion(mask);
    ASSERT_NE(region, nullptr);
    RECT box;
    EXPECT_EQ(::GetRgnBox(region, &box), c.regionType);
    if (c.regionType == SIMPLEREGION) {
      EXPECT_EQ(box.right, c.width);
      EXPECT_EQ(box.bottom, c.height);
    }
    if (c.regionType == COMPLEXREGION) {
      for (int y : {0, 1, 1999, 2000, 2001, 2499}) {
        EXPECT_TRUE(::PtInRegion(region, y % 2, y)) << y;
        EXPECT_FALSE(::PtInRegion(region, 1 - y % 2, y)) << y;
      }
    }
    ::DeleteObject(region);
    ::DeleteObject(mask);
  }
}

// Prints what building the window's region from the shipped mask costs here (not asserted).
TEST(SkinRegion, ShippedMaskBuildTime) {
  CBitmap mask;
  ASSERT_TRUE(mask.LoadBitmap(::GetModuleHandleA(nullptr), IDB_SKIN_MASK));
  LARGE_INTEGER frequency, start, end;
  ::QueryPerformanceFrequency(&frequency);
  constexpr int kBuilds = 50;
  ::QueryPerformanceCounter(&start);
  for (int i = 0; i < kBuilds; ++i) {
    HRGN region = CSkinDialog::BitmapToRegion(mask);
    ASSERT_NE(region, nullptr);
    ::DeleteObject(region);
  }
  ::QueryPerformanceCounter(&end);
  const double microseconds = 1e6 * static_cast<double>(end.QuadPart - start.QuadPart) /
                              static_cast<double>(frequency.QuadPart) / kBuilds;
  std::printf("BitmapToRegion, shipped 299x640 mask, under Wine: %.0f us per build\n", microseconds);
}

}  // namespace
