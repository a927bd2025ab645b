// Layout of a skinned text label: how many characters it shows, and the line it draws at a
// given scroll offset (text that does not fit runs on as a marquee, " ** " between repeats).
// Portable.
#pragma once

#include <cstddef>
#include <string>

namespace skin {

inline constexpr char kMarqueeSeparator[] = " ** ";

struct LabelLayout {
  int visibleCount;  // characters the label shows
  bool overflow;     // the text is longer than that
};

// textWidth: the text itself measured in the label's font. It overflows only when it is
// wider than the client area; then the visible count is the characters that fill the width
// at the text's average character width, plus one so that the marquee leaves no gap at the
// right edge. A text that measures nothing is taken to fit.
LabelLayout layoutLabel(int clientWidth, int textWidth, std::size_t textLength);

struct LabelLine {
  std::string text;
  bool centred;  // else left-aligned
};

// The text without its first offset characters; when the text overflows, " ** " and the whole
// text follow, repeatedly, until the line holds at least visibleCount characters.
LabelLine composeLabelLine(const std::string& text, std::size_t offset, int visibleCount);

// One marquee step: the next offset, back to 0 once it goes past the text's length.
inline std::size_t nextMarqueeOffset(std::size_t offset, std::size_t textLength) {
  return offset + 1 > textLength ? 0 : offset + 1;
}

}  // namespace skin
