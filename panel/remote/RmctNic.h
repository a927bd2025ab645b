// CRmctNic: the modal "Network Setting (Remote Control)" dialog, in which the user picks the
// adapter whose address the remote page shows. It works on its own copy of the page's network
// setting; the page takes the copy back when the dialog ends with OK.
#pragma once

#include "AdapterList.h"
#include "AdapterTable.h"
#include "Controls.h"
#include "Dialog.h"
#include "RemoteResourceIds.h"

class CRmctNic : public CDialog {
  DECLARE_DYNAMIC(CRmctNic)

 public:
  explicit CRmctNic(CWnd* parent = nullptr);

  // In before DoModal, out after IDOK. The port starts at 5566.
  remote::NetworkSetting m_setting;

  BOOL OnInitDialog() override;
  void OnOK() override;

 protected:
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;

 private:
  // The adapter scan: rebuilds the table and the combo box from the system's list.
  void ScanAdapters();
  void ShowSelectedAddress();
  void OnSelectionChange();
  void OnNotifyRemoteController();
  // The port in the edit, or the current one when the edit holds no valid port.
  uint16_t PortFromEdit();

  CComboBox m_adapterBox;
  CIPAddressCtrl m_addressCtrl;
  CWnd m_portEdit;
  CButton m_notifyButton;
  AdapterList m_adapterList;
};
