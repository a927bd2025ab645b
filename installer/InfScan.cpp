#include "InfScan.h"

#include "TextRules.h"

namespace tess::installer {

CInfScanner::CInfScanner(const std::vector<std::string>& baseNames) {
  for (const std::string& name : baseNames)
    if (!name.empty()) m_names.push_back(upperAscii(name));
  m_line.reserve(kInfLineMax);
}

void CInfScanner::feed(const char* data, size_t size) {
  for (size_t i = 0; i < size && !m_found; ++i) {
    const char c = data[i];
    m_line.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
    if (c == '\n' || m_line.size() == kInfLineMax - 1) endLine();
  }
}

void CInfScanner::finish() {
  if (!m_found && !m_line.empty()) endLine();
}

void CInfScanner::endLine() {
  for (const std::string& name : m_names)
    if (m_line.find(name) != std::string::npos) m_found = true;
  m_line.clear();
}

}  // namespace tess::installer
