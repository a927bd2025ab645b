// Finds the present audio filters: device interfaces of a first category that have an
// enabled alias in every further category, each opened as an audio render filter.
#pragma once

#include "KsAudFilter.h"

class CKsEnumFilters {
 public:
  CKsEnumFilters();
  virtual ~CKsEnumFilters();

  // Drops the filters of an earlier run.
  virtual HRESULT DestroyLists();

  // categories: count GUIDs; the system passes {KSCATEGORY_AUDIO, KSCATEGORY_RENDER}.
  // E_FAIL when nothing usable is found.
  HRESULT EnumFilters(const GUID* categories, ULONG count);

  CKsList<CKsAudRenFilter> m_listFilters;  // owned
};
