#include "Object.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class CPageBase : public CObject {
  DECLARE_DYNAMIC(CPageBase)
};
IMPLEMENT_DYNAMIC(CPageBase, CObject)

class CPageDerived : public CPageBase {
  DECLARE_DYNAMIC(CPageDerived)
};
IMPLEMENT_DYNAMIC(CPageDerived, CPageBase)

TEST(RuntimeClass, NamesAndKinds) {
  std::unique_ptr<CObject> page = std::make_unique<CPageDerived>();
  EXPECT_STREQ(page->RuntimeClassName(), "CPageDerived");
  EXPECT_STREQ(page->GetRuntimeClass()->m_pBaseClass->m_lpszClassName, "CPageBase");
  EXPECT_TRUE(page->IsKindOf(RUNTIME_CLASS(CPageDerived)));
  EXPECT_TRUE(page->IsKindOf(RUNTIME_CLASS(CPageBase)));
  EXPECT_TRUE(page->IsKindOf(RUNTIME_CLASS(CObject)));

  const CPageBase base;
  EXPECT_STREQ(base.RuntimeClassName(), "CPageBase");
  EXPECT_FALSE(base.IsKindOf(RUNTIME_CLASS(CPageDerived)));
}

}  // namespace
