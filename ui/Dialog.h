// CDialog: a dialog from a resource template, modal (DoModal runs the framework's own
// message loop, so that PreTranslateMessage reaches the controls) or modeless (Create).
#pragma once

#include "Wnd.h"

class CDialog : public CWnd {
  DECLARE_DYNAMIC(CDialog)

 public:
  explicit CDialog(UINT templateId, CWnd* parent = nullptr);

  // Creates the dialog, disables the owner, runs the loop until EndDialog; destroys the window.
  // Returns the EndDialog result, or -1 when the dialog could not be created.
  INT_PTR DoModal();
  // Modeless: creates the dialog (shown if its template says so).
  bool Create();
  // Ends a modal dialog with a result; hides a modeless one.
  void EndDialog(INT_PTR result);

  virtual BOOL OnInitDialog();  // TRUE: the system sets the focus
  virtual void OnOK();          // IDOK: EndDialog(IDOK)
  virtual void OnCancel();      // IDCANCEL: EndDialog(IDCANCEL)

  BOOL PreTranslateMessage(MSG* msg) override;  // dialog keyboard navigation

  UINT TemplateId() const { return m_templateId; }
  // Module whose resources hold the template (default: the program).
  void SetResourceModule(HINSTANCE module) { m_hResources = module; }

 protected:
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
  HWND CreateFromTemplate(HWND owner);
  void RunModalLoop();

  UINT m_templateId;
  CWnd* m_pParent;
  HINSTANCE m_hResources;
  bool m_inModalLoop = false;
  INT_PTR m_modalResult = -1;
};
