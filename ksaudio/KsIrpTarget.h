// The bottom layer of the kernel-streaming library: one KS handle (a filter file or a
// pin) and synchronous requests and properties on it, plus the record of a topology
// node. Every device call goes through the device seam (tess::devices()).
#pragma once

#include <windows.h>
#include <winioctl.h>

#include <ks.h>

#include "KsList.h"
#include "KsTrace.h"
#include "KsWire.h"

class CKsIrpTarget {
 public:
  CKsIrpTarget();

  // Neither null nor INVALID_HANDLE_VALUE.
  static BOOL IsValidHandle(HANDLE handle);
  // Closes a valid device handle (through the seam), marks it invalid and returns the
  // close's result; returns TRUE and does nothing for an invalid one.
  static BOOL SafeCloseHandle(HANDLE& handle);
  // How long a pended request may take before it is cancelled. State changes of a USB
  // device take tens of milliseconds; nothing ordinary takes seconds.
  static constexpr DWORD kRequestTimeLimitMs = 5000;
  // Sends one request and returns when it has completed. A property size query
  // (IOCTL_KS_PROPERTY with output size 0) answered "more data" or "too small" with a
  // byte count is a success whose byte count is the size needed; without a byte count it
  // is a failure. A request that pends longer than kRequestTimeLimitMs is cancelled and
  // fails (one that does not even finish cancelling within as long again is abandoned:
  // the device may still write the output buffer later). On a failure the byte count is
  // 0; an invalid handle fails before anything is sent and leaves the byte count alone.
  static HRESULT SyncIoctl(HANDLE handle, ULONG ioctl, PVOID inBuffer, ULONG inSize, PVOID outBuffer,
                           ULONG outSize, PULONG bytesReturned);

  // Fixed-size properties on this object's handle (a set passes the value as output, as
  // KS defines).
  HRESULT GetPropertySimple(REFGUID propertySet, ULONG propertyId, PVOID buffer, ULONG size);
  HRESULT SetPropertySimple(REFGUID propertySet, ULONG propertyId, PVOID value, ULONG size);
  // A variable-size (KSMULTIPLE_ITEM) property into a zeroed buffer allocated with
  // malloc: the caller frees it with free(), also after a failed fetch when one was
  // stored. A property whose size is 0 gives S_OK and stores nothing. replySize, when
  // given, receives the buffer's size.
  HRESULT GetPropertyMulti(REFGUID propertySet, ULONG propertyId, PKSMULTIPLE_ITEM* reply,
                           ULONG* replySize = nullptr);

  HANDLE GetHandle() const { return m_handle; }

  // Shared by the property helpers: size query, allocation, fetch.
  static HRESULT FetchMultipleItem(HANDLE handle, PVOID request, ULONG requestSize, PKSMULTIPLE_ITEM* reply,
                                   ULONG* replySize);

 protected:
  HANDLE m_handle;
};

// One topology node of a filter.
class CKsNode {
 public:
  static constexpr ULONG kTag = 0x454E4F4E;  // "NONE" in memory order

  CKsNode(ULONG nodeId, REFGUID nodeType);

  ULONG m_nodeId;
  ULONG m_tag;
  GUID m_nodeType;
};

// The portable wire definitions carry the platform's GUIDs.
inline GUID ToGuid(const tess::ks::Guid& g) {
  GUID out;
  memcpy(&out, &g, sizeof out);
  return out;
}
