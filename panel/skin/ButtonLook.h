// Which of a skinned button's five bitmaps is drawn for its state. Portable.
#pragma once

namespace skin {

// In the order the button keeps its bitmaps.
enum class ButtonLook { Base, Hover, Pressed, Disabled, Normal };

struct ButtonState {
  bool checkMode;  // two-state button
  bool checked;
  bool hover;
  bool selected;  // pushed, from the draw request
  bool disabled;  // from the draw request
  bool shown;
};

inline ButtonLook selectButtonLook(const ButtonState& s) {
  if (!s.checkMode) {
    if (s.checked && !s.hover) return ButtonLook::Pressed;
    if (s.selected) return ButtonLook::Pressed;
    if (s.hover) return ButtonLook::Hover;
    if (s.disabled) return ButtonLook::Disabled;
    return s.shown ? ButtonLook::Normal : ButtonLook::Base;
  }
  // A hidden two-state button blends into the background.
  if (!s.shown) return ButtonLook::Base;
  if (s.disabled) return ButtonLook::Disabled;
  if (s.checked) return ButtonLook::Pressed;
  if (s.hover) return ButtonLook::Hover;
  return ButtonLook::Normal;
}

}  // namespace skin
