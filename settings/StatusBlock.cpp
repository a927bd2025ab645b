#include "StatusBlock.h"

#include <cstring>

namespace tess {
namespace {

// One aligned 32-bit store or load each; the compiler may neither split nor merge them.
inline void put(uint32_t& word, uint32_t value) { __atomic_store_n(&word, value, __ATOMIC_RELAXED); }
inline uint32_t get(const uint32_t& word) { return __atomic_load_n(&word, __ATOMIC_RELAXED); }

// The owner field is four aligned words inside the block.
inline uint32_t* ownerWords(StatusBlockLayout* p) { return reinterpret_cast<uint32_t*>(p->owner); }

inline uint32_t identityWord(const Identity& id, int i) {
  uint32_t w;
  std::memcpy(&w, id.bytes + 4 * i, 4);
  return w;
}

}  // namespace

bool StatusBlockView::valid() const { return m_p && get(m_p->magic) == kStatusBlockMagic; }

bool StatusBlockView::ownedBy(const Identity& id) const {
  if (!valid()) return false;
  for (int i = 0; i < 4; ++i)
    if (get(ownerWords(m_p)[i]) != identityWord(id, i)) return false;
  return true;
}

bool StatusBlockView::free() const {
  if (!valid()) return false;
  for (int i = 0; i < 4; ++i)
    if (get(ownerWords(m_p)[i]) != 0) return false;
  return true;
}

void StatusBlockView::markChanged() { __atomic_store_n(&m_p->changed, 1u, __ATOMIC_RELEASE); }

void StatusBlockView::initialiseCreated() {
  if (!m_p) return;
  std::memset(static_cast<void*>(m_p), 0, sizeof(StatusBlockLayout));
  __atomic_store_n(&m_p->magic, kStatusBlockMagic, __ATOMIC_RELEASE);
}

bool StatusBlockView::loadSettingsOnce(const BlockSettings& s) {
  if (!valid() || get(m_p->settingsLoaded) != 0) return false;
  put(m_p->bufferSizeSetting, s.bufferSize);
  put(m_p->bitsPerSampleSetting, s.bitsPerSample);
  put(m_p->supportedRates, s.supportedRates);
  put(m_p->supportedWidths, s.supportedWidths);
  put(m_p->settingsLoaded, 1);
  markChanged();
  return true;
}

bool StatusBlockView::settingsLoaded() const { return valid() && get(m_p->settingsLoaded) != 0; }

bool StatusBlockView::readSettings(BlockSettings& out) const {
  if (!valid()) return false;
  out.bufferSize = get(m_p->bufferSizeSetting);
  out.bitsPerSample = get(m_p->bitsPerSampleSetting);
  out.supportedRates = get(m_p->supportedRates);
  out.supportedWidths = get(m_p->supportedWidths);
  return true;
}

bool StatusBlockView::claim(const Identity& id) {
  if (!free()) return false;
  // Two processes may claim at once: the first owner word is taken with one exchange, so
  // only one of them goes on (an identity whose first word is 0 cannot race this way).
  uint32_t expected = 0;
  const uint32_t first = identityWord(id, 0);
  if (first != 0 &&
      !__atomic_compare_exchange_n(&ownerWords(m_p)[0], &expected, first, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE))
    return false;
  put(m_p->state, kStateLoaded);
  for (int i = 0; i < 4; ++i) put(ownerWords(m_p)[i], identityWord(id, i));
  markChanged();
  return true;
}

bool StatusBlockView::release(const Identity& id) {
  if (!ownedBy(id)) return false;
  put(m_p->state, kStateUnload);
  for (int i = 0; i < 4; ++i) put(ownerWords(m_p)[i], 0);
  markChanged();
  return true;
}

bool StatusBlockView::publishDeviceName(const Identity& id, const char* name) {
  if (!ownedBy(id)) return false;
  // At most 255 characters and the terminating zero; word by word like every other field.
  char copy[sizeof m_p->deviceName] = {};
  if (name) {
    size_t n = strnlen(name, sizeof copy - 1);
    std::memcpy(copy, name, n);
  }
  uint32_t* words = reinterpret_cast<uint32_t*>(m_p->deviceName);
  for (size_t i = 0; i < sizeof copy / 4; ++i) {
    uint32_t w;
    std::memcpy(&w, copy + 4 * i, 4);
    put(words[i], w);
  }
  markChanged();
  return true;
}

bool StatusBlockView::publishState(const Identity& id, uint32_t state) {
  if (!ownedBy(id)) return false;
  put(m_p->state, state);
  markChanged();
  return true;
}

bool StatusBlockView::publishInit(const Identity& id, const InitPublication& p) {
  if (!ownedBy(id)) return false;
  put(m_p->buffer, p.buffer);
  put(m_p->rate, p.rate);
  put(m_p->widthInUse, p.widthInUse);
  put(m_p->state, kStateInitialized);
  put(m_p->supportedWidths, p.supportedWidths & 0xF);
  put(m_p->supportedRates, p.supportedRates);
  markChanged();
  return true;
}

bool StatusBlockView::publishBuffers(const Identity& id, const BuffersPublication& p) {
  if (!ownedBy(id)) return false;
  put(m_p->state, kStatePrepared);
  put(m_p->buffer, p.buffer);
  put(m_p->dsd, p.dsd);
  put(m_p->dsd128, p.dsd128);
  put(m_p->dsd256, p.dsd256);
  put(m_p->nativeDsd, p.nativeDsd);
  markChanged();
  return true;
}

bool StatusBlockView::publishDisposed(const Identity& id) {
  if (!ownedBy(id)) return false;
  put(m_p->state, kStateInitialized);
  put(m_p->dsd, 0);
  put(m_p->dsd128, 0);
  put(m_p->nativeDsd, 0);  // DSD256 keeps its value, as the panel has always seen it
  markChanged();
  return true;
}

bool StatusBlockView::publishDopDetected(const Identity& id, bool dsd128) {
  if (!ownedBy(id)) return false;
  put(m_p->dsd, 1);
  put(m_p->dsd128, dsd128);
  markChanged();
  return true;
}

bool StatusBlockView::publishDopFlags(const Identity& id, uint32_t dsd, uint32_t dsd128) {
  if (!ownedBy(id)) return false;
  put(m_p->dsd, dsd);
  put(m_p->dsd128, dsd128);
  markChanged();
  return true;
}

// Test-and-clear with one exchange (atomic across processes too): a load then a store
// would lose a request or publication landing between them.
inline bool takeWord(uint32_t& word) { return __atomic_exchange_n(&word, 0u, __ATOMIC_ACQ_REL) != 0; }

bool StatusBlockView::takeResetRequest(const Identity& id) {
  return ownedBy(id) && takeWord(m_p->resetRequest);
}

bool StatusBlockView::publishRate(uint32_t rate) {
  if (!valid()) return false;
  put(m_p->rate, rate);
  markChanged();
  return true;
}

bool StatusBlockView::publishWidthInUse(uint32_t width) {
  if (!valid()) return false;
  put(m_p->widthInUse, width);
  markChanged();
  return true;
}

bool StatusBlockView::requestShowPanel() {
  if (!valid()) return false;
  put(m_p->showPanel, 1);
  markChanged();
  return true;
}

bool StatusBlockView::setPanelSettings(uint32_t bufferSize, uint32_t bitsPerSample) {
  if (!valid()) return false;
  put(m_p->bufferSizeSetting, bufferSize);
  put(m_p->bitsPerSampleSetting, bitsPerSample);
  return true;
}

bool StatusBlockView::requestReset() {
  if (!valid()) return false;
  put(m_p->resetRequest, 1);
  return true;
}

bool StatusBlockView::takeChanged() { return valid() && takeWord(m_p->changed); }

bool StatusBlockView::takeShowPanel() { return valid() && takeWord(m_p->showPanel); }

uint32_t StatusBlockView::state() const { return valid() ? get(m_p->state) : 0; }

uint32_t StatusBlockView::field(size_t offset) const {
  if (!valid() || offset % 4 != 0 || offset > sizeof(StatusBlockLayout) - 4) return 0;
  return get(reinterpret_cast<const uint32_t*>(m_p)[offset / 4]);
}

Identity StatusBlockView::owner() const {
  Identity id{};
  if (!valid()) return id;
  for (int i = 0; i < 4; ++i) {
    uint32_t w = get(ownerWords(m_p)[i]);
    std::memcpy(id.bytes + 4 * i, &w, 4);
  }
  return id;
}

void StatusBlockView::deviceName(char* out, size_t size) const {
  if (!out || size == 0) return;
  out[0] = 0;
  if (!valid()) return;
  size_t n = 0;
  for (; n + 1 < size && n < sizeof m_p->deviceName; ++n) {
    char c = __atomic_load_n(&m_p->deviceName[n], __ATOMIC_RELAXED);
    if (!c) break;
    out[n] = c;
  }
  out[n] = 0;
}

}  // namespace tess
