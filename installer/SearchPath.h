// Edits of the system's driver search path ("DevicePath", entries separated by ";").
// Entries are compared whole and case-insensitively: a folder must never match inside a
// longer entry (C:\PKG\DRIVER inside C:\PKG\DRIVERXP), which would cut another entry apart.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tess::installer {

// The folder (upper-cased) put first; the value unchanged when the folder is already an entry.
std::string searchPathWithFolder(std::string_view current, std::string_view folder);

// The value without the folder's entry and one of its separators; nullopt when the
// folder is not an entry (nothing to write).
std::optional<std::string> searchPathWithoutFolder(std::string_view current, std::string_view folder);

}  // namespace tess::installer
