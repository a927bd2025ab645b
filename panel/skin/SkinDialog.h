// CSkinDialog: a borderless dialog drawn entirely from the skin's bitmaps, cut to the shape of
// its region mask, with the skin's buttons, labels and sliders created from the element
// tables and addressed by name. Owners derive from it and receive clicks and slider moves
// by name through the virtual notifications.
#pragma once

#include <memory>
#include <vector>

#include "AnimatedLabel.h"
#include "BitmapBtn.h"
#include "BitmapSlider.h"
#include "Dialog.h"
#include "Gdi.h"
#include "SkinResourceIds.h"

class CSkinDialog : public CDialog {
  DECLARE_DYNAMIC(CSkinDialog)

 public:
  static constexpr char kMessageCaption[] = "Kesta-X ASIO CPL";
  static constexpr char kWrongRegion[] = "Wrong Region?";
  static constexpr char kWrongWindowRegion[] = "Wrong Window Region?";

  explicit CSkinDialog(CWnd* parent = nullptr, UINT templateId = IDD_SKIN_DIALOG);
  ~CSkinDialog() override;

  // By-name operations: the first element of that name (exact, case-sensitive); an unknown
  // name changes nothing and a getter then returns 0.
  void ShowSkinButton(const char* name, int show);
  void EnableSkinButton(const char* name, int enable);
  void SetSkinButtonCheck(const char* name, int checked);
  int GetSkinButtonCheck(const char* name);
  void ShowSkinLabel(const char* name, int show);
  void SetSkinLabelText(const char* name, const char* text);
  void ShowSkinSlider(const char* name, int show);
  void SetSkinSliderPos(const char* name, int value);  // value 0..100, 100 at the trackbar's minimum
  int GetSkinSliderPos(const char* name);
  void ResetSkinPages();  // page 0: shows the elements of page 0, hides the others

  // Notifications, in this order. The base versions of the index forms pass the element's
  // name on; the name forms do nothing.
  virtual void OnSkinButtonClicked(const char* name);
  virtual void OnSkinButtonUp(int index);
  virtual void OnSkinSliderChanged(const char* name, int code, int value);
  virtual void OnSkinSliderEvent(int index, int code, int position);
  virtual void OnSkinLabelClicked(const char* name);
  virtual void OnSkinLabelUp(int index);
  virtual void OnSkinMouseOver(const char* name, int x, int y);
  // Shapes the window from a mask bitmap (pure white outside).
  virtual void ApplyWindowRegion(HBITMAP mask);
  // (Re)builds the whole skin: faces, window shape and size, every control from the tables.
  virtual void LoadSkin();

  // The region of a mask's non-white pixels, or null.
  static HRGN BitmapToRegion(HBITMAP bitmap);

  BOOL OnInitDialog() override;

  // Module whose bitmap resources make the skin (default: the program).
  void SetSkinModule(HINSTANCE module) { m_hSkinModule = module; }

  // Access for the owner and for tests.
  CSkinButton* FindSkinButton(const char* name);
  CSkinLabel* FindSkinLabel(const char* name);
  CSkinSlider* FindSkinSlider(const char* name);
  std::size_t ButtonCount() const { return m_buttons.size(); }
  std::size_t LabelCount() const { return m_labels.size(); }
  std::size_t SliderCount() const { return m_sliders.size(); }
  int SkinWidth() const { return m_skinWidth; }
  int SkinHeight() const { return m_skinHeight; }
  int CurrentPage() const { return m_currentPage; }

 protected:
  void OnPaint() override;
  BOOL OnEraseBkgnd(HDC dc) override;
  void OnLButtonDown(UINT flags, POINT point) override;
  void OnMouseMove(UINT flags, POINT point) override;

 private:
  enum Face { kFaceBase, kFaceHover, kFacePressed, kFaceDisabled, kFaceNormal, kFaceCount };

  void DestroySkin();
  void PruneRetired();
  void CreateButtons(HDC dc);
  void CreateLabels(HDC dc);
  void CreateSliders(HDC dc);
  CBitmap LoadSkinBitmap(UINT id) const;

  std::vector<std::unique_ptr<CSkinButton>> m_buttons;
  std::vector<std::unique_ptr<CSkinSlider>> m_sliders;
  std::vector<std::unique_ptr<CSkinLabel>> m_labels;
  // Controls of the previous skin, whose windows are gone; kept until the next rebuild so that
  // a control whose notification rebuilt the skin still exists when its handler returns.
  std::vector<std::unique_ptr<CWnd>> m_retired;
  CBitmap m_faces[kFaceCount];
  int m_skinWidth = 0;
  int m_skinHeight = 0;
  int m_currentPage = 0;
  HINSTANCE m_hSkinModule;
};
