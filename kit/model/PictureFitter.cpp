// SPDX-License-Identifier: GPL-3.0-or-later
// Drawing a picture into the image encoder's square input, squashed, cropped or padded.
#include "model/PictureFitter.h"

#include <algorithm>

namespace quillmere {
namespace {

bool isValid(const Picture& picture) {
  return picture.width > 0 && picture.height > 0 &&
         picture.rgb.size() ==
             static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height) * 3;
}

}  // namespace

PictureFitter::Rectangle PictureFitter::rectangle(int width, int height, std::int64_t side,
                                                  std::string_view resize) {
  const auto s = static_cast<double>(side);
  if (resize == "squash") return Rectangle{0, 0, s, s};
  const double k = s / std::min<double>(width, height);
  const double drawnWidth = k * width;
  const double drawnHeight = k * height;
  return Rectangle{(s - drawnWidth) / 2, (s - drawnHeight) / 2, drawnWidth, drawnHeight};
}

ImageCodec::Kernel PictureFitter::kernel(std::string_view interpolation) {
  if (interpolation == "nearest") return ImageCodec::Kernel::nearest;
  if (interpolation == "bilinear" || interpolation == "linear") return ImageCodec::Kernel::linear;
  if (interpolation == "bicubic" || interpolation == "cubic") return ImageCodec::Kernel::cubic;
  return ImageCodec::Kernel::lanczos3;
}

bool PictureFitter::knows(std::string_view interpolation) {
  return interpolation == "lanczos" || interpolation == "lanczos3" ||
         kernel(interpolation) != ImageCodec::Kernel::lanczos3;
}

bool PictureFitter::draw(const Picture& picture, std::int64_t side, std::string_view resize,
                         std::uint8_t* out, std::string_view interpolation) {
  // An encoder input beyond an int's side could never be allocated anyway.
  if (!isValid(picture) || side < 1 || side > 65536) return false;
  const Rectangle target = rectangle(picture.width, picture.height, side, resize);
  return ImageCodec::drawCentred(picture, target.width, target.height, static_cast<int>(side), out,
                                 kernel(interpolation));
}

}  // namespace quillmere
