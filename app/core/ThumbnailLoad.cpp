// SPDX-License-Identifier: GPL-3.0-or-later
// ThumbnailLoad: the steps of one result picture, from cache to stored thumbnail to file.
#include "ThumbnailLoad.h"

#include "FolderModel.h"
#include "Thumbnails.h"

namespace quillmere {

std::shared_ptr<ThumbnailLoad> ThumbnailLoad::start(Thumbnails& thumbnails,
                                                    const FolderModel& folders,
                                                    const SearchResult& result, double time,
                                                    int pixels, Show show) {
  auto load =
      std::make_shared<ThumbnailLoad>(thumbnails, folders, result, time, pixels, std::move(show));
  load->run();
  return load;
}

ThumbnailLoad::ThumbnailLoad(Thumbnails& thumbnails, const FolderModel& folders,
                             const SearchResult& result, double time, int pixels, Show show)
    : thumbnails_(thumbnails),
      folders_(folders),
      result_(result),
      time_(time),
      pixels_(pixels),
      show_(std::move(show)) {}

void ThumbnailLoad::run() {
  if (const auto filePath = pixels_ > 0 ? folders_.filePath(result_.file) : std::nullopt) {
    const QImage cached = thumbnails_.cachedSharp(*filePath, result_.file, time_, pixels_);
    if (!cached.isNull()) {
      show_(cached, true);
      return;
    }
  }
  Library* library = folders_.library();
  if (!library) return loadSharp();
  const QImage small = thumbnails_.cachedSmall(result_);
  if (!small.isNull()) {
    show_(small, false);
    return loadSharp();
  }
  // The load keeps itself alive until the answer; a cancelled one only fills the cache.
  thumbnails_.small(result_, *library, cancelled_,
                    [self = shared_from_this()](const QImage& image) {
                      if (!image.isNull()) self->show_(image, false);
                      self->loadSharp();
                    });
}

void ThumbnailLoad::loadSharp() {
  if (cancelled() || pixels_ <= 0 || !folders_.isOnline(result_.file)) return;
  const auto filePath = folders_.filePath(result_.file);
  if (!filePath) return;
  thumbnails_.sharp(*filePath, result_.file, time_, pixels_, cancelled_,
                    [self = shared_from_this()](const QImage& image) {
                      if (!image.isNull()) self->show_(image, true);
                    });
}

}  // namespace quillmere
