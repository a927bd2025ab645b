#include "RegistryText.h"

namespace tess::installer {

std::optional<std::string> registryText(uint32_t type, const uint8_t* data, size_t size, size_t maxBytes) {
  if (type != kRegSz && type != kRegExpandSz) return std::nullopt;
  if (size > maxBytes || (size > 0 && !data)) return std::nullopt;
  size_t length = size;
  while (length > 0 && data[length - 1] == 0 && size - length < 2) --length;
  std::string text(reinterpret_cast<const char*>(data), length);
  if (text.find('\0') != std::string::npos) return std::nullopt;
  return text;
}

std::optional<std::string> infPathText(uint32_t type, const uint8_t* data, size_t size) {
  std::optional<std::string> name = registryText(type, data, size, 260);
  if (!name || name->size() + 1 < 5) return std::nullopt;
  if (name->find_first_of("\\/:") != std::string::npos || *name == "." || *name == "..") return std::nullopt;
  return name;
}

}  // namespace tess::installer
