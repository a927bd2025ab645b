// Another client of the device: an instance of a DAC pin held by a process we do not see.
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

}  // namespace tess::vdac
