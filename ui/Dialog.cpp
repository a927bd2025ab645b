#include "Dialog.h"

IMPLEMENT_DYNAMIC(CDialog, CWnd)

CDialog::CDialog(UINT templateId, CWnd* parent)
    : m_templateId(templateId), m_pParent(parent), m_hResources(::GetModuleHandleA(nullptr)) {}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT msg, WPARAM, LPARAM lParam) {
  if (msg != WM_INITDIALOG) return FALSE;  // everything else arrives through WindowProc
  auto* dialog = reinterpret_cast<CDialog*>(lParam);
  if (!dialog || !dialog->SubclassWindow(hWnd)) return FALSE;
  return dialog->OnInitDialog();
}

HWND CDialog::CreateFromTemplate(HWND owner) {
  return ::CreateDialogParamA(m_hResources, MAKEINTRESOURCEA(m_templateId), owner, &CDialog::DialogProc,
                              reinterpret_cast<LPARAM>(this));
}

bool CDialog::Create() {
  if (m_hWnd) return false;
  m_inModalLoop = false;
  return CreateFromTemplate(m_pParent ? m_pParent->m_hWnd : nullptr) != nullptr && m_hWnd != nullptr;
}

INT_PTR CDialog::DoModal() {
  if (m_hWnd) return -1;
  HWND owner = m_pParent ? m_pParent->m_hWnd : nullptr;
  m_modalResult = -1;
  m_inModalLoop = true;  // OnInitDialog may already end the dialog
  HWND hWnd = CreateFromTemplate(owner);
  if (!hWnd || !m_hWnd) {
    if (hWnd) ::DestroyWindow(hWnd);
    m_inModalLoop = false;
    return -1;
  }
  const bool ownerDisabled = owner && ::IsWindowEnabled(owner) && !::EnableWindow(owner, FALSE);
  if (m_inModalLoop) {
    if (!IsWindowVisible()) ShowWindow(SW_SHOWNORMAL);
    RunModalLoop();
  }
  if (ownerDisabled) {
    ::EnableWindow(owner, TRUE);
    ::SetActiveWindow(owner);
  }
  if (m_hWnd) {
    SetWindowPos(nullptr, 0, 0, 0, 0, SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
    DestroyWindow();
  }
  return m_modalResult;
}

void CDialog::RunModalLoop() {
  MSG msg;
  while (m_inModalLoop && m_hWnd) {
    const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
    if (got == -1) break;
    if (got == 0) {
      // Quitting: end the dialog and leave the quit for the outer loop.
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      if (m_modalResult == -1) m_modalResult = IDCANCEL;
      break;
    }
    if (!WalkPreTranslateTree(m_hWnd, &msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
  }
  m_inModalLoop = false;
}

void CDialog::EndDialog(INT_PTR result) {
  m_modalResult = result;
  if (m_inModalLoop) {
    m_inModalLoop = false;
    if (m_hWnd) PostMessage(WM_NULL);  // wakes the loop
  } else if (m_hWnd) {
    ShowWindow(SW_HIDE);
  }
}

BOOL CDialog::OnInitDialog() { return TRUE; }
void CDialog::OnOK() { EndDialog(IDOK); }
void CDialog::OnCancel() { EndDialog(IDCANCEL); }

BOOL CDialog::PreTranslateMessage(MSG* msg) {
  if (msg->message < WM_KEYFIRST || msg->message > WM_KEYLAST) return FALSE;
  return ::IsDialogMessageA(m_hWnd, msg);
}

BOOL CDialog::OnCommand(WPARAM wParam, LPARAM) {
  switch (LOWORD(wParam)) {
    case IDOK:
      OnOK();
      return TRUE;
    case IDCANCEL:
      OnCancel();
      return TRUE;
    default:
      return FALSE;
  }
}
