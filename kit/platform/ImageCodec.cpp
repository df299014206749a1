// SPDX-License-Identifier: GPL-3.0-or-later
// The libvips adapter: reduced, upright decoding, resizing and JPEG encoding.
#include "platform/ImageCodec.h"

#include <vips/vips.h>

// vips.h leaves this out, and it needs vips.h's types first.
#include <vips/vector.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <mutex>
#include <utility>

namespace quillmere {

namespace {

// Loaders (by class name) allowed to read user files; others (matrix, CSV, FITS, raw...)
// pick files up by name alone or are not meant for untrusted input.
constexpr std::array<std::string_view, 11> trustedLoaders = {
    "VipsForeignLoadJpeg", "VipsForeignLoadPng",    "VipsForeignLoadSpng",  "VipsForeignLoadWebp",
    "VipsForeignLoadHeif", "VipsForeignLoadTiff",   "VipsForeignLoadNsgif", "VipsForeignLoadJp2k",
    "VipsForeignLoadJxl",  "VipsForeignLoadMagick", "VipsForeignLoadPpm"};

void initialise() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (VIPS_INIT("quillmere") != 0) throw std::runtime_error("libvips could not start");
    // liborc (0.4.33) edits its list of code memory without its lock, and every resize
    // compiles and frees orc programs: from several threads that corrupts the heap.
    vips_vector_set_enabled(FALSE);
    // Decoded images are used once: no operation cache, so memory stays bounded.
    vips_cache_set_max(0);
    vips_cache_set_max_mem(0);
    vips_cache_set_max_files(0);
    vips_leak_set(FALSE);
    // Damaged files are reported as failures; libvips' warnings would only be noise.
    g_log_set_handler(
        "VIPS", G_LOG_LEVEL_WARNING, [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {},
        nullptr);
  });
}

// Owns one reference to a VipsImage.
class Image {
 public:
  Image() = default;
  explicit Image(VipsImage* image) : image_(image) {}
  ~Image() { reset(); }
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;
  Image(Image&& other) noexcept : image_(std::exchange(other.image_, nullptr)) {}
  Image& operator=(Image&& other) noexcept {
    if (this != &other) {
      reset();
      image_ = std::exchange(other.image_, nullptr);
    }
    return *this;
  }

  VipsImage* get() const { return image_; }
  VipsImage** out() {
    reset();
    return &image_;
  }
  explicit operator bool() const { return image_ != nullptr; }

 private:
  void reset() {
    if (image_) g_object_unref(image_);
    image_ = nullptr;
  }
  VipsImage* image_ = nullptr;
};

bool trusted(std::string_view loader) {
  // "VipsForeignLoadJpegFile", "...JpegBuffer": the same reader.
  for (auto name : trustedLoaders) {
    if (loader.starts_with(name)) return true;
  }
  return false;
}

// libvips' error buffer is process-wide; we report failures as "nothing" instead.
template <typename T>
std::optional<T> failed() {
  vips_error_clear();
  return std::nullopt;
}

// sRGB, 8 bits, 3 bands, alpha flattened on black: the shape of every Picture.
std::optional<Picture> toPicture(VipsImage* source) {
  Image current;
  g_object_ref(source);
  current = Image(source);
  if (vips_image_get_interpretation(current.get()) != VIPS_INTERPRETATION_sRGB ||
      vips_image_get_format(current.get()) != VIPS_FORMAT_UCHAR) {
    Image converted;
    if (vips_colourspace(current.get(), converted.out(), VIPS_INTERPRETATION_sRGB, nullptr))
      return failed<Picture>();
    current = std::move(converted);
  }
  if (vips_image_hasalpha(current.get())) {
    Image flat;
    if (vips_flatten(current.get(), flat.out(), nullptr)) return failed<Picture>();
    current = std::move(flat);
  }
  if (vips_image_get_bands(current.get()) > 3) {
    Image three;
    if (vips_extract_band(current.get(), three.out(), 0, "n", 3, nullptr)) return failed<Picture>();
    current = std::move(three);
  } else if (vips_image_get_bands(current.get()) == 1) {
    Image three;
    VipsImage* bands[] = {current.get(), current.get(), current.get()};
    if (vips_bandjoin(bands, three.out(), 3, nullptr)) return failed<Picture>();
    current = std::move(three);
  }
  if (vips_image_get_format(current.get()) != VIPS_FORMAT_UCHAR) {
    Image cast;
    if (vips_cast_uchar(current.get(), cast.out(), nullptr)) return failed<Picture>();
    current = std::move(cast);
  }
  if (vips_image_get_bands(current.get()) != 3) return failed<Picture>();

  Picture picture;
  picture.width = vips_image_get_width(current.get());
  picture.height = vips_image_get_height(current.get());
  std::size_t size = 0;
  void* memory = vips_image_write_to_memory(current.get(), &size);
  if (!memory) return failed<Picture>();
  const auto expected = static_cast<std::size_t>(picture.width) * picture.height * 3;
  if (size == expected) {
    auto* bytes = static_cast<const std::uint8_t*>(memory);
    picture.rgb.assign(bytes, bytes + size);
  }
  g_free(memory);
  if (picture.rgb.size() != expected || expected == 0) return failed<Picture>();
  return picture;
}

