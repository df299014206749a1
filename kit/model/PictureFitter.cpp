#include "model/PictureFitter.h"

#include <vips/vips.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "platform/ImageCodec.h"

namespace quillmere {
namespace {

void startVips() {
  ImageCodec::start();
}

// Owns one reference to a VipsImage.
class ImageRef {
 public:
  explicit ImageRef(VipsImage* image = nullptr) : image_(image) {}
  ~ImageRef() {
    if (image_ != nullptr) g_object_unref(image_);
  }
  ImageRef(const ImageRef&) = delete;
  ImageRef& operator=(const ImageRef&) = delete;
  VipsImage* get() const { return image_; }
  VipsImage** out() { return &image_; }
  explicit operator bool() const { return image_ != nullptr; }

 private:
  VipsImage* image_;
};

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

bool PictureFitter::draw(const Picture& picture, std::int64_t side, std::string_view resize,
                         std::uint8_t* out) {
  if (!isValid(picture) || side < 1) return false;
  startVips();
  if (drawWithVips(picture, side, resize, out)) return true;
  vips_error_clear();  // the text is not needed; keep the buffer from growing
  return false;
}

bool PictureFitter::drawWithVips(const Picture& picture, std::int64_t side, std::string_view resize,
                                 std::uint8_t* out) {
  // A copy: vips may keep operations on its input cached beyond this call.
  ImageRef rgb(vips_image_new_from_memory_copy(
      picture.rgb.data(), picture.rgb.size(), picture.width, picture.height, 3, VIPS_FORMAT_UCHAR));
  if (!rgb) return false;

  const Rectangle target = rectangle(picture.width, picture.height, side, resize);
  ImageRef resized;
  if (vips_resize(rgb.get(), resized.out(), target.width / picture.width, "vscale",
                  target.height / picture.height, "kernel", VIPS_KERNEL_LANCZOS3, nullptr) != 0) {
    return false;
  }
  // Centre what vips made (its size is the target rounded to whole pixels).
  const int left = static_cast<int>(std::lround((side - resized.get()->Xsize) / 2.0));
  const int top = static_cast<int>(std::lround((side - resized.get()->Ysize) / 2.0));
  ImageRef placed;
  if (vips_embed(resized.get(), placed.out(), left, top, static_cast<int>(side),
                 static_cast<int>(side), "extend", VIPS_EXTEND_BLACK, nullptr) != 0) {
    return false;
  }
  ImageRef bytes;
  if (vips_cast_uchar(placed.get(), bytes.out(), nullptr) != 0) return false;
  std::size_t size = 0;
  void* memory = vips_image_write_to_memory(bytes.get(), &size);
  if (memory == nullptr) return false;
  const auto expected = static_cast<std::size_t>(side * side * 3);
  const bool complete = size == expected;
  if (complete) std::memcpy(out, memory, expected);
  g_free(memory);
  return complete;
}

}  // namespace quillmere
