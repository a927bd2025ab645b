// Hostile text for the co-installer's parsers: OEM INF contents (in chunks of any size),
// registry strings ("DevicePath", "InfPath"), hardware ids, and search-path edits.
#include <cstddef>
#include <cstdint>
#include <string>

#include "InfScan.h"
#include "RegistryText.h"
#include "SearchPath.h"
#include "TextRules.h"

using namespace tess::installer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t selector = data[0];
  const size_t chunk = 1 + data[1] * 17;
  data += 2;
  size -= 2;

  CInfScanner scanner({"TessUAD2", "TUad2iAP", ""});
  for (size_t i = 0; i < size; i += chunk) {
    const size_t n = size - i < chunk ? size - i : chunk;
    scanner.feed(reinterpret_cast<const char*>(data + i), n);
  }
  scanner.finish();

  auto text = registryText(selector & 3, data, size, 4096);
  infPathText(selector & 3, data, size);
  const std::string raw(reinterpret_cast<const char*>(data), size);
  normaliseHardwareId(raw);
  if (text) {
    const size_t cut = text->find('|');
    const std::string folder = cut == std::string::npos ? "C:\\PKG\\DRIVER" : text->substr(cut + 1);
    const std::string current = text->substr(0, cut);
    const std::string added = searchPathWithFolder(current, folder);
    auto removed = searchPathWithoutFolder(added, folder);
    // What was added comes away again, unless the folder names no single entry.
    if (folder.find(';') == std::string::npos && !removed) __builtin_trap();
  }
  return 0;
}
