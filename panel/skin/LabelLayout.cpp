#include "LabelLayout.h"

#include <algorithm>
#include <climits>

namespace skin {

LabelLayout layoutLabel(int clientWidth, int textWidth, std::size_t textLength) {
  LabelLayout layout{};
  const int length = textLength > INT_MAX ? INT_MAX : static_cast<int>(textLength);
  if (textWidth <= 0 || textWidth <= clientWidth) {
    layout.visibleCount = length;
    layout.overflow = false;
    return layout;
  }
  const long long fitting = clientWidth > 0 ? static_cast<long long>(length) * clientWidth / textWidth : 0;
  // Fewer than all: a text a pixel too wide still scrolls.
  layout.visibleCount = static_cast<int>(std::min<long long>(fitting + 1, length - 1));
  layout.overflow = true;
  return layout;
}

LabelLine composeLabelLine(const std::string& text, std::size_t offset, int visibleCount) {
  LabelLine line;
  line.text = offset < text.size() ? text.substr(offset) : std::string();
  const std::size_t wanted = visibleCount > 0 ? static_cast<std::size_t>(visibleCount) : 0;
  if (wanted < text.size()) {
    while (line.text.size() < wanted) {
      line.text += kMarqueeSeparator;
      line.text += text;
    }
    line.centred = false;
  } else {
    line.centred = true;
  }
  return line;
}

}  // namespace skin
