#include "RmctNic.h"

#include <commctrl.h>

#include <cstdio>

#include "NotifyBroadcast.h"

IMPLEMENT_DYNAMIC(CRmctNic, CDialog)

namespace {
// The subnet assumed for the loopback address shown when no adapter is chosen.
remote::NetAddress loopbackMask() { return remote::fromOctets(255, 0, 0, 0); }
}  // namespace

CRmctNic::CRmctNic(CWnd* parent) : CDialog(IDD_RMCT_NIC, parent) {
  // The template holds an IP-address control; its class must be registered first.
  INITCOMMONCONTROLSEX classes{sizeof classes, ICC_INTERNET_CLASSES | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&classes);
}

BOOL CRmctNic::OnInitDialog() {
  if (!m_adapterBox.SubclassDlgItem(IDC_RMCT_ADAPTERS, this) ||
      !m_addressCtrl.SubclassDlgItem(IDC_RMCT_LOCAL_IP, this) || !m_portEdit.SubclassDlgItem(IDC_RMCT_PORT, this) ||
      !m_notifyButton.SubclassDlgItem(IDC_RMCT_NOTIFY, this)) {
    EndDialog(-1);
    return FALSE;
  }
  for (std::size_t row = 0; row < m_setting.adapters.Count(); ++row)
    m_adapterBox.InsertString(static_cast<int>(row), m_setting.adapters.Row(row).description);
  if (m_setting.selectedRow < static_cast<std::size_t>(m_adapterBox.GetCount()))
    m_adapterBox.SetCurSel(static_cast<int>(m_setting.selectedRow));
  ShowSelectedAddress();
  char port[8];
  std::snprintf(port, sizeof port, "%d", static_cast<int>(m_setting.port));
  m_portEdit.SetWindowText(port);
  return TRUE;
}

void CRmctNic::ShowSelectedAddress() {
  const remote::AdapterRow* row = m_adapterBox.GetCount() > 0 ? m_setting.Selected() : nullptr;
  m_addressCtrl.SetAddress(remote::toHostOrder(row ? row->address : remote::loopbackAddress()));
}

void CRmctNic::ScanAdapters() {
  m_adapterBox.ResetContent();
  m_setting.selectedRow = 0;
  m_adapterList.ScanIntoTable(m_setting.adapters, [this](std::size_t row) {
    m_adapterBox.InsertString(static_cast<int>(row), m_setting.adapters.Row(row).description);
  });
  if (m_adapterBox.GetCount() > 0) m_adapterBox.SetCurSel(0);
  ShowSelectedAddress();
}

void CRmctNic::OnSelectionChange() {
  const int selection = m_adapterBox.GetCurSel();
  if (selection >= 0) m_setting.selectedRow = static_cast<std::size_t>(selection);
  ShowSelectedAddress();
}

uint16_t CRmctNic::PortFromEdit() {
  const std::optional<uint16_t> port = remote::parsePort(m_portEdit.GetWindowText());
  return port ? *port : m_setting.port;
}

void CRmctNic::OnNotifyRemoteController() {
  m_notifyButton.EnableWindow(false);
  const remote::AdapterRow* row = m_setting.Selected();
  // A failed broadcast is silent: the controller simply hears nothing.
  SendNotifyBroadcast(row ? row->mask : loopbackMask(), row ? row->address : remote::loopbackAddress(), PortFromEdit(),
                      kNotifyText, kNotifyLength);
  m_notifyButton.EnableWindow(true);
}

void CRmctNic::OnOK() {
  m_setting.port = PortFromEdit();
  EndDialog(IDOK);
}

BOOL CRmctNic::OnCommand(WPARAM wParam, LPARAM lParam) {
  switch (LOWORD(wParam)) {
    case IDC_RMCT_ADAPTERS:
      if (HIWORD(wParam) != CBN_SELCHANGE) return FALSE;
      OnSelectionChange();
      return TRUE;
    case IDC_RMCT_REFRESH:
      if (HIWORD(wParam) != BN_CLICKED) return FALSE;
      ScanAdapters();
      return TRUE;
    case IDC_RMCT_NOTIFY:
      if (HIWORD(wParam) != BN_CLICKED) return FALSE;
      OnNotifyRemoteController();
      return TRUE;
    default:
      return CDialog::OnCommand(wParam, lParam);
  }
}
