// Run-time shapes of what real devices and drivers do: a pin held by another client, and
// cancelled requests that complete late.
#include "DacInternal.h"

namespace tess::vdac {

void setHeldElsewhere(uint32_t pinId, bool held) {
  std::lock_guard<std::mutex> lock(detail::dacLock());
  detail::Dac* dac = detail::dacInstance().get();
  if (!dac) return;
  bool& isHeld = dac->heldElsewhere[pinId];
  if (isHeld == held) return;
  for (detail::FilterDevice& filter : dac->filters) {
    if (!filter.isDac || pinId < filter.recordBase || pinId - filter.recordBase >= filter.instances.size()) continue;
    uint32_t& instances = filter.instances[pinId - filter.recordBase];
    if (held) {
      ++instances;
    } else if (instances > 0) {
      --instances;
    }
    isHeld = held;
    return;
  }
}

void setHoldCancelledCompletions(bool hold) {
  std::lock_guard<std::mutex> lock(detail::dacLock());
  detail::Dac* dac = detail::dacInstance().get();
  if (!dac) return;
  dac->holdCancelled = hold;
  if (hold) return;
  // Released: the device thread completes them on its next pass, not the caller.
  const int64_t now = detail::nowTicks();
  for (detail::DeferredCompletion& d : dac->heldCancelled) {
    d.due = now;
    dac->deferred.push_back(d);
  }
  dac->heldCancelled.clear();
  SetEvent(dac->wake);
}

uint32_t heldCancelledCompletions() {
  std::lock_guard<std::mutex> lock(detail::dacLock());
  detail::Dac* dac = detail::dacInstance().get();
  return dac ? static_cast<uint32_t>(dac->heldCancelled.size()) : 0;
}

}  // namespace tess::vdac
