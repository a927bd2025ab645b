// Does an OEM INF belong to one of our packages? Its text is read line by line (pieces of
// at most kInfLineMax - 1 bytes, as a line buffer of kInfLineMax bytes holds them),
// upper-cased, until a line contains one of the upper-cased base names. The text arrives
// in chunks of any size; nothing is read past what was given.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tess::installer {

inline constexpr size_t kInfLineMax = 4096;

class CInfScanner {
 public:
  explicit CInfScanner(const std::vector<std::string>& baseNames);

  void feed(const char* data, size_t size);
  // The end of the text: the last line without a line break is looked at too.
  void finish();
  bool found() const { return m_found; }

 private:
  void endLine();

  std::vector<std::string> m_names;  // upper-cased, empty ones left out
  std::string m_line;
  bool m_found = false;
};

}  // namespace tess::installer
