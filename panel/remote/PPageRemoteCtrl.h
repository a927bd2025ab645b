// CPPageRemoteCtrl: the remote-control page of the control panel. Shows the chosen adapter's
// address in "TXT_LOCAL_IP", opens the network-setting dialog ("BTN_RMCT_NETWORK_SET") and
// toggles the UDP receiver ("BTN_RMCT_START_SVR", checked while it runs). The main dialog
// creates it when the remote page is wanted, calls Init once, routes the two clicks here and
// deletes it with its other pages. Nothing is stored between runs.
#pragma once

#include "AdapterTable.h"
#include "Object.h"
#include "SkinDialog.h"
#include "UdpReceiver.h"

class CPPageRemoteCtrl : public CObject {
  DECLARE_DYNAMIC(CPPageRemoteCtrl)

 public:
  static constexpr char kLocalIpLabel[] = "TXT_LOCAL_IP";
  static constexpr char kRemoteIpLabel[] = "TXT_REMOTE_IP";
  static constexpr char kServerButton[] = "BTN_RMCT_START_SVR";
  static constexpr char kNetworkButton[] = "BTN_RMCT_NETWORK_SET";

  // dialog: the main dialog (not owned); its window receives the datagrams.
  explicit CPPageRemoteCtrl(CSkinDialog* dialog);
  ~CPPageRemoteCtrl() override;  // stops the receiver

  // Scans the adapters (first usable one chosen, port 5566) and shows the address. Returns 1.
  virtual BOOL Init();

  // "BTN_RMCT_NETWORK_SET": the dialog on a copy of the setting; OK takes it back.
  void NetworkSetting();
  // "BTN_RMCT_START_SVR": starts or stops the receiver; the button's check follows.
  void ToggleServer();

  bool IsServerRunning() const { return m_running; }
  const remote::NetworkSetting& Setting() const { return m_setting; }

 private:
  void UpdateLocalAddressLabel();

  CSkinDialog* m_pDialog;
  UdpReceiver m_receiver;
  bool m_running = false;
  remote::NetworkSetting m_setting;
};
