// SPDX-License-Identifier: GPL-3.0-or-later
// Thumbnails: the decoding threads and the two caches of pictures.
#include "Thumbnails.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "index/Library.h"
#include "platform/ImageCodec.h"
#include "scan/FrameSampler.h"

namespace quillmere {

namespace {

// The shortest decimal form that reads back to the same double.
std::string shortest(double value) {
  char buffer[32];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
  return std::string(buffer, end);
}

// In the 32-bit layout the renderers draw and upload without converting, on a decoding
// thread rather than on the GUI thread.
QImage toImage(const Picture& picture) {
  if (picture.width <= 0 || picture.height <= 0) return {};
  return QImage(picture.rgb.data(), picture.width, picture.height, picture.width * 3,
                QImage::Format_RGB888)
      .convertToFormat(QImage::Format_RGB32);
}

}  // namespace

Thumbnails::Thumbnails(QObject* parent) : Thumbnails(smallBudgetKiB, sharpBudgetKiB, parent) {}

Thumbnails::Thumbnails(int smallBudget, int sharpBudget, QObject* parent)
    : QObject(parent), small_(smallBudget), sharp_(sharpBudget) {}

// The pools, members, drop their waiting work and wait for the decodes running.
Thumbnails::~Thumbnails() = default;

QString Thumbnails::smallKey(const SearchResult& result) {
  const MediaFile& file = result.file;
  const std::string key = std::to_string(result.frameID) + "|" + std::to_string(file.id) + "|" +
                          std::to_string(file.rootID) + "|" + file.relPath + "|" +
                          std::to_string(file.size) + "|" + shortest(file.mtime) + "|" +
                          shortest(result.time);
  return QString::fromStdString(key);
}

QString Thumbnails::sharpKey(const std::filesystem::path& filePath, std::int64_t size, double mtime,
                             double time, int pixels) {
  const std::string key = filePath.string() + "|" + shortest(time) + "|" + std::to_string(pixels) +
                          "|" + std::to_string(size) + "|" + shortest(mtime);
  return QString::fromStdString(key);
}

QImage Thumbnails::cachedSmall(const SearchResult& result) {
  const QImage* image = small_.object(smallKey(result));
  return image ? *image : QImage();
}

void Thumbnails::small(const SearchResult& result, Library& library, Cancelled cancelled,
                       Handler done) {
  const QString key = smallKey(result);
  if (const QImage* image = small_.object(key)) {
    if (!*cancelled) done(*image);
    return;
  }
  const std::int64_t frameID = result.frameID;
  smallPool_.start([this, &library, frameID, key, cancelled, done] {
    ++smallStarted_;
    QImage image;
    if (const auto data = library.thumbnail(frameID)) {
      if (const auto picture = ImageCodec::decode(*data)) image = toImage(*picture);
    }
    answers_.post([this, key, image, cancelled, done] {
      deliver(small_, smallLimit, key, image, cancelled, done);
    });
  });
}

QImage Thumbnails::cachedSharp(const std::filesystem::path& filePath, const MediaFile& file,
                               double time, int pixels) {
  const QImage* image = sharp_.object(sharpKey(filePath, file.size, file.mtime, time, pixels));
  return image ? *image : QImage();
}

void Thumbnails::sharp(const std::filesystem::path& filePath, const MediaFile& file, double time,
                       int pixels, Cancelled cancelled, Handler done) {
  if (const QImage* image =
          sharp_.object(sharpKey(filePath, file.size, file.mtime, time, pixels))) {
    if (!*cancelled) done(*image);
    return;
  }
  const MediaKind kind = file.kind;
  const QString key = sharpKey(filePath, file.size, file.mtime, time, pixels);
  sharpPool_.start([this, filePath, kind, time, pixels, key, cancelled, done] {
    // Its view moved on while it waited for a turn (a tile scrolled past): a decode that
    // nobody shows would only hold up those of the tiles in view.
    if (*cancelled) return;
    QImage image = decodeSharp(filePath, kind, time, pixels);
    answers_.post([this, key, image, cancelled, done] {
      deliver(sharp_, sharpLimit, key, image, cancelled, done);
    });
  });
}

QImage Thumbnails::decodeSharp(const std::filesystem::path& filePath, MediaKind kind, double time,
                               int pixels) {
  ++sharpStarted_;
  const int running = ++sharpRunning_;
  int peak = sharpPeak_;
  while (running > peak && !sharpPeak_.compare_exchange_weak(peak, running)) {
  }
  if (sharpHook_) sharpHook_();
  QImage image;
  try {
    if (kind == MediaKind::video) {
      const auto frames = FrameSampler::frames(filePath, std::vector<double>{time}, pixels);
      if (!frames.empty()) image = toImage(frames.front().image);
    } else {
      const auto sampled = FrameSampler::photo(filePath, pixels);
      if (!sampled.frames.empty()) image = toImage(sampled.frames.front().image);
    }
  } catch (const std::exception&) {
    // An unreadable file keeps its stored thumbnail.
  }
  --sharpRunning_;
  return image;
}

void Thumbnails::deliver(QCache<QString, QImage>& cache, int limit, const QString& key,
                         QImage image, const Cancelled& cancelled, const Handler& done) {
  if (!image.isNull() && !key.isEmpty()) {
    const auto kib = static_cast<qsizetype>((image.sizeInBytes() + 1023) / 1024);
    const qsizetype share = cache.maxCost() / limit;
    cache.insert(key, new QImage(image), std::max(kib, share));
  }
  if (!*cancelled) done(image);
}

}  // namespace quillmere
