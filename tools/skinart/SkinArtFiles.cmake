# Where the build puts the skin artwork, and its files. Included by whoever embeds or makes it.
set(SKINART_DIR ${CMAKE_BINARY_DIR}/skinart)
set(SKINART_NAMES face_normal.bmp face_hover.bmp face_pressed.bmp face_disabled.bmp face_base.bmp
    region_mask.bmp thumb_normal.bmp thumb_held.bmp thumb_disabled.bmp panel_icon.ico)
list(TRANSFORM SKINART_NAMES PREPEND ${SKINART_DIR}/ OUTPUT_VARIABLE SKINART_FILES)
