#include "TextRules.h"

namespace tess::installer {

namespace {

char upperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::string upperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = upperChar(c);
  return out;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (upperChar(text[i]) != upperChar(prefix[i])) return false;
  return true;
}

Mode modeFromCommandLine(std::string_view commandLine) {
  return upperAscii(commandLine).find("/U") != std::string::npos ? Mode::Removal : Mode::Install;
}

std::optional<std::string> normaliseHardwareId(std::string_view hardwareId) {
  const std::string id = upperAscii(hardwareId);
  const size_t rev = id.find("&REV");
  const size_t mi = id.find("MI");
  if (rev == std::string::npos || mi == std::string::npos) return std::nullopt;
  return id.substr(0, rev + 1) + id.substr(mi);
}

bool hardwareIdMatches(std::string_view normalisedId, std::string_view packageId) {
  return !packageId.empty() && startsWithNoCase(normalisedId, packageId);
}

}  // namespace tess::installer
