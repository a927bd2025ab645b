// Small text rules of the co-installer that need no system call: the mode from the
// command line, hardware-id normalisation and matching, ASCII case folding.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tess::installer {

enum class Mode { Install, Removal };

// The whole command line upper-cased: "/U" anywhere selects removal.
Mode modeFromCommandLine(std::string_view commandLine);

std::string upperAscii(std::string_view text);
bool startsWithNoCase(std::string_view text, std::string_view prefix);

// A device's first hardware id (upper-cased here) in the form
// USB\VID_xxxx&PID_xxxx&REV_xxxx&MI_xx becomes USB\VID_xxxx&PID_xxxx&MI_xx: cut right
// after the "&" that starts "&REV", then the part from the first "MI" on. Ids without
// "MI" or "&REV" have no normal form.
std::optional<std::string> normaliseHardwareId(std::string_view hardwareId);

// A package hardware id matches when it is a case-insensitive prefix of the normalised id.
bool hardwareIdMatches(std::string_view normalisedId, std::string_view packageId);

}  // namespace tess::installer
