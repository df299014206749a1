// SPDX-License-Identifier: GPL-3.0-or-later
// The service behind every result picture, one per model: the stored thumbnails of frames and
// sharp pictures taken from the media themselves, decoded off the GUI thread and kept in two
// bounded caches. Stored thumbnails and sharp decodes run in pools of their own, so slow
// sharp decodes (a network folder, a long video) never hold up the stored thumbnails; at
// most four sharp decodes run at once. Called on the GUI thread; answers come back on it.
#pragma once

#include <QCache>
#include <QImage>
#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

#include "BackgroundPool.h"
#include "GuiQueue.h"
#include "search/SearchResult.h"

namespace quillmere {

class Library;

class Thumbnails : public QObject {
  Q_OBJECT

 public:
  // Set once the asker has moved on: its answer still enters the cache but is not handed on.
  using Cancelled = std::shared_ptr<const std::atomic<bool>>;
  // A null image is "none".
  using Handler = std::function<void(const QImage&)>;

  // Each cache holds at most so many pictures and so many KiB of them: a picture counts by
  // its bytes, or by the budget's share of one picture when it is smaller. Nothing tells a
  // Linux process that memory runs short, so the byte bound is what keeps large pictures
  // from piling up.
  static constexpr int smallLimit = 3000;
  static constexpr int sharpLimit = 400;
  static constexpr int smallBudgetKiB = 256 * 1024;
  static constexpr int sharpBudgetKiB = 256 * 1024;
  static constexpr int sharpAtOnce = 4;

  explicit Thumbnails(QObject* parent = nullptr);
  // With other budgets (KiB), for tests.
  Thumbnails(int smallBudget, int sharpBudget, QObject* parent = nullptr);
  // Waits for the decodes already running; their answers are dropped.
  ~Thumbnails() override;

  // What a stored thumbnail is cached under: the frame and the file as the result knew it,
  // so that another library's frame of the same id, or a re-indexed file, never meets it.
  static QString smallKey(const SearchResult& result);
  // What a sharp picture is cached under, looked up and stored alike: where, the version of
  // the file the library knows (size and modification time), the time and the longest side.
  // An edit gets a new picture once the library has seen it, and no stat runs on the GUI
  // thread.
  static QString sharpKey(const std::filesystem::path& filePath, std::int64_t size, double mtime,
                          double time, int pixels);

  QImage cachedSmall(const SearchResult& result);
  // The frame's stored thumbnail, read from the library and decoded in the background; the
  // library must outlive this service (the model owns both and ends the service first).
  // Cached when there is one.
  void small(const SearchResult& result, Library& library, Cancelled cancelled, Handler done);

  QImage cachedSharp(const std::filesystem::path& filePath, const MediaFile& file, double time,
                     int pixels);
  // A picture of the file at path, at time for a video, longest side at most pixels. Cached
  // under the file's version as the library knows it. Not decoded at all when cancelled
  // before its turn comes.
  void sharp(const std::filesystem::path& filePath, const MediaFile& file, double time, int pixels,
             Cancelled cancelled, Handler done);

  // For tests and measurements: sharp decodes started, and the most that ran at once.
  int sharpDecodesStarted() const { return sharpStarted_; }
  int peakSharpDecodes() const { return sharpPeak_; }
  int smallDecodesStarted() const { return smallStarted_; }
  // Called on a sharp decode's worker just before it decodes, inside the limit (a test holds
  // decodes there to see how many run at once).
  void setSharpDecodeHook(std::function<void()> hook) { sharpHook_ = std::move(hook); }

 private:
  // Hands an answer to the GUI thread: stores it, then calls done unless cancelled.
  void deliver(QCache<QString, QImage>& cache, int limit, const QString& key, QImage image,
               const Cancelled& cancelled, const Handler& done);
  QImage decodeSharp(const std::filesystem::path& filePath, MediaKind kind, double time,
                     int pixels);

  QCache<QString, QImage> small_;  // costs in KiB
  QCache<QString, QImage> sharp_;
  GuiQueue answers_;  // hands decoded pictures back to the GUI thread
  std::atomic<int> sharpStarted_{0};
  std::atomic<int> sharpRunning_{0};
  std::atomic<int> sharpPeak_{0};
  std::atomic<int> smallStarted_{0};
  std::function<void()> sharpHook_;
  // Last, so that they are destroyed first: their decodes use everything above.
  // Threads idle a while between scrolls; they are kept rather than started anew each time.
  BackgroundPool smallPool_{2, 60000};
  BackgroundPool sharpPool_{sharpAtOnce, 60000};
};

}  // namespace quillmere
