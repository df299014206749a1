// SPDX-License-Identifier: GPL-3.0-or-later
// FrameSampler.photo on arbitrary bytes under a photo extension (chosen by the first byte):
// it returns one well-formed picture no larger than asked, or fails with its own failure.
// The JPEG thumbnail of what it returns must decode again.
#include <glib.h>

#include <algorithm>
#include <array>
#include <string>

#include "FuzzSupport.h"
#include "platform/ImageCodec.h"
#include "scan/FrameSampler.h"

using namespace quillmere;

namespace {

constexpr std::array<const char*, 8> extensions = {"jpg", "png", "heic", "webp",
                                                   "tif", "gif", "jpeg", "avif"};
// The indexer's size, and a small one so that shrinking is exercised too.
constexpr std::array<std::int64_t, 2> limits = {384, 37};

void checkPicture(const Picture& picture, std::int64_t maxPixels) {
  fuzz::require(picture.width > 0 && picture.height > 0, "an empty picture");
  fuzz::require(std::max(picture.width, picture.height) <= maxPixels, "a picture over the limit");
  fuzz::require(picture.rgb.size() == static_cast<std::size_t>(picture.width) * picture.height * 3,
                "picture bytes do not match its size");
}

}  // namespace

// libvips runs its workers on GLib's thread pool, which ends idle threads; a thread ending
// while libFuzzer checks for leaks shows its thread-private data (2032 bytes, of GLib's) as
// leaked at random. Pool threads that never end leave leak reports to what really leaks.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_thread_pool_set_max_unused_threads(-1);
  g_thread_pool_set_max_idle_time(0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::ScratchFiles scratch;
  if (size < 1) return 0;
  const char* extension = extensions[data[0] % extensions.size()];
  const std::int64_t maxPixels = limits[(data[0] / extensions.size()) % limits.size()];
  const auto& path = scratch.write(extension, data + 1, size - 1);

  FrameSampler::Sampled sampled;
  try {
    sampled = FrameSampler::photo(path, maxPixels);
  } catch (const FrameSampler::Failure& failure) {
    fuzz::require(failure.reason() == FrameSampler::Failure::Reason::unreadable,
                  "a photo failure other than unreadable");
    return 0;
  }
  fuzz::require(sampled.frames.size() == 1, "a photo gives one frame");
  fuzz::require(sampled.duration == 0 && sampled.frames[0].time == 0, "a photo has no time");
  fuzz::require(sampled.width > 0 && sampled.height > 0, "a photo without a size");
  fuzz::require(sampled.width * sampled.height <= ImageCodec::maxSourcePixels,
                "a photo beyond the pixel limit was decoded");
  const Picture& picture = sampled.frames[0].image;
  checkPicture(picture, maxPixels);

  const auto thumb = FrameSampler::thumbnailData(picture, 200);
  fuzz::require(thumb.has_value() && !thumb->empty(), "no thumbnail for a decoded photo");
  const auto decoded = ImageCodec::decode(*thumb);
  fuzz::require(decoded.has_value(), "the thumbnail does not decode");
  checkPicture(*decoded, 200);
  return 0;
}
