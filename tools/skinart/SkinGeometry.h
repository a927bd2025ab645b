// Sizes of the skin pictures, shared by the artwork and by whoever checks or measures it.
#pragma once

namespace skinart {

inline constexpr int kFaceWidth = 301;   // faces: 32 bits per pixel
inline constexpr int kFaceHeight = 641;
inline constexpr int kMaskWidth = 299;   // region mask: 24 bits; the window takes its size
inline constexpr int kMaskHeight = 640;
inline constexpr float kCornerRadius = 12.0f;
inline constexpr int kThumbWidth = 8;    // slider thumbs: 24 bits
inline constexpr int kThumbHeight = 16;

}  // namespace skinart
