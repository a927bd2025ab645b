#include "Settings.h"

#include <sddl.h>

#include "RegKey.h"

namespace tess {
namespace {

// HKCU "Software\ASIO" then its subkey: two steps, as a missing parent is a missing key.
bool openSettingsKey(RegKey& key, REGSAM access) {
  RegKey parent;
  if (parent.open(HKEY_CURRENT_USER, kAsioKeyPath, access) != ERROR_SUCCESS) return false;
  return key.open(parent.get(), kDriverName, access) == ERROR_SUCCESS;
}

bool createSettingsKey(RegKey& key) {
  RegKey parent;
  if (parent.create(HKEY_CURRENT_USER, kAsioKeyPath, KEY_ALL_ACCESS) != ERROR_SUCCESS) return false;
  return key.create(parent.get(), kDriverName, KEY_ALL_ACCESS) == ERROR_SUCCESS;
}

uint32_t readOr(const RegKey& key, const char* name, uint32_t fallback) {
  DWORD v;
  return key.readDword(name, v) ? v : fallback;
}

BlockSettings readBlockSettingsFrom(const RegKey& key) {
  const BlockSettings defaults;
  BlockSettings s;
  s.bufferSize = readOr(key, kValueBufferSize, defaults.bufferSize);
  s.bitsPerSample = readOr(key, kValueBitsPerSample, defaults.bitsPerSample);
  s.supportedRates = readOr(key, kValueSupportSampleRate, defaults.supportedRates);
  s.supportedWidths = readOr(key, kValueSupportBitsPerSample, defaults.supportedWidths);
  return s;
}

}  // namespace

bool loadSettings(StatusBlockView block, uint32_t& pcmRate) {
  RegKey key;
  if (!openSettingsKey(key, KEY_ALL_ACCESS)) return false;
  pcmRate = readOr(key, kValueSampleRate, kDefaultSampleRate);
  if (block.valid() && !block.settingsLoaded()) block.loadSettingsOnce(readBlockSettingsFrom(key));
  return true;
}

bool saveSettings(StatusBlockView block, uint32_t pcmRate) {
  RegKey key;
  if (!createSettingsKey(key)) return false;
  bool ok = key.writeDword(kValueSampleRate, pcmRate);
  BlockSettings s;
  if (block.settingsLoaded() && block.readSettings(s)) {
    ok &= key.writeDword(kValueBufferSize, s.bufferSize);
    ok &= key.writeDword(kValueBitsPerSample, s.bitsPerSample);
    ok &= key.writeDword(kValueSupportSampleRate, s.supportedRates);
    ok &= key.writeDword(kValueSupportBitsPerSample, s.supportedWidths);
  }
  return ok;
}

BlockSettings readBlockSettings() {
  RegKey key;
  if (!openSettingsKey(key, KEY_READ)) return BlockSettings{};
  return readBlockSettingsFrom(key);
}

bool savePanelSettings(uint32_t bufferSize, uint32_t bitsPerSample) {
  RegKey key;
  if (!createSettingsKey(key)) return false;
  bool ok = key.writeDword(kValueBufferSize, bufferSize);
  ok &= key.writeDword(kValueBitsPerSample, bitsPerSample);
  return ok;
}

BlockSecurity::BlockSecurity() {
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorA(kStatusBlockSecurity, SDDL_REVISION_1, &sd, nullptr)) {
    m_sd = sd;
    m_attributes.nLength = sizeof m_attributes;
    m_attributes.lpSecurityDescriptor = sd;
    m_attributes.bInheritHandle = FALSE;
  }
}

BlockSecurity::~BlockSecurity() {
  if (m_sd) LocalFree(m_sd);
}

bool CStatusBlockMapping::attach(BlockSide side, uint32_t* driverPcmRate, const char* name) {
  close();
  m_mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, name);
  if (!m_mapping) {
    // Whoever creates it (the elevated control panel, a host at medium integrity), the
    // other side must be able to open it: an explicit descriptor instead of the
    // creator's default one. Without it (it cannot be built) the default is used.
    BlockSecurity security;
    m_mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, security.attributes(), PAGE_READWRITE, 0, kStatusBlockSize,
                                   name);
    if (!m_mapping) return false;
    // Another process may have created it between our open and create: then it is theirs.
    m_created = GetLastError() != ERROR_ALREADY_EXISTS;
  }
  m_view = MapViewOfFile(m_mapping, FILE_MAP_ALL_ACCESS, 0, 0, kStatusBlockSize);
  if (!m_view) {
    close();
    return false;
  }
  if (m_created) {
    StatusBlockView block = view();
    block.initialiseCreated();
    if (side == BlockSide::Driver) {
      uint32_t rate = 0;
      if (loadSettings(block, rate) && driverPcmRate) *driverPcmRate = rate;
    } else {
      block.loadSettingsOnce(readBlockSettings());
    }
    // Without a settings key the block still starts from the defaults, on either side.
    block.loadSettingsOnce(BlockSettings{});
  }
  return true;
}

void CStatusBlockMapping::close() {
  if (m_view) UnmapViewOfFile(m_view);
  if (m_mapping) CloseHandle(m_mapping);
  m_view = nullptr;
  m_mapping = nullptr;
  m_created = false;
}

}  // namespace tess
