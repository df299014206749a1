// SPDX-License-Identifier: GPL-3.0-or-later
// One result picture being loaded for a view: the sharp picture at once when it is cached,
// else the stored thumbnail as soon as it is decoded, then the sharp picture when the file's
// folder is reachable. Cancelling stops every later step from reaching the view; decodes
// already running still fill the caches.
#pragma once

#include <QImage>
#include <atomic>
#include <functional>
#include <memory>

#include "search/SearchResult.h"

namespace quillmere {

class FolderModel;
class Thumbnails;

class ThumbnailLoad : public std::enable_shared_from_this<ThumbnailLoad> {
 public:
  // Each picture as it comes, with whether it is the sharp one.
  using Show = std::function<void(const QImage& image, bool sharp)>;

  // Starts loading (pixels 0: the stored thumbnail only) from the library and the files of
  // folders; they and the service must outlive the load or its cancellation.
  static std::shared_ptr<ThumbnailLoad> start(Thumbnails& thumbnails, const FolderModel& folders,
                                              const SearchResult& result, double time, int pixels,
                                              Show show);
  void cancel() { *cancelled_ = true; }
  bool cancelled() const { return *cancelled_; }

  ThumbnailLoad(Thumbnails& thumbnails, const FolderModel& folders, const SearchResult& result,
                double time, int pixels, Show show);

 private:
  void run();
  void loadSharp();

  Thumbnails& thumbnails_;
  const FolderModel& folders_;
  const SearchResult result_;
  const double time_;
  const int pixels_;
  const Show show_;
  const std::shared_ptr<std::atomic<bool>> cancelled_ = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace quillmere
