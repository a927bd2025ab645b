#include "SearchPath.h"

#include <cstddef>
#include <vector>

#include "TextRules.h"

namespace tess::installer {

namespace {

std::vector<std::string_view> entriesOf(std::string_view value) {
  std::vector<std::string_view> entries;
  size_t start = 0;
  for (;;) {
    const size_t end = value.find(';', start);
    entries.push_back(value.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return entries;
}

bool sameEntry(std::string_view entry, std::string_view folder) {
  return entry.size() == folder.size() && startsWithNoCase(entry, folder);
}

}  // namespace

std::string searchPathWithFolder(std::string_view current, std::string_view folder) {
  for (std::string_view entry : entriesOf(current))
    if (sameEntry(entry, folder)) return std::string(current);
  std::string added = upperAscii(folder);
  if (!current.empty()) {
    added += ';';
    added += current;
  }
  return added;
}

std::optional<std::string> searchPathWithoutFolder(std::string_view current, std::string_view folder) {
  std::vector<std::string_view> entries = entriesOf(current);
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!sameEntry(entries[i], folder)) continue;
    entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
    std::string kept;
    for (size_t j = 0; j < entries.size(); ++j) {
      if (j > 0) kept += ';';
      kept += entries[j];
    }
    return kept;
  }
  return std::nullopt;
}

}  // namespace tess::installer
