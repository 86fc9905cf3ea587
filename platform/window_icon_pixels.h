#pragma once

#include <cstddef>
#include <cstdint>

// The editor's icon for the window, in a source the build makes from desktop/icons/*.rgba
// (cmake/window_icon.cmake): for each size, its width and height, then width x height pixels
// row by row, each 0xAARRGGBB, alpha not premultiplied.
extern const uint32_t WINDOW_ICON_PIXELS[];
extern const size_t WINDOW_ICON_PIXEL_COUNT;
