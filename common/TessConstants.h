// Names and numbers every deliverable shares: they are how the processes find each other.
#pragma once

#include <cstdint>

namespace tess {

inline constexpr char kDriverName[] = "Tessaline USB 2";
inline constexpr char kAsioKeyPath[] = "Software\\ASIO";  // HKLM (registration) and HKCU (settings)
inline constexpr char kStatusBlockName[] = "Tessaline USB 2_20130107";
inline constexpr uint32_t kStatusBlockMagic = 0x20130107;
inline constexpr uint32_t kStatusBlockSize = 340;

inline constexpr char kPanelWindowTitle[] = "Tessaline USB Audio Control Panel2";
inline constexpr char kPanelProgramName[] = "TessalineUsbAudioDevice2ACPLUI.exe";
inline constexpr char kPackageKeyPath[] = "SOFTWARE\\Tessaline\\Tessaline USB 2";  // HKLM

// Set to 1 to make any deliverable use the virtual DAC in place of hardware.
inline constexpr char kVirtualDeviceEnv[] = "TESSALINE_VIRTUAL_DEVICE";

// Driver states, as published in the status block and shown by the control panel.
enum DriverState : uint32_t {
  kStateUnload = 0,
  kStateLoaded = 1,
  kStateInitialized = 2,
  kStatePrepared = 3,
  kStateRunning = 4,
};

}  // namespace tess
