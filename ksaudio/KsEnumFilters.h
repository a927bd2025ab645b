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

  // The capture filter of the device a render filter belongs to. Many USB audio drivers
  // register capture as a filter of its own, only under KSCATEGORY_CAPTURE (with its
  // KSCATEGORY_AUDIO alias); a device with one filter for both has its capture alias on
  // it. Finds the first present KSCATEGORY_CAPTURE interface with an enabled
  // KSCATEGORY_AUDIO alias whose device instance is that of renderPath, and copies its
  // path (up to size - 1 characters; a path that does not fit is skipped, as a cut path
  // would open another object). E_FAIL when there is none: a render-only device.
  static HRESULT FindCaptureFilter(LPCSTR renderPath, LPSTR capturePath, DWORD size);

  CKsList<CKsAudRenFilter> m_listFilters;  // owned
};
