// The per-user ASIO settings, HKEY_CURRENT_USER "Software\ASIO\Tessaline USB 2",
// shared by the driver and the control panel, and the status block they meet in.
#pragma once

#include <windows.h>

#include <cstdint>

#include "StatusBlock.h"

namespace tess {

// Registry value names, spelled as the stored data has them.
inline constexpr char kValueSampleRate[] = "SampleRate";
inline constexpr char kValueBufferSize[] = "BufferSize";
inline constexpr char kValueBitsPerSample[] = "BitsPerSample";
inline constexpr char kValueSupportSampleRate[] = "SupportSampleRate";
inline constexpr char kValueSupportBitsPerSample[] = "SupporBitsPerSample";
inline constexpr char kValueControlPanelFolder[] = "ASIOCPL";
inline constexpr uint32_t kDefaultSampleRate = 44100;

// Driver: reads "SampleRate" into pcmRate (44100 when the read fails) and, when the
// block is valid and its settings are not loaded yet, the four block settings (each
// defaulted on a failed read). A missing key changes nothing. True when the key exists.
bool loadSettings(StatusBlockView block, uint32_t& pcmRate);

// Driver: creates the key if needed; writes "SampleRate" and, when the block is valid
// and its settings are loaded, the four block settings. True when every write succeeded.
bool saveSettings(StatusBlockView block, uint32_t pcmRate);

// Control panel: the four block settings with their defaults, all defaults when the key
// is missing.
BlockSettings readBlockSettings();

// Control panel: writes its own two settings back ("BufferSize", "BitsPerSample").
bool savePanelSettings(uint32_t bufferSize, uint32_t bitsPerSample);

// The status block's security: read and write for the interactive user's processes,
// SYSTEM and administrators, with a medium mandatory label so that an elevated creator
// does not lock out a host running at medium integrity.
inline constexpr char kStatusBlockSecurity[] = "D:(A;;GRGW;;;IU)(A;;GA;;;SY)(A;;GA;;;BA)S:(ML;;NW;;;ME)";

// The descriptor above as creation attributes; null attributes when it cannot be built.
class BlockSecurity {
 public:
  BlockSecurity();
  ~BlockSecurity();
  BlockSecurity(const BlockSecurity&) = delete;
  BlockSecurity& operator=(const BlockSecurity&) = delete;
  SECURITY_ATTRIBUTES* attributes() { return m_sd ? &m_attributes : nullptr; }

 private:
  PSECURITY_DESCRIPTOR m_sd = nullptr;
  SECURITY_ATTRIBUTES m_attributes{};
};

// Which program attaches: they differ only in what the creator loads into the block.
enum class BlockSide { Driver, ControlPanel };

// The named file mapping of the status block and its view.
class CStatusBlockMapping {
 public:
  CStatusBlockMapping() = default;
  ~CStatusBlockMapping() { close(); }
  CStatusBlockMapping(const CStatusBlockMapping&) = delete;
  CStatusBlockMapping& operator=(const CStatusBlockMapping&) = delete;

  // Opens the block by name, or creates it (paging-file backed, 340 bytes); maps the
  // whole of it. The creator zeroes it, writes the magic and loads the settings of its
  // side; the driver's "SampleRate" lands in *driverPcmRate. False when there is no view:
  // callers then work without the block (every access checks the view).
  bool attach(BlockSide side, uint32_t* driverPcmRate = nullptr, const char* name = kStatusBlockName);
  void close();

  bool created() const { return m_created; }
  HANDLE handle() const { return m_mapping; }
  void* memory() const { return m_view; }
  StatusBlockView view() const { return StatusBlockView(m_view); }

 private:
  HANDLE m_mapping = nullptr;
  void* m_view = nullptr;
  bool m_created = false;
};

}  // namespace tess
