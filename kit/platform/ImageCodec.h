// SPDX-License-Identifier: GPL-3.0-or-later
// Thin adapter over libvips: reduced-size decoding with orientation applied, resizing and
// JPEG encoding of plain RGB pictures. libvips is set up once per process, on first use.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/Picture.h"

namespace quillmere {

class ImageCodec {
 public:
  // Starts libvips once per process, with its operation cache off and its warnings quiet.
  // Every user of libvips calls this first.
  static void start();
  // What the file's header says, read without decoding pixels.
  struct Header {
    int width = 0;  // as stored, before orientation
    int height = 0;
    int orientation = 1;  // EXIF orientation 1-8
    std::string loader;   // libvips loader class, e.g. "VipsForeignLoadJpegFile"
    std::vector<std::uint8_t> exifThumbnail;  // the JPEG in EXIF IFD1, when there is one
    std::string exifDateTime;  // DateTimeOriginal as written ("2024:06:01 12:30:45"), or ""
    std::string exifOffset;    // OffsetTimeOriginal as written ("+02:00"), or ""
    bool operator==(const Header&) const = default;
  };

  // Sources declaring more pixels than this are refused before any decoding, so a
  // decompression bomb costs neither time nor memory.
  static constexpr std::int64_t maxSourcePixels = 16384LL * 16384LL;

  // Nothing when the file is missing, of no known format, read by a loader we do not
  // trust with user files, or larger than maxSourcePixels.
  static std::optional<Header> header(const std::filesystem::path& file);

  // The embedded thumbnail (EXIF IFD1 JPEG, or the HEIF thumbnail), with the source's
  // orientation applied, longest side at most maxPixels (never enlarged).
  static std::optional<Picture> embeddedThumbnail(const std::filesystem::path& file,
                                                  const Header& header, int maxPixels);

  // Decodes the whole image with shrink-on-load, orientation applied, longest side at most
  // maxPixels (never enlarged). Truncated or damaged data give nothing.
  static std::optional<Picture> thumbnail(const std::filesystem::path& file, int maxPixels);

  // Resampling kernels, as libvips names them; cubic is Catmull-Rom (PIL's bicubic).
  enum class Kernel { nearest, linear, cubic, lanczos3 };

  // A rectangle of pixels in an upright picture.
  struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Rect&) const = default;
  };

  // The part `rect` of the upright image (orientation applied), reduced as thumbnail()
  // reduces, longest side at most maxPixels. Decoded on demand: the rectangle is cut from the
  // file as stored and turned upright after reduction, so only the rows above its bottom are
  // read and the whole image is never held. Nothing when rect is not inside the picture or
  // the file cannot be decoded.
  static std::optional<Picture> region(const std::filesystem::path& file, const Header& header,
                                       const Rect& rect, int maxPixels);
  // The same from a picture already decoded upright.
  static std::optional<Picture> region(const Picture& picture, const Rect& rect, int maxPixels);

  // Resize to exactly width x height, high quality (lanczos3) unless told.
  static std::optional<Picture> resize(const Picture& picture, int width, int height,
                                       Kernel kernel = Kernel::lanczos3);

  // Scales the picture with `kernel` to width x height, which may differ in proportion and be
  // fractional, and centres it in a black side x side square written to `out` as RGB8; an
  // overhang of odd size loses its extra pixel on the right or bottom (offsets round down).
  // False when libvips fails or its result does not fill the square exactly.
  static bool drawCentred(const Picture& picture, double width, double height, int side,
                          std::uint8_t* out, Kernel kernel = Kernel::lanczos3);

  // Baseline JPEG, quality 1-100, no metadata.
  static std::optional<std::vector<std::uint8_t>> encodeJpeg(const Picture& picture, int quality);

  // Decodes an encoded image held in memory at full size (for checking encoded output).
  static std::optional<Picture> decode(const std::vector<std::uint8_t>& data);

  // Whether this libvips has the load operation of this nickname ("heifload", "jxlload").
  static bool hasLoader(std::string_view operation);
};

}  // namespace quillmere
