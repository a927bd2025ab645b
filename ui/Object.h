// Base object with run-time class names, so that heap objects such as the control panel's
// pages can tell their class by name. Portable: no Windows header.
#pragma once

struct CRuntimeClass {
  const char* m_lpszClassName;
  const CRuntimeClass* m_pBaseClass;  // null for CObject

  bool IsDerivedFrom(const CRuntimeClass* base) const;
};

class CObject {
 public:
  static const CRuntimeClass classCObject;

  // Slot order matters to nobody outside, but it is kept as the pages expect:
  // the run-time class query first, then the destructor.
  virtual const CRuntimeClass* GetRuntimeClass() const;
  virtual ~CObject() = default;

  bool IsKindOf(const CRuntimeClass* cls) const { return GetRuntimeClass()->IsDerivedFrom(cls); }
  const char* RuntimeClassName() const { return GetRuntimeClass()->m_lpszClassName; }

 protected:
  CObject() = default;
  CObject(const CObject&) = default;
  CObject& operator=(const CObject&) = default;
};

#define RUNTIME_CLASS(cls) (&cls::class##cls)

// In the class body: gives the class its run-time class record.
#define DECLARE_DYNAMIC(cls)                 \
 public:                                     \
  static const CRuntimeClass class##cls;     \
  const CRuntimeClass* GetRuntimeClass() const override;

// In one source file: names the class and its base.
#define IMPLEMENT_DYNAMIC(cls, base)                                         \
  const CRuntimeClass cls::class##cls = {#cls, RUNTIME_CLASS(base)};         \
  const CRuntimeClass* cls::GetRuntimeClass() const { return RUNTIME_CLASS(cls); }
