// Fits a picture into the image encoder's square input: "squash" stretches it to the square,
// any other mode scales it to fill the square and crops the centre. Geometry in double
// precision; resampling with lanczos3.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/Picture.h"

namespace quillmere {

class PictureFitter {
 public:
  struct Rectangle {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool operator==(const Rectangle&) const = default;
  };

  // Where a width x height picture is drawn in the side x side square.
  static Rectangle rectangle(int width, int height, std::int64_t side, std::string_view resize);

  // Draws the picture into `out`, side x side x 3 bytes of RGB, every byte written.
  // False when the picture is invalid or the image library fails.
  static bool draw(const Picture& picture, std::int64_t side, std::string_view resize,
                   std::uint8_t* out);
};

}  // namespace quillmere
