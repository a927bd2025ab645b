// skinart OUTPUT_DIR [FONT_DIR]: draws the control panel's skin into BMP files and its icon
// into an ICO file, which the resource compiler embeds. The drawing code is the source of the artwork.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "Bmp.h"
#include "Faces.h"
#include "Icon.h"
#include "SkinMask.h"
#include "TextRenderer.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: skinart OUTPUT_DIR [FONT_DIR]\n");
    return 2;
  }
  const std::string out = argv[1];
  const std::string fontDir = argc == 3 ? argv[2] : "/usr/share/fonts/truetype/dejavu";
  try {
    using namespace skinart;
    TextRenderer text(fontDir);
    const Faces faces = drawFaces(text);
    struct Picture {
      const char* file;
      const Canvas* canvas;
      int bits;
    };
    const Canvas mask = drawRegionMask();
    const Canvas thumbs[] = {drawThumb(ThumbLook::Normal), drawThumb(ThumbLook::Held), drawThumb(ThumbLook::Disabled)};
    const std::vector<Picture> pictures = {
        {"face_normal.bmp", &faces.normal, 32},     {"face_hover.bmp", &faces.hover, 32},
        {"face_pressed.bmp", &faces.pressed, 32},   {"face_disabled.bmp", &faces.disabled, 32},
        {"face_base.bmp", &faces.base, 32},         {"region_mask.bmp", &mask, 24},
        {"thumb_normal.bmp", &thumbs[0], 24},       {"thumb_held.bmp", &thumbs[1], 24},
        {"thumb_disabled.bmp", &thumbs[2], 24},
    };
    std::string iconError;
    if (!writeFile(out + "/panel_icon.ico", encodeIco({drawPanelIcon(16), drawPanelIcon(32), drawPanelIcon(48)}),
                   iconError)) {
      std::fprintf(stderr, "skinart: %s\n", iconError.c_str());
      return 1;
    }
    for (const Picture& p : pictures) {
      std::string error;
      if (!writeFile(out + "/" + p.file, encodeBmp(*p.canvas, p.bits), error)) {
        std::fprintf(stderr, "skinart: %s\n", error.c_str());
        return 1;
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "skinart: %s\n", e.what());
    return 1;
  }
  return 0;
}