VipsKernel vipsKernel(ImageCodec::Kernel kernel) {
  switch (kernel) {
    case ImageCodec::Kernel::nearest:
      return VIPS_KERNEL_NEAREST;
    case ImageCodec::Kernel::linear:
      return VIPS_KERNEL_LINEAR;
    case ImageCodec::Kernel::cubic:
      return VIPS_KERNEL_CUBIC;
    case ImageCodec::Kernel::lanczos3:
      break;
  }
  return VIPS_KERNEL_LANCZOS3;
}

Image fromPicture(const Picture& picture) {
  const auto expected = static_cast<std::size_t>(picture.width) * picture.height * 3;
  if (picture.width <= 0 || picture.height <= 0 || picture.rgb.size() != expected) return {};
  // The copy keeps the image independent of the caller's buffer.
  return Image(vips_image_new_from_memory_copy(
      picture.rgb.data(), picture.rgb.size(), picture.width, picture.height, 3, VIPS_FORMAT_UCHAR));
}

// Reads a 16- or 32-bit unsigned value of a TIFF structure, bounds-checked.
struct TiffReader {
  const std::uint8_t* data;
  std::size_t size;
  bool little;

  bool u16(std::size_t at, std::uint32_t& value) const {
    if (at > size || size - at < 2) return false;
    value = little ? (data[at] | data[at + 1] << 8) : (data[at] << 8 | data[at + 1]);
    return true;
  }
  bool u32(std::size_t at, std::uint32_t& value) const {
    if (at > size || size - at < 4) return false;
    const std::uint32_t b0 = data[at], b1 = data[at + 1], b2 = data[at + 2], b3 = data[at + 3];
    value = little ? (b0 | b1 << 8 | b2 << 16 | b3 << 24) : (b0 << 24 | b1 << 16 | b2 << 8 | b3);
    return true;
  }
};

// The JPEG thumbnail of IFD1 in an EXIF block ("Exif\0\0" then a TIFF structure).
std::optional<std::vector<std::uint8_t>> exifThumbnailBytes(const std::uint8_t* exif,
                                                            std::size_t size) {
  constexpr std::size_t prefix = 6;
  if (size < prefix + 8 || std::memcmp(exif, "Exif\0\0", prefix) != 0) return std::nullopt;
  const std::uint8_t* tiff = exif + prefix;
  const std::size_t tiffSize = size - prefix;
  if (!((tiff[0] == 'I' && tiff[1] == 'I') || (tiff[0] == 'M' && tiff[1] == 'M')))
    return std::nullopt;
  const TiffReader reader{tiff, tiffSize, tiff[0] == 'I'};
  std::uint32_t ifd0 = 0, count = 0, ifd1 = 0;
  if (!reader.u32(4, ifd0) || !reader.u16(ifd0, count)) return std::nullopt;
  if (!reader.u32(std::size_t{ifd0} + 2 + std::size_t{count} * 12, ifd1) || ifd1 == 0)
    return std::nullopt;
  if (!reader.u16(ifd1, count)) return std::nullopt;
  std::uint32_t offset = 0, length = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t entry = std::size_t{ifd1} + 2 + std::size_t{i} * 12;
    std::uint32_t tag = 0, value = 0;
    if (!reader.u16(entry, tag) || !reader.u32(entry + 8, value)) return std::nullopt;
    if (tag == 0x0201) offset = value;
    if (tag == 0x0202) length = value;
  }
  if (offset == 0 || length == 0 || offset > tiffSize || tiffSize - offset < length)
    return std::nullopt;
  return std::vector<std::uint8_t>(tiff + offset, tiff + offset + length);
}

// An embedded thumbnail is smaller than its image by nature; one that declares more pixels
// (a 64 KB EXIF block can claim 60000 x 60000, and a progressive JPEG that size needs
// gigabytes to decode) is refused from its header, as the image itself would be.
bool plausibleThumbnail(VipsImage* thumb, const ImageCodec::Header& header) {
  const std::int64_t pixels =
      static_cast<std::int64_t>(vips_image_get_width(thumb)) * vips_image_get_height(thumb);
  return pixels <= static_cast<std::int64_t>(header.width) * header.height &&
         pixels <= ImageCodec::maxSourcePixels;
}

