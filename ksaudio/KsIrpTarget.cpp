#include "KsIrpTarget.h"

#include <cstdlib>
#include <new>

#include "DeviceSeam.h"

using namespace tess;

CKsIrpTarget::CKsIrpTarget() : m_handle(INVALID_HANDLE_VALUE) {
  TraceEnter("CKsIrpTarget::CKsIrpTarget()");
  TraceLeave("CKsIrpTarget::CKsIrpTarget()");
}

BOOL CKsIrpTarget::IsValidHandle(HANDLE handle) {
  TraceEnter("CKsIrpTarget::IsValidHandle()");
  BOOL valid = handle != nullptr && handle != INVALID_HANDLE_VALUE;
  TraceLeave("CKsIrpTarget::IsValidHandle()");
  return valid;
}

BOOL CKsIrpTarget::SafeCloseHandle(HANDLE& handle) {
  TraceEnter("CKsIrpTarget::SafeCloseHandle()");
  BOOL result = TRUE;
  if (IsValidHandle(handle)) {
    result = devices().closeHandle(handle);
    handle = INVALID_HANDLE_VALUE;
  }
  TraceLeave("CKsIrpTarget::SafeCloseHandle()");
  return result;
}

namespace {

// One request's completion record. It lives on the heap so that a request the device
// never completes, even when cancelled, can be abandoned without its late completion
// writing into a stack frame that is gone.
struct PendingRequest {
  OVERLAPPED ov = {};
  HANDLE event = nullptr;
};

}  // namespace

HRESULT CKsIrpTarget::SyncIoctl(HANDLE handle, ULONG ioctl, PVOID inBuffer, ULONG inSize, PVOID outBuffer,
                                ULONG outSize, PULONG bytesReturned) {
  static const char kName[] = "CKsIrpTarget::SyncIoctl";
  TraceEnter("CKsIrpTarget::SyncIoctl()");
  if (!IsValidHandle(handle)) {
    Trace(kTraceFailure, "CKsIrpTarget::SyncIoctl Invalid Handle");
    TraceLeaveResult(kName, E_FAIL);
    return E_FAIL;
  }
  ULONG localReturned = 0;
  if (!bytesReturned) bytesReturned = &localReturned;

  PendingRequest* request = new (std::nothrow) PendingRequest;
  HANDLE event = request ? CreateEventA(nullptr, FALSE, FALSE, nullptr) : nullptr;
  if (!event) {
    delete request;
    Trace(kTraceFailure, "CKsIrpTarget::SyncIoctl CreateEvent failed");
    TraceLeaveResult(kName, E_OUTOFMEMORY);
    return E_OUTOFMEMORY;
  }
  request->event = event;
  OVERLAPPED& ov = request->ov;
  // The low bit keeps the completion off any completion port bound to the handle.
  ov.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(event) | 1);

  DWORD bytes = 0;
  BOOL done = devices().deviceIoControl(handle, ioctl, inBuffer, inSize, outBuffer, outSize, &bytes, &ov);
  DWORD error = done ? ERROR_SUCCESS : GetLastError();
  bool waitFailed = false, abandoned = false;
  if (!done && error == ERROR_IO_PENDING) {
    DWORD wait = WaitForSingleObject(event, kRequestTimeLimitMs);
    if (wait == WAIT_TIMEOUT) {
      // A device that does not answer (a hung third-party filter) must not hold the
      // caller for ever: cancel the request and wait for it to finish cancelling.
      Trace(kTraceFailure, "CKsIrpTarget::SyncIoctl request timed out, cancelling");
      devices().cancelIoEx(handle, &ov);
      wait = WaitForSingleObject(event, kRequestTimeLimitMs);
      waitFailed = true;
      abandoned = wait != WAIT_OBJECT_0;
    } else if (wait != WAIT_OBJECT_0) {
      Trace(kTraceFailure, "CKsIrpTarget::SyncIoctl WaitForSingleObject failed dwWait:0x%08x",
            static_cast<unsigned>(wait));
      waitFailed = true;
    } else {
      // The request has completed: take its own status and byte count, so that a
      // request failing after it pended is not taken for a success.
      bytes = 0;
      done = GetOverlappedResult(handle, &ov, &bytes, FALSE);
      error = done ? ERROR_SUCCESS : GetLastError();
    }
  }

  HRESULT hr;
  if (waitFailed) {
    *bytesReturned = 0;
    hr = E_FAIL;
  } else if (done) {
    *bytesReturned = bytes;
    hr = S_OK;
  } else if ((error == ERROR_INSUFFICIENT_BUFFER || error == ERROR_MORE_DATA) &&
             ioctl == tess::ks::kIoctlKsProperty && outSize == 0 && bytes != 0) {
    // A size query: the size the object needs. "Too small" without a size says nothing
    // about the property and is a failure, not an empty property.
    *bytesReturned = bytes;
    hr = S_OK;
  } else {
    *bytesReturned = 0;
    hr = E_FAIL;
  }
  if (abandoned) {
    // Still not complete after cancelling: the record stays allocated (and its event
    // open) for a completion that may yet come.
    Trace(kTraceFailure, "CKsIrpTarget::SyncIoctl request abandoned after cancelling");
  } else {
    // The event is ours, not a device handle: the real CloseHandle.
    CloseHandle(event);
    delete request;
  }
  TraceLeaveResult(kName, hr);
  return hr;
}

