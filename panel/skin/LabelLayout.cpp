#include "LabelLayout.h"

#include <climits>

namespace skin {

LabelLayout layoutLabel(int clientWidth, int widthOfW, std::size_t textLength) {
  LabelLayout layout{};
  if (widthOfW <= 0) {
    layout.visibleCount = textLength > INT_MAX ? INT_MAX : static_cast<int>(textLength);
  } else {
    layout.visibleCount = clientWidth > 0 ? (2 * clientWidth) / widthOfW : 0;
  }
  layout.overflow = static_cast<std::size_t>(layout.visibleCount) < textLength;
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
