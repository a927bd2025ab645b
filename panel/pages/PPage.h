// A page of the control panel: a set of the main dialog's skin elements plus this object,
// which acts on them by name. Pages are heap objects owned by the main dialog, rebuilt with
// every page build; each keeps a non-owning pointer to the dialog.
#pragma once

#include "Object.h"

class CKestaACPLUIDlg;

class CPPage : public CObject {
  DECLARE_DYNAMIC(CPPage)

 public:
  explicit CPPage(CKestaACPLUIDlg* dialog) : m_pDialog(dialog) {}
  // Builds the page's view once, right after construction; returns 1.
  virtual int Init() = 0;

 protected:
  CKestaACPLUIDlg* m_pDialog;  // not owned
};
