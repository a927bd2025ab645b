// The shared status block: the 340-byte layout and the rules for touching it.
//
// The driver and the control panel live in different processes and share no lock.
// Every field is a naturally aligned 32-bit word written with one store, and the
// "changed" word is stored after the fields it announces (release order), so a
// reader that sees changed == 1 sees the new fields too. No access happens unless
// the view exists and carries the magic.
#pragma once

#include <cstddef>
#include <cstdint>

#include "TessConstants.h"

namespace tess {

// The identity of a driver instance: the class identifier it was created under.
struct Identity {
  uint8_t bytes[16];
};

struct StatusBlockLayout {
  uint32_t magic;            // kStatusBlockMagic, written by the creator
  uint32_t state;            // DriverState, owner
  uint32_t settingsLoaded;   // 1 once the creator copied the registry settings in
  uint8_t owner[16];         // identity of the owning instance, all zero when free
  uint32_t changed;          // 1 after a writer changed fields; the panel's poll clears it
  uint32_t showPanel;        // set by controlPanel, cleared by the panel
  uint32_t bufferSizeSetting;     // preferred duration, 0.1 ms units ("BufferSize")
  uint32_t bitsPerSampleSetting;  // chosen width ("BitsPerSample")
  uint32_t buffer;           // after init: 0.1 ms units; after createBuffers: frames (/32 at DSD)
  uint32_t rate;             // PCM (carrier) rate in Hz
  uint32_t widthInUse;       // sample width in use
  uint32_t supportedRates;   // bit i = entry i of the sample-rate table
  uint32_t supportedWidths;  // bit 1 = 16, bit 2 = 24, bit 3 = 32
  char deviceName[256];      // zero-terminated ANSI
  uint32_t dsd;
  uint32_t dsd128;
  uint32_t dsd256;
  uint32_t nativeDsd;
  uint32_t resetRequest;     // set by the panel, cleared by the owner's pump thread
};

static_assert(sizeof(StatusBlockLayout) == kStatusBlockSize, "status block size");
static_assert(offsetof(StatusBlockLayout, magic) == 0, "magic");
static_assert(offsetof(StatusBlockLayout, state) == 4, "state");
static_assert(offsetof(StatusBlockLayout, settingsLoaded) == 8, "settingsLoaded");
static_assert(offsetof(StatusBlockLayout, owner) == 12, "owner");
static_assert(offsetof(StatusBlockLayout, changed) == 28, "changed");
static_assert(offsetof(StatusBlockLayout, showPanel) == 32, "showPanel");
static_assert(offsetof(StatusBlockLayout, bufferSizeSetting) == 36, "BufferSize");
static_assert(offsetof(StatusBlockLayout, bitsPerSampleSetting) == 40, "BitsPerSample");
static_assert(offsetof(StatusBlockLayout, buffer) == 44, "buffer");
static_assert(offsetof(StatusBlockLayout, rate) == 48, "rate");
static_assert(offsetof(StatusBlockLayout, widthInUse) == 52, "widthInUse");
static_assert(offsetof(StatusBlockLayout, supportedRates) == 56, "supportedRates");
static_assert(offsetof(StatusBlockLayout, supportedWidths) == 60, "supportedWidths");
static_assert(offsetof(StatusBlockLayout, deviceName) == 64, "deviceName");
static_assert(offsetof(StatusBlockLayout, dsd) == 320, "dsd");
static_assert(offsetof(StatusBlockLayout, dsd128) == 324, "dsd128");
static_assert(offsetof(StatusBlockLayout, dsd256) == 328, "dsd256");
static_assert(offsetof(StatusBlockLayout, nativeDsd) == 332, "nativeDsd");
static_assert(offsetof(StatusBlockLayout, resetRequest) == 336, "resetRequest");

// The four settings the creator of the block copies from the registry.
struct BlockSettings {
  uint32_t bufferSize = 10;       // 1 ms
  uint32_t bitsPerSample = 32;
  uint32_t supportedRates = 2;    // 44100 Hz
  uint32_t supportedWidths = 2;   // 16 bits
};

// Values the owner publishes after a successful init.
struct InitPublication {
  uint32_t buffer;  // preferred duration, 0.1 ms units
  uint32_t rate;
  uint32_t widthInUse;
  uint32_t supportedWidths;
  uint32_t supportedRates;
};

// Values the owner publishes after a successful createBuffers.
struct BuffersPublication {
  uint32_t buffer;  // frames, or frames / 32 at a native DSD rate
  bool dsd, dsd128, dsd256, nativeDsd;
};

// A view of the block, or of nothing (null). Copyable; it does not own the memory.
// Owner-only operations take the caller's identity and do nothing unless the block
// is owned by it; "any instance" operations only need the magic.
class StatusBlockView {
 public:
  StatusBlockView() = default;
  explicit StatusBlockView(void* memory) : m_p(static_cast<StatusBlockLayout*>(memory)) {}

  bool exists() const { return m_p != nullptr; }
  // The view exists and carries the magic: the precondition of every other access.
  bool valid() const;
  bool ownedBy(const Identity& id) const;
  bool free() const;  // valid and the owner identity is all zero

  // Creator: zero the 340 bytes, then write the magic.
  void initialiseCreated();
  // Creator's settings load: copies the four values (when not loaded yet), marks them loaded.
  bool loadSettingsOnce(const BlockSettings& s);
  bool settingsLoaded() const;
  bool readSettings(BlockSettings& out) const;  // false when not valid

  // Claim a free block for an instance at bind: state LOADED, owner, changed.
  bool claim(const Identity& id);
  // Destruction: state UNLOAD and owner zeroed, so the next instance can claim it.
  bool release(const Identity& id);

  // Owner-only publications; each ends with the changed flag.
  bool publishDeviceName(const Identity& id, const char* name);
  bool publishState(const Identity& id, uint32_t state);
  bool publishInit(const Identity& id, const InitPublication& p);
  bool publishBuffers(const Identity& id, const BuffersPublication& p);
  bool publishDisposed(const Identity& id);  // state INITIALIZED, DSD/DSD128/native cleared
  bool publishDopDetected(const Identity& id, bool dsd128);
  // Output copy's DoP verdict: both DSD words as given.
  bool publishDopFlags(const Identity& id, uint32_t dsd, uint32_t dsd128);
  // Owner's pump thread: takes the reset request (clears it, no changed flag).
  bool takeResetRequest(const Identity& id);

  // Any instance.
  bool publishRate(uint32_t rate);
  bool publishWidthInUse(uint32_t width);
  bool requestShowPanel();

  // Control panel side.
  bool setPanelSettings(uint32_t bufferSize, uint32_t bitsPerSample);
  bool requestReset();
  bool takeChanged();    // the poll: true when changed was set; clears it
  bool takeShowPanel();  // true when show panel was set; clears it

  // Plain reads (0 when not valid).
  uint32_t state() const;
  uint32_t field(size_t offset) const;  // any 32-bit word by its offset
  Identity owner() const;
  // Copies the device name, always zero-terminated within `size` bytes.
  void deviceName(char* out, size_t size) const;

  StatusBlockLayout* raw() const { return m_p; }

 private:
  void markChanged();
  StatusBlockLayout* m_p = nullptr;
};

}  // namespace tess