// Turns a stored-orientation picture upright, as the main image's EXIF orientation says.
std::optional<Picture> orientedThumbnail(VipsImage* image, int orientation, int maxPixels) {
  Image copy;
  if (vips_copy(image, copy.out(), nullptr)) return failed<Picture>();
  vips_image_set_int(copy.get(), VIPS_META_ORIENTATION, orientation);
  Image upright;
  if (vips_autorot(copy.get(), upright.out(), nullptr)) return failed<Picture>();
  Image reduced;
  if (vips_thumbnail_image(upright.get(), reduced.out(), maxPixels, "height", maxPixels, "size",
                           VIPS_SIZE_DOWN, "no_rotate", TRUE, nullptr))
    return failed<Picture>();
  return toPicture(reduced.get());
}

bool inside(const ImageCodec::Rect& rect, int width, int height) {
  return rect.left >= 0 && rect.top >= 0 && rect.width > 0 && rect.height > 0 &&
         rect.width <= width - rect.left && rect.height <= height - rect.top;
}

// The stored pixels that autorot turns into `rect` of the upright picture.
ImageCodec::Rect storedRect(const ImageCodec::Rect& rect, int orientation, int storedWidth,
                            int storedHeight) {
  const auto stored = [&](int x, int y) -> std::pair<int, int> {
    const int mx = storedWidth - 1, my = storedHeight - 1;
    switch (orientation) {
      case 2:
        return {mx - x, y};
      case 3:
        return {mx - x, my - y};
      case 4:
        return {x, my - y};
      case 5:
        return {y, x};
      case 6:
        return {y, my - x};
      case 7:
        return {mx - y, my - x};
      case 8:
        return {mx - y, x};
      default:
        return {x, y};
    }
  };
  const auto [ax, ay] = stored(rect.left, rect.top);
  const auto [bx, by] = stored(rect.left + rect.width - 1, rect.top + rect.height - 1);
  return {std::min(ax, bx), std::min(ay, by), std::abs(bx - ax) + 1, std::abs(by - ay) + 1};
}

// libvips 8.14 reads the rows above a sequential request as one region as large as they
// are: they are read here in strips and dropped, so memory stays that of a strip.
bool skipRows(VipsImage* image, int rows) {
  constexpr int strip = 64;
  VipsRegion* region = vips_region_new(image);
  bool read = true;
  for (int y = 0; read && y < rows; y += strip) {
    VipsRect rect{0, y, vips_image_get_width(image), std::min(strip, rows - y)};
    read = vips_region_prepare(region, &rect) == 0;
  }
  g_object_unref(region);
  return read;
}

// Crops, then reduces as thumbnail() does; the orientation is applied to the small result.
std::optional<Picture> croppedReduced(VipsImage* image, const ImageCodec::Rect& rect,
                                      int orientation, int maxPixels) {
  Image cropped;
  if (vips_crop(image, cropped.out(), rect.left, rect.top, rect.width, rect.height, nullptr))
    return failed<Picture>();
  Image reduced;
  if (vips_thumbnail_image(cropped.get(), reduced.out(), maxPixels, "height", maxPixels, "size",
                           VIPS_SIZE_DOWN, "no_rotate", TRUE, nullptr))
    return failed<Picture>();
  if (orientation <= 1) return toPicture(reduced.get());
  // Decoded into memory first: turning a picture needs it whole, which a sequential read
  // of the file cannot give.
  Image small(vips_image_copy_memory(reduced.get()));
  if (!small) return failed<Picture>();
  Image copy;
  if (vips_copy(small.get(), copy.out(), nullptr)) return failed<Picture>();
  vips_image_set_int(copy.get(), VIPS_META_ORIENTATION, orientation);
  Image upright;
  if (vips_autorot(copy.get(), upright.out(), nullptr)) return failed<Picture>();
  return toPicture(upright.get());
}

// An EXIF field's value as the file holds it: libvips shows "value (value, ASCII, ...)".
std::string exifText(VipsImage* image, const char* field) {
  const char* text = nullptr;
  if (!vips_image_get_typeof(image, field) || vips_image_get_string(image, field, &text) != 0 ||
      !text)
    return {};
  const std::string_view value(text);
  return std::string(value.substr(0, value.find(" (")));
}

}  // namespace

void ImageCodec::start() {
  initialise();
}

