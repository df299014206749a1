// SPDX-License-Identifier: GPL-3.0-or-later
// Fits a picture into the image encoder's square input: "squash" stretches it to the square,
// any other mode scales it to fill the square and crops the centre. Geometry in double
// precision; resampling with the model's interpolation (lanczos3 unless it names another).
#pragma once

#include <cstdint>
#include <string_view>

#include "core/Picture.h"
#include "platform/ImageCodec.h"

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

  // The kernel of a model.json interpolation: PIL's and OpenCLIP's names ("nearest",
  // "bilinear", "bicubic", "lanczos"); anything else, lanczos3.
  static ImageCodec::Kernel kernel(std::string_view interpolation);
  // Whether `interpolation` names one of those kernels rather than falling back.
  static bool knows(std::string_view interpolation);

  // Draws the picture into `out`, side x side x 3 bytes of RGB, every byte written.
  // False when the picture is invalid or the image library fails.
  static bool draw(const Picture& picture, std::int64_t side, std::string_view resize,
                   std::uint8_t* out, std::string_view interpolation = "lanczos3");
};

}  // namespace quillmere
