#include "PPageRemoteCtrl.h"

#include "AdapterList.h"
#include "RmctNic.h"

IMPLEMENT_DYNAMIC(CPPageRemoteCtrl, CObject)

CPPageRemoteCtrl::CPPageRemoteCtrl(CSkinDialog* dialog)
    : m_pDialog(dialog), m_receiver(dialog ? dialog->m_hWnd : nullptr) {}

CPPageRemoteCtrl::~CPPageRemoteCtrl() {
  m_receiver.Stop();
  m_running = false;
}

BOOL CPPageRemoteCtrl::Init() {
  AdapterList adapters;
  adapters.ScanIntoTable(m_setting.adapters);
  m_setting.selectedRow = 0;
  m_setting.port = remote::kDefaultPort;
  UpdateLocalAddressLabel();
  return TRUE;
}

void CPPageRemoteCtrl::UpdateLocalAddressLabel() {
  if (!m_pDialog) return;
  if (const remote::AdapterRow* row = m_setting.Selected()) {
    m_pDialog->SetSkinLabelText(kLocalIpLabel, remote::formatDottedQuad(row->address).c_str());
    m_pDialog->ShowSkinLabel(kLocalIpLabel, 1);
  } else {
    m_pDialog->ShowSkinLabel(kLocalIpLabel, 0);
  }
}

void CPPageRemoteCtrl::NetworkSetting() {
  CRmctNic dialog(m_pDialog);
  dialog.m_setting = m_setting;
  if (dialog.DoModal() != IDOK) return;
  m_setting = dialog.m_setting;
  UpdateLocalAddressLabel();
}

void CPPageRemoteCtrl::ToggleServer() {
  if (m_pDialog) m_pDialog->EnableSkinButton(kServerButton, 0);
  if (m_running) {
    m_receiver.Stop();
    m_running = false;
    if (m_pDialog) {
      m_pDialog->SetSkinButtonCheck(kServerButton, 0);
      m_pDialog->ShowSkinLabel(kRemoteIpLabel, 0);
    }
  } else if (FAILED(m_receiver.Start(m_setting.port))) {
    m_receiver.Stop();  // releases what the failed start set up
    if (m_pDialog) m_pDialog->SetSkinButtonCheck(kServerButton, 0);
  } else {
    m_running = true;
    if (m_pDialog) m_pDialog->SetSkinButtonCheck(kServerButton, 1);
  }
  if (m_pDialog) m_pDialog->EnableSkinButton(kServerButton, 1);
}
