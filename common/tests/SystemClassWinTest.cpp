#include <gtest/gtest.h>

#include "SystemClass.h"

// Wine reports a real NT version; the classification must accept it.
TEST(SystemClassWin, ClassifiesRunningSystem) {
  tess::SystemClass c = tess::querySystemClass();
  EXPECT_TRUE(c.ok);
  EXPECT_GT(c.build, 0u);
  EXPECT_LE(c.systemClass, 12);
}
