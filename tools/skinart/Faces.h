// The skin's pictures: five full-window faces sharing one layout, and the slider thumbs.
#pragma once

#include "Canvas.h"
#include "TextRenderer.h"

namespace skinart {

struct Faces {
  Canvas base;      // background, every button area blank
  Canvas normal;    // controls in their normal look, slider tracks
  Canvas hover;     // highlighted
  Canvas pressed;   // pressed or checked
  Canvas disabled;  // dimmed
};

Faces drawFaces(TextRenderer& text);

enum class ThumbLook { Normal, Held, Disabled };
Canvas drawThumb(ThumbLook look);

}  // namespace skinart
