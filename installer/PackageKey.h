// The package key the setup program writes, HKLM "SOFTWARE\Tessaline\Tessaline USB 2",
// and its 32-bit view; values of the wrong type or size count as missing.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace tess::installer {

enum class KeyView { Package, Wow32 };

std::optional<std::string> readPackageText(KeyView view, const char* name);
std::optional<DWORD> readPackageDword(KeyView view, const char* name);
// Package key first; the 32-bit view when the key cannot be opened or the write fails.
void writeCompletionStatus();

// A whole registry value under an open key (type and bytes), or nothing.
struct RegValue {
  DWORD type = REG_NONE;
  std::string bytes;
};
std::optional<RegValue> readRegValue(HKEY key, const char* name, DWORD maxBytes);

}  // namespace tess::installer