std::optional<ImageCodec::Header> ImageCodec::header(const std::filesystem::path& file) {
  initialise();
  const char* loader = vips_foreign_find_load(file.c_str());
  if (!loader) return failed<Header>();
  if (!trusted(loader)) return std::nullopt;
  Image image(vips_image_new_from_file(file.c_str(), nullptr));
  if (!image) return failed<Header>();
  Header header;
  header.width = vips_image_get_width(image.get());
  header.height = vips_image_get_height(image.get());
  header.loader = loader;
  int orientation = 1;
  if (vips_image_get_typeof(image.get(), VIPS_META_ORIENTATION) &&
      vips_image_get_int(image.get(), VIPS_META_ORIENTATION, &orientation) == 0 &&
      orientation >= 1 && orientation <= 8) {
    header.orientation = orientation;
  }
  // Read with the header so the embedded thumbnail costs no second opening of the file.
  const void* exif = nullptr;
  std::size_t exifSize = 0;
  if (vips_image_get_typeof(image.get(), VIPS_META_EXIF_NAME) &&
      vips_image_get_blob(image.get(), VIPS_META_EXIF_NAME, &exif, &exifSize) == 0) {
    if (auto bytes = exifThumbnailBytes(static_cast<const std::uint8_t*>(exif), exifSize))
      header.exifThumbnail = std::move(*bytes);
  }
  header.exifDateTime = exifText(image.get(), "exif-ifd2-DateTimeOriginal");
  header.exifOffset = exifText(image.get(), "exif-ifd2-OffsetTimeOriginal");
  vips_error_clear();
  if (static_cast<std::int64_t>(header.width) * header.height > maxSourcePixels)
    return std::nullopt;
  return header;
}

std::optional<Picture> ImageCodec::embeddedThumbnail(const std::filesystem::path& file,
                                                     const Header& header, int maxPixels) {
  initialise();
  if (maxPixels < 1) return std::nullopt;
  if (header.loader.starts_with("VipsForeignLoadHeif")) {
    Image image;
    if (vips_heifload(file.c_str(), image.out(), "thumbnail", TRUE, nullptr))
      return failed<Picture>();
    // Without a stored thumbnail, libvips hands back the primary image.
    if (vips_image_get_width(image.get()) == header.width &&
        vips_image_get_height(image.get()) == header.height)
      return std::nullopt;
    if (!plausibleThumbnail(image.get(), header)) return std::nullopt;
    return orientedThumbnail(image.get(), 1, maxPixels);
  }
  if (header.exifThumbnail.empty()) return std::nullopt;
  const auto& bytes = header.exifThumbnail;
  // EXIF thumbnails are JPEG: no other reader gets these bytes.
  Image thumb;
  if (vips_jpegload_buffer(const_cast<std::uint8_t*>(bytes.data()), bytes.size(), thumb.out(),
                           "fail_on", VIPS_FAIL_ON_TRUNCATED, nullptr))
    return failed<Picture>();
  if (!plausibleThumbnail(thumb.get(), header)) return std::nullopt;
  // The buffer must outlive the lazily decoded image: decode now.
  auto picture = orientedThumbnail(thumb.get(), header.orientation, maxPixels);
  return picture;
}

std::optional<Picture> ImageCodec::thumbnail(const std::filesystem::path& file, int maxPixels) {
  initialise();
  if (maxPixels < 1) return std::nullopt;
  Image image;
  if (vips_thumbnail(file.c_str(), image.out(), maxPixels, "height", maxPixels, "size",
                     VIPS_SIZE_DOWN, "fail_on", VIPS_FAIL_ON_TRUNCATED, nullptr))
    return failed<Picture>();
  return toPicture(image.get());
}

std::optional<Picture> ImageCodec::region(const std::filesystem::path& file, const Header& header,
                                          const Rect& rect, int maxPixels) {
  initialise();
  const bool turned = header.orientation > 4;
  const int width = turned ? header.height : header.width;
  const int height = turned ? header.width : header.height;
  if (maxPixels < 1 || !inside(rect, width, height)) return std::nullopt;
  // The file may have changed since its header was read: it is checked again.
  const char* loader = vips_foreign_find_load(file.c_str());
  if (!loader) return failed<Picture>();
  if (!trusted(loader)) return std::nullopt;
  Image image(vips_image_new_from_file(file.c_str(), "access", VIPS_ACCESS_SEQUENTIAL, "fail_on",
                                       VIPS_FAIL_ON_TRUNCATED, nullptr));
  if (!image) return failed<Picture>();
  if (vips_image_get_width(image.get()) != header.width ||
      vips_image_get_height(image.get()) != header.height)
    return failed<Picture>();
  const Rect stored = storedRect(rect, header.orientation, header.width, header.height);
  if (!skipRows(image.get(), stored.top)) return failed<Picture>();
  return croppedReduced(image.get(), stored, header.orientation, maxPixels);
}