HRESULT CKsIrpTarget::GetPropertySimple(REFGUID propertySet, ULONG propertyId, PVOID buffer, ULONG size) {
  TraceEnter("CKsIrpTarget::GetPropertySimple()");
  KSPROPERTY request = {};
  request.Set = propertySet;
  request.Id = propertyId;
  request.Flags = KSPROPERTY_TYPE_GET;
  HRESULT hr = SyncIoctl(m_handle, IOCTL_KS_PROPERTY, &request, sizeof request, buffer, size, nullptr);
  TraceLeaveResult("CKsIrpTarget::GetPropertySimple", hr);
  return hr;
}

HRESULT CKsIrpTarget::SetPropertySimple(REFGUID propertySet, ULONG propertyId, PVOID value, ULONG size) {
  TraceEnter("CKsIrpTarget::SetPropertySimple()");
  KSPROPERTY request = {};
  request.Set = propertySet;
  request.Id = propertyId;
  request.Flags = KSPROPERTY_TYPE_SET;
  HRESULT hr = SyncIoctl(m_handle, IOCTL_KS_PROPERTY, &request, sizeof request, value, size, nullptr);
  TraceLeaveResult("CKsIrpTarget::SetPropertySimple", hr);
  return hr;
}

HRESULT CKsIrpTarget::FetchMultipleItem(HANDLE handle, PVOID request, ULONG requestSize, PKSMULTIPLE_ITEM* reply,
                                        ULONG* replySize) {
  ULONG needed = 0;
  HRESULT hr = SyncIoctl(handle, IOCTL_KS_PROPERTY, request, requestSize, nullptr, 0, &needed);
  if (FAILED(hr)) return hr;
  if (needed == 0) return S_OK;
  // A reply that cannot even hold its header is malformed.
  if (needed < sizeof(KSMULTIPLE_ITEM)) return E_FAIL;
  void* buffer = calloc(needed, 1);
  *reply = static_cast<PKSMULTIPLE_ITEM>(buffer);
  if (!buffer) return E_OUTOFMEMORY;
  if (replySize) *replySize = needed;
  return SyncIoctl(handle, IOCTL_KS_PROPERTY, request, requestSize, buffer, needed, nullptr);
}

HRESULT CKsIrpTarget::GetPropertyMulti(REFGUID propertySet, ULONG propertyId, PKSMULTIPLE_ITEM* reply,
                                       ULONG* replySize) {
  TraceEnter("CKsIrpTarget::GetPropertyMulti()");
  KSPROPERTY request = {};
  request.Set = propertySet;
  request.Id = propertyId;
  request.Flags = KSPROPERTY_TYPE_GET;
  HRESULT hr = FetchMultipleItem(m_handle, &request, sizeof request, reply, replySize);
  TraceLeaveResult("CKsIrpTarget::GetPropertyMulti", hr);
  return hr;
}

CKsNode::CKsNode(ULONG nodeId, REFGUID nodeType) : m_nodeId(nodeId), m_tag(kTag), m_nodeType(nodeType) {
  TraceEnter("CKsNode::CKsNode()");
  TraceLeaveResult("CKsNode::CKsNode", S_OK);
}
