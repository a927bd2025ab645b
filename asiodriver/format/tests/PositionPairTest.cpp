#include "PositionPair.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using tess::fmt::PositionPair;

TEST(PositionPair, ReadsWholeConsistentPairsWhileTheWriterRuns) {
  // The writer stores pairs whose halves and words all derive from one counter; any torn
  // or mixed read breaks the relation.
  PositionPair pair;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (uint64_t i = 1; i <= 2000000; ++i) {
      const uint64_t v = i * 0x100000001ull;  // both halves change on every store
      pair.store(v, ~v);
    }
    done = true;
  });
  uint64_t reads = 0, last = 0;
  while (!done.load() || reads < 1000) {
    const PositionPair::Value v = pair.load();
    ASSERT_EQ(v.time, v.position == 0 && v.time == 0 ? 0 : ~v.position);
    ASSERT_EQ(v.position >> 32, v.position & 0xFFFFFFFFu);
    ASSERT_GE(v.position, last);  // never backwards
    last = v.position;
    ++reads;
  }
  writer.join();
  EXPECT_EQ(pair.load().position, 2000000ull * 0x100000001ull);
}
