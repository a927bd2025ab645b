// CPPageASIO: the ASIO driver's state, device and stream as the status block publishes them,
// and the driver's preferred buffer duration and sample width, handed over through the block
// and written to the per-user settings when the page goes.
#pragma once

#include <cstdint>

#include "PPage.h"
#include "Settings.h"

class CPPageASIO : public CPPage {
  DECLARE_DYNAMIC(CPPageASIO)

 public:
  explicit CPPageASIO(CKestaACPLUIDlg* dialog) : CPPage(dialog) {}
  ~CPPageASIO() override;  // saves the two settings, releases the block

  int Init() override;
  void Refresh();
  // Once a second: 0 for nothing, else ID_CPL_SHOW_ASIO or ID_CPL_REFRESH_ASIO.
  UINT PendingCommand();
  void StoreWidth();
  void StoreBufferSize(int index);
  void RequestReset();
  bool IsMapped() const { return m_mapping.memory() != nullptr; }
  tess::StatusBlockView Block() const { return m_mapping.view(); }

 private:
  void SaveSettings();
  tess::CStatusBlockMapping m_mapping;
};
