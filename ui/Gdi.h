// Owners of GDI objects and device contexts: each releases what it holds on every path.
#pragma once

#include <windows.h>

#include <utility>

// An owned GDI object (bitmap, font, region, brush): deleted with its owner.
template <typename Handle>
class CGdiObject {
 public:
  CGdiObject() = default;
  explicit CGdiObject(Handle h) : m_handle(h) {}
  ~CGdiObject() { DeleteObject(); }
  CGdiObject(CGdiObject&& other) noexcept : m_handle(other.Detach()) {}
  CGdiObject& operator=(CGdiObject&& other) noexcept {
    if (this != &other) Attach(other.Detach());
    return *this;
  }
  CGdiObject(const CGdiObject&) = delete;
  CGdiObject& operator=(const CGdiObject&) = delete;

  Handle Get() const { return m_handle; }
  operator Handle() const { return m_handle; }
  explicit operator bool() const { return m_handle != nullptr; }
  void Attach(Handle h) {
    DeleteObject();
    m_handle = h;
  }
  Handle Detach() { return std::exchange(m_handle, nullptr); }
  void DeleteObject() {
    if (m_handle) ::DeleteObject(m_handle);
    m_handle = nullptr;
  }

 private:
  Handle m_handle = nullptr;
};

using CFont = CGdiObject<HFONT>;
using CRgn = CGdiObject<HRGN>;
using CBrush = CGdiObject<HBRUSH>;

class CBitmap : public CGdiObject<HBITMAP> {
 public:
  using CGdiObject<HBITMAP>::CGdiObject;
  // Loads a bitmap resource as a device-independent section (keeps 32-bit pixels as they are).
  bool LoadBitmap(HINSTANCE module, UINT id);
  SIZE GetSize() const;  // 0 x 0 when empty
};

// A window's client-area DC for the scope.
class CClientDC {
 public:
  explicit CClientDC(HWND hWnd) : m_hWnd(hWnd), m_dc(::GetDC(hWnd)) {}
  ~CClientDC() {
    if (m_dc) ::ReleaseDC(m_hWnd, m_dc);
  }
  CClientDC(const CClientDC&) = delete;
  CClientDC& operator=(const CClientDC&) = delete;
  operator HDC() const { return m_dc; }

 private:
  HWND m_hWnd;
  HDC m_dc;
};

// BeginPaint / EndPaint for a WM_PAINT handler.
class CPaintDC {
 public:
  explicit CPaintDC(HWND hWnd) : m_hWnd(hWnd), m_dc(::BeginPaint(hWnd, &m_ps)) {}
  ~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }
  CPaintDC(const CPaintDC&) = delete;
  CPaintDC& operator=(const CPaintDC&) = delete;
  operator HDC() const { return m_dc; }
  const PAINTSTRUCT& Paint() const { return m_ps; }

 private:
  HWND m_hWnd;
  PAINTSTRUCT m_ps{};
  HDC m_dc;
};

// A memory DC compatible with another DC.
class CMemoryDC {
 public:
  explicit CMemoryDC(HDC compatibleWith) : m_dc(::CreateCompatibleDC(compatibleWith)) {}
  ~CMemoryDC() {
    if (m_dc) ::DeleteDC(m_dc);
  }
  CMemoryDC(const CMemoryDC&) = delete;
  CMemoryDC& operator=(const CMemoryDC&) = delete;
  operator HDC() const { return m_dc; }

 private:
  HDC m_dc;
};

// Selects an object into a DC for the scope.
class CSelectObject {
 public:
  CSelectObject(HDC dc, HGDIOBJ object) : m_dc(dc), m_old(dc && object ? ::SelectObject(dc, object) : nullptr) {}
  ~CSelectObject() {
    if (m_old && m_old != HGDI_ERROR) ::SelectObject(m_dc, m_old);
  }
  CSelectObject(const CSelectObject&) = delete;
  CSelectObject& operator=(const CSelectObject&) = delete;
  bool Selected() const { return m_old && m_old != HGDI_ERROR; }

 private:
  HDC m_dc;
  HGDIOBJ m_old;
};