std::optional<Picture> ImageCodec::region(const Picture& picture, const Rect& rect, int maxPixels) {
  initialise();
  if (maxPixels < 1 || !inside(rect, picture.width, picture.height)) return std::nullopt;
  Image source = fromPicture(picture);
  if (!source) return failed<Picture>();
  return croppedReduced(source.get(), rect, 1, maxPixels);
}

std::optional<Picture> ImageCodec::resize(const Picture& picture, int width, int height,
                                          Kernel kernel) {
  initialise();
  if (width < 1 || height < 1) return std::nullopt;
  Image source = fromPicture(picture);
  if (!source) return failed<Picture>();
  Image resized;
  const double hscale = static_cast<double>(width) / picture.width;
  const double vscale = static_cast<double>(height) / picture.height;
  if (vips_resize(source.get(), resized.out(), hscale, "vscale", vscale, "kernel",
                  vipsKernel(kernel), nullptr))
    return failed<Picture>();
  auto result = toPicture(resized.get());
  // Rounding inside libvips may land one pixel off; the size asked for is the contract.
  if (result && (result->width != width || result->height != height)) {
    Image exact;
    if (vips_embed(resized.get(), exact.out(), 0, 0, width, height, "extend", VIPS_EXTEND_COPY,
                   nullptr))
      return failed<Picture>();
    result = toPicture(exact.get());
  }
  return result;
}

bool ImageCodec::drawCentred(const Picture& picture, double width, double height, int side,
                             std::uint8_t* out, Kernel kernel) {
  initialise();
  if (side < 1 || !(width > 0) || !(height > 0)) return false;
  Image source = fromPicture(picture);
  Image resized;
  if (!source || vips_resize(source.get(), resized.out(), width / picture.width, "vscale",
                             height / picture.height, "kernel", vipsKernel(kernel), nullptr)) {
    vips_error_clear();  // the text is not needed; keep the buffer from growing
    return false;
  }
  // Centre what libvips made (its size is the target rounded to whole pixels); the crop
  // offset rounds down, as the published centre crop does.
  const int left = -static_cast<int>(std::floor((resized.get()->Xsize - side) / 2.0));
  const int top = -static_cast<int>(std::floor((resized.get()->Ysize - side) / 2.0));
  Image placed;
  if (vips_embed(resized.get(), placed.out(), left, top, side, side, "extend", VIPS_EXTEND_BLACK,
                 nullptr)) {
    vips_error_clear();
    return false;
  }
  Image bytes;
  if (vips_cast_uchar(placed.get(), bytes.out(), nullptr)) {
    vips_error_clear();
    return false;
  }
  std::size_t size = 0;
  void* memory = vips_image_write_to_memory(bytes.get(), &size);
  if (memory == nullptr) {
    vips_error_clear();
    return false;
  }
  const auto expected = static_cast<std::size_t>(side) * static_cast<std::size_t>(side) * 3;
  const bool complete = size == expected;
  if (complete) std::memcpy(out, memory, expected);
  g_free(memory);
  return complete;
}

std::optional<std::vector<std::uint8_t>> ImageCodec::encodeJpeg(const Picture& picture,
                                                                int quality) {
  initialise();
  Image source = fromPicture(picture);
  if (!source) return failed<std::vector<std::uint8_t>>();
  void* buffer = nullptr;
  std::size_t size = 0;
  if (vips_jpegsave_buffer(source.get(), &buffer, &size, "Q", std::clamp(quality, 1, 100), "strip",
                           TRUE, nullptr))
    return failed<std::vector<std::uint8_t>>();
  auto* bytes = static_cast<const std::uint8_t*>(buffer);
  std::vector<std::uint8_t> result(bytes, bytes + size);
  g_free(buffer);
  return result;
}

std::optional<Picture> ImageCodec::decode(const std::vector<std::uint8_t>& data) {
  initialise();
  if (data.empty()) return std::nullopt;
  Image image(vips_image_new_from_buffer(data.data(), data.size(), "", "fail_on",
                                         VIPS_FAIL_ON_TRUNCATED, nullptr));
  if (!image) return failed<Picture>();
  return toPicture(image.get());
}

bool ImageCodec::hasLoader(std::string_view operation) {
  initialise();
  const std::string name(operation);
  return vips_type_find("VipsOperation", name.c_str()) != 0;
}

}  // namespace quillmere
