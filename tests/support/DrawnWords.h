// SPDX-License-Identifier: GPL-3.0-or-later
// Words drawn over a picture by libvips' own text rendering (Pango, DejaVu fonts): the
// reader's tests and the reading benchmark use it, so both read the same kind of text.
#pragma once

#include <glib-object.h>
#include <vips/vips.h>

#include <array>
#include <cstdint>
#include <string>

#include "core/Picture.h"

namespace quillmere {

struct DrawnWords {
  std::string text;
  std::string font = "DejaVu Sans Bold 48";  // Pango's description: family, style, pixels
  int x = 0, y = 0;                          // where the text's box starts, after turning
  double degrees = 0;                        // clockwise
  std::array<std::uint8_t, 3> ink{20, 20, 30};
};

// Blends the rendered coverage into the picture, cut at its edges; false when libvips fails.
inline bool draw(Picture& picture, const DrawnWords& words) {
  VipsImage* mask = nullptr;
  if (vips_text(&mask, words.text.c_str(), "font", words.font.c_str(), "dpi", 72, nullptr))
    return false;
  if (words.degrees != 0) {
    VipsImage* turned = nullptr;
    const int failed = vips_rotate(mask, &turned, words.degrees, nullptr);
    g_object_unref(mask);
    if (failed) return false;
    mask = turned;
  }
  std::size_t size = 0;
  auto* coverage = static_cast<std::uint8_t*>(vips_image_write_to_memory(mask, &size));
  const int width = vips_image_get_width(mask), height = vips_image_get_height(mask);
  g_object_unref(mask);
  if (!coverage) return false;
  for (int y = 0; y < height && words.y + y < picture.height; ++y) {
    for (int x = 0; x < width && words.x + x < picture.width; ++x) {
      const int alpha = coverage[y * width + x];
      std::uint8_t* pixel = &picture.rgb[((words.y + y) * picture.width + words.x + x) * 3];
      for (int c = 0; c < 3; ++c)
        pixel[c] = (words.ink[c] * alpha + pixel[c] * (255 - alpha)) / 255;
    }
  }
  g_free(coverage);
  return true;
}

}  // namespace quillmere
