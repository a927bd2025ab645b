// The window's shape: a rounded rectangle, black inside, pure white outside.
#pragma once

#include "Canvas.h"

namespace skinart {

Canvas drawRegionMask();

// True where the shipped window shape covers pixel (x, y); faces draw their outline on it.
bool insideWindowShape(int x, int y);

}  // namespace skinart
