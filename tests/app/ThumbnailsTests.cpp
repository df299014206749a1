// SPDX-License-Identifier: GPL-3.0-or-later
// The pictures of results: stored thumbnails and sharp pictures from a real library of
// wallpapers and a generated clip, the limit on sharp decodes, cancellation, offline files,
// and pictures that must not outlive the file or frame they were taken from.
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "AppFixture.h"
#include "ResultPicture.h"
#include "ThumbnailLoad.h"
#include "Thumbnails.h"
#include "platform/ImageCodec.h"
#include "scan/FrameSampler.h"
#include "support/LibraryTestAccess.h"
#include "support/MediaFactory.h"

namespace quillmere::test {
namespace {

QImage toImage(const Picture& picture) {
  return QImage(picture.rgb.data(), picture.width, picture.height, picture.width * 3,
                QImage::Format_RGB888)
      .convertToFormat(QImage::Format_RGB32);
}

// Holds sharp decodes inside the limit until released, counting those that got there.
class DecodeGate {
 public:
  void enter() {
    std::unique_lock guard(lock_);
    ++entered_;
    opened_.wait_for(guard, std::chrono::seconds(60), [this] { return open_; });
  }
  void open() {
    {
      std::lock_guard guard(lock_);
      open_ = true;
    }
    opened_.notify_all();
  }
  int entered() {
    std::lock_guard guard(lock_);
    return entered_;
  }

 private:
  std::mutex lock_;
  std::condition_variable opened_;
  bool open_ = false;
  int entered_ = 0;
};

class ThumbnailsTest : public AppTest {
 protected:
  void TearDown() override {
    // The service's decodes read the model's library: it goes first.
    if (gate) gate->open();
    thumbs.reset();
    AppTest::TearDown();
  }

  // n wallpapers in the folder "Photos", indexed and found.
  std::vector<SearchResult> photoResults(int n) {
    folder = makeFolder("Photos");
    addPhotos(folder, n);
    addIndexed(folder);
    search("a photo");
    return model().search()->results()->results();
  }

  void holdSharpDecodes() {
    gate = std::make_shared<DecodeGate>();
    thumbs->setSharpDecodeHook([gate = gate] { gate->enter(); });
  }

  static Thumbnails::Cancelled notCancelled() { return std::make_shared<std::atomic<bool>>(false); }

  std::filesystem::path url(const SearchResult& result) {
    return *model().folders()->filePath(result.file);
  }

  QImage storedThumbnail(std::int64_t frameID) {
    const auto data = model().library()->thumbnail(frameID);
    if (!data) return {};
    return toImage(*ImageCodec::decode(*data));
  }

  // Every picture a load showed, in order.
  struct Shown {
    QImage image;
    bool sharp = false;
  };
  std::shared_ptr<ThumbnailLoad> load(const SearchResult& result, int pixels,
                                      std::vector<Shown>& shown) {
    return ThumbnailLoad::start(*thumbs, *model().folders(), result, result.time, pixels,
                                [&shown](const QImage& image, bool sharp) {
                                  shown.push_back({image, sharp});
                                });
  }

  std::unique_ptr<Thumbnails> thumbs = std::make_unique<Thumbnails>();
  std::shared_ptr<DecodeGate> gate;
  std::filesystem::path folder;
};
using ThumbnailsConcurrency = ThumbnailsTest;

TEST_F(ThumbnailsConcurrency, TwentyRequestsRunFourSharpDecodesAtOnceAndStoredThumbnailsStillCome) {
  const auto results = photoResults(5);
  ASSERT_EQ(results.size(), 5u);
  holdSharpDecodes();
  int answered = 0;
  for (int i = 0; i < 20; ++i) {
    const auto& result = results[static_cast<std::size_t>(i) % results.size()];
    thumbs->sharp(url(result), result.file, 0, 100 + i, notCancelled(),
                  [&answered](const QImage& image) {
                    EXPECT_FALSE(image.isNull());
                    ++answered;
                  });
  }
  ASSERT_TRUE(waitFor([&] { return gate->entered() >= Thumbnails::sharpAtOnce; }));
  // A fifth must not start while four are held; give it every chance to.
  EXPECT_FALSE(waitFor([&] { return gate->entered() > Thumbnails::sharpAtOnce; }, 500));

  // Four held sharp decodes do not hold up a stored thumbnail.
  QImage small;
  thumbs->small(results[0], *model().library(), notCancelled(),
                [&small](const QImage& image) { small = image; });
  ASSERT_TRUE(waitFor([&] { return !small.isNull(); }, 10000));
  EXPECT_EQ(small, storedThumbnail(results[0].frameID));

  gate->open();
  ASSERT_TRUE(waitFor([&] { return answered == 20; }));
  EXPECT_EQ(thumbs->sharpDecodesStarted(), 20);
  EXPECT_EQ(thumbs->peakSharpDecodes(), Thumbnails::sharpAtOnce);
}

// A tile scrolled out of view while its sharp decode still waited for a turn.
TEST_F(ThumbnailsConcurrency, ASharpDecodeCancelledBeforeItsTurnIsNeverMade) {
  const auto results = photoResults(5);
  ASSERT_EQ(results.size(), 5u);
  holdSharpDecodes();
  int answered = 0;
  for (int i = 0; i < Thumbnails::sharpAtOnce; ++i) {
    const auto& result = results[static_cast<std::size_t>(i)];
    thumbs->sharp(url(result), result.file, 0, 256, notCancelled(),
                  [&answered](const QImage&) { ++answered; });
  }
  ASSERT_TRUE(waitFor([&] { return gate->entered() == Thumbnails::sharpAtOnce; }));
  const auto cancelled = std::make_shared<std::atomic<bool>>(false);
  thumbs->sharp(url(results[4]), results[4].file, 0, 256, cancelled,
                [](const QImage&) { ADD_FAILURE() << "a cancelled decode answered"; });
  *cancelled = true;
  gate->open();
  ASSERT_TRUE(waitFor([&] { return answered == Thumbnails::sharpAtOnce; }));
  QTest::qWait(300);
  EXPECT_EQ(thumbs->sharpDecodesStarted(), Thumbnails::sharpAtOnce);
}

TEST_F(ThumbnailsConcurrency, AResultShowsItsStoredThumbnailThenTheSharpPictureOfItsFile) {
  const auto folder = makeFolder("Media");
  addPhotos(folder, 1);
  const auto clip = addClip(folder, "clip.mp4");
  addIndexed(folder);
  search("a test pattern");
  for (const auto& result : model().search()->results()->results()) {
    SCOPED_TRACE(result.file.relPath + " at " + std::to_string(result.time));
    std::vector<Shown> shown;
    const auto running = load(result, 256, shown);
    ASSERT_TRUE(waitFor([&] { return shown.size() == 2; }));
    EXPECT_FALSE(shown[0].sharp);
    EXPECT_EQ(shown[0].image, storedThumbnail(result.frameID));
    EXPECT_TRUE(shown[1].sharp);
    const auto path = url(result);
    const Picture expected = result.file.kind == MediaKind::video
                                 ? FrameSampler::frames(path, {result.time}, 256).at(0).image
                                 : FrameSampler::photo(path, 256).frames.at(0).image;
    EXPECT_EQ(shown[1].image, toImage(expected));

    // Asked again, the sharp picture comes from the cache, at once and alone.
    std::vector<Shown> again;
    load(result, 256, again);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_TRUE(again[0].sharp);
    EXPECT_EQ(again[0].image, shown[1].image);
  }
  EXPECT_EQ(thumbs->sharpDecodesStarted(), 2);
}

TEST_F(ThumbnailsConcurrency, AFileWhoseFolderIsOfflineNeverStartsASharpDecode) {
  const auto results = photoResults(2);
  ASSERT_EQ(results.size(), 2u);
  std::vector<Shown> online;
  load(results[0], 256, online);
  ASSERT_TRUE(waitFor([&] { return online.size() == 2 && online[1].sharp; }));
  EXPECT_EQ(thumbs->sharpDecodesStarted(), 1);

  std::filesystem::rename(folder, temp->path() / "Unplugged");
  model().folders()->volumesChanged();
  ASSERT_FALSE(model().folders()->isOnline(results[1].file));
  std::vector<Shown> offline;
  load(results[1], 256, offline);
  ASSERT_TRUE(waitFor([&] { return !offline.empty(); }));
  QTest::qWait(100);
  ASSERT_EQ(offline.size(), 1u);
  EXPECT_FALSE(offline[0].sharp);
  EXPECT_EQ(offline[0].image, storedThumbnail(results[1].frameID));
  EXPECT_EQ(thumbs->sharpDecodesStarted(), 1);
}

TEST_F(ThumbnailsConcurrency, ACancelledLoadFillsTheCachesButShowsNothing) {
  const auto results = photoResults(2);
  ASSERT_EQ(results.size(), 2u);

  // Cancelled while its stored thumbnail is read: a reused view moving on at once.
  std::vector<Shown> moved;
  load(results[0], 0, moved)->cancel();
  ASSERT_TRUE(waitFor([&] { return !thumbs->cachedSmall(results[0]).isNull(); }));
  EXPECT_TRUE(moved.empty());

  // Cancelled while its sharp picture is decoded.
  holdSharpDecodes();
  std::vector<Shown> shown;
  const auto running = load(results[1], 256, shown);
  ASSERT_TRUE(waitFor([&] { return gate->entered() == 1; }));
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_FALSE(shown[0].sharp);
  running->cancel();
  gate->open();
  ASSERT_TRUE(waitFor(
      [&] { return !thumbs->cachedSharp(url(results[1]), results[1].file, 0, 256).isNull(); }));
  EXPECT_EQ(shown.size(), 1u);
}

TEST_F(ThumbnailsConcurrency, LargePicturesAreBoundedByTheirBytesNotTheirCount) {
  const auto results = photoResults(3);
  ASSERT_EQ(results.size(), 3u);
  // Room for two pictures of 256 pixels, far below the count limit.
  thumbs = std::make_unique<Thumbnails>(Thumbnails::smallBudgetKiB, 400);
  for (const SearchResult& result : results) {
    QImage sharp;
    thumbs->sharp(url(result), result.file, 0, 256, notCancelled(),
                  [&sharp](const QImage& image) { sharp = image; });
    ASSERT_TRUE(waitFor([&] { return !sharp.isNull(); }));
    ASSERT_LE(sharp.sizeInBytes(), 200 * 1024);
  }
  const auto cached = [&](const SearchResult& result) {
    return !thumbs->cachedSharp(url(result), result.file, 0, 256).isNull();
  };
  EXPECT_FALSE(cached(results[0]));
  EXPECT_TRUE(cached(results[1]));
  EXPECT_TRUE(cached(results[2]));
}

TEST_F(ThumbnailsConcurrency, AMissingStoredThumbnailShowsNothingUntilTheSharpPicture) {
  const auto results = photoResults(1);
  ASSERT_EQ(results.size(), 1u);
  LibraryTestAccess::db(*model().library())
      .run("DELETE FROM thumbs WHERE frame_id=?", {results[0].frameID});

  QImage small(1, 1, QImage::Format_RGB888);
  thumbs->small(results[0], *model().library(), notCancelled(),
                [&small](const QImage& image) { small = image; });
  ASSERT_TRUE(waitFor([&] { return small.isNull(); }));
  EXPECT_TRUE(thumbs->cachedSmall(results[0]).isNull());

  std::vector<Shown> shown;
  load(results[0], 256, shown);
  ASSERT_TRUE(waitFor([&] { return !shown.empty(); }));
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_TRUE(shown[0].sharp);
}

TEST_F(ThumbnailsConcurrency, AnEditedFileGivesANewPictureNotTheCachedOne) {
  const auto results = photoResults(1);
  ASSERT_EQ(results.size(), 1u);
  const SearchResult before = results[0];
  const auto path = url(before);
  std::vector<Shown> first;
  load(before, 256, first);
  ASSERT_TRUE(waitFor([&] { return first.size() == 2; }));

  // Another wallpaper written over it; the watcher has the library index it again.
  std::filesystem::copy_file(photos.at(3), path, std::filesystem::copy_options::overwrite_existing);
  const auto size = static_cast<std::int64_t>(std::filesystem::file_size(path));
  ASSERT_NE(size, before.file.size);
  ASSERT_TRUE(waitFor([&] {
    const auto file = model().library()->file(before.file.id);
    return file && file->size == size && file->state == FileState::indexed;
  }));
  search("another photo");
  ASSERT_EQ(model().search()->results()->rowCount(), 1);
  const SearchResult after = model().search()->results()->results()[0];
  ASSERT_EQ(url(after), path);

  std::vector<Shown> second;
  load(after, 256, second);
  ASSERT_TRUE(waitFor([&] { return second.size() == 2; }));
  EXPECT_EQ(second[0].image, storedThumbnail(after.frameID));
  EXPECT_NE(second[0].image, first[0].image);
  EXPECT_EQ(second[1].image, toImage(FrameSampler::photo(path, 256).frames.at(0).image));
  EXPECT_NE(second[1].image, first[1].image);

  // Edited again and not yet seen by the library: its picture is decoded once, not each time.
  SearchResult unseen = after;
  unseen.file.mtime -= 1;
  std::vector<Shown> third;
  load(unseen, 256, third);
  ASSERT_TRUE(waitFor([&] { return third.size() == 2; }));
  const int decoded = thumbs->sharpDecodesStarted();
  std::vector<Shown> fourth;
  load(unseen, 256, fourth);
  ASSERT_EQ(fourth.size(), 1u);
  EXPECT_TRUE(fourth[0].sharp);
  QTest::qWait(100);
  EXPECT_EQ(thumbs->sharpDecodesStarted(), decoded);
}

TEST_F(ThumbnailsConcurrency, AFrameIdOfAnotherLibraryDoesNotShowTheOldPicture) {
  const auto old = photoResults(1);
  ASSERT_EQ(old.size(), 1u);
  std::vector<Shown> first;
  load(old[0], 0, first);
  ASSERT_TRUE(waitFor([&] { return first.size() == 1; }));

  // The library made again from nothing, now holding another photo under the same name:
  // its first frame has the same id.
  model_.reset();
  for (const auto& name : {"Library.sqlite", "Library.sqlite-wal", "Library.sqlite-shm"}) {
    std::filesystem::remove(temp->path() / name);
  }
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(photos.at(5), folder / "p0.jpg");
  addIndexed(folder);
  search("a photo");
  ASSERT_EQ(model().search()->results()->rowCount(), 1);
  const SearchResult now = model().search()->results()->results()[0];
  ASSERT_EQ(now.frameID, old[0].frameID);

  std::vector<Shown> second;
  load(now, 0, second);
  ASSERT_TRUE(waitFor([&] { return second.size() == 1; }));
  EXPECT_EQ(second[0].image, storedThumbnail(now.frameID));
  EXPECT_NE(second[0].image, first[0].image);
}

// Quitting while pictures load: the views' service ends with the model, before its library,
// so no read reaches a library that is gone and no answer a model that is gone.
TEST_F(ThumbnailsConcurrency, QuittingWhilePicturesLoadReachesNoLibraryThatIsGone) {
  ASSERT_EQ(photoResults(8).size(), 8u);
  for (int round = 0; round < 20; ++round) {
    int shown = 0;
    for (const SearchResult& result : model().search()->results()->results()) {
      for (const int pixels : {0, 128, 256}) {
        ThumbnailLoad::start(model().thumbnails(), *model().folders(), result, result.time, pixels,
                             [&shown](const QImage&, bool) { ++shown; });
      }
    }
    model_.reset();
    QTest::qWait(10);
    EXPECT_EQ(shown, 0);
    search("a photo");
  }
}

// The QML item over the model's service: the background at once, then the pictures, and the
// background again for another frame.
TEST_F(ThumbnailsTest, ResultImageShowsTheStoredThumbnailThenTheSharpPicture) {
  const auto results = photoResults(2);
  ASSERT_EQ(results.size(), 2u);
  QQmlEngine engine;
  QQmlComponent component(&engine, QUrl("qrc:/Quillmere/qml/ResultImage.qml"));
  std::unique_ptr<QObject> made(component.create());
  ASSERT_TRUE(made) << component.errorString().toStdString();
  auto* image = qobject_cast<QQuickItem*>(made.get());
  ASSERT_TRUE(image);
  QQuickWindow window;
  window.resize(160, 120);
  image->setParentItem(window.contentItem());
  image->setSize(QSizeF(160, 120));
  window.show();
  image->setProperty("app", QVariant::fromValue(&model()));
  image->setProperty("frameId", QVariant::fromValue(results[0].frameID));
  ASSERT_TRUE(waitFor([&] { return image->property("showsSharp").toBool(); }));
  auto* picture = image->findChild<ResultPicture*>();
  ASSERT_TRUE(picture);
  // 160 points wide at ratio 1, rounded up to a step; the photo itself is 320 wide.
  EXPECT_EQ(picture->property("pictureSize").toInt(), 192);

  std::vector<Shown> shown;
  QObject::connect(picture, &ResultPicture::pictureChanged, [&] {
    shown.push_back({picture->hasPicture() ? QImage(1, 1, QImage::Format_RGB888) : QImage(),
                     picture->showsSharp()});
  });
  image->setProperty("frameId", QVariant::fromValue(results[1].frameID));
  // Gone before the next frame is drawn: a tile reused for another row while the grid
  // scrolls never shows the picture of the row it had.
  EXPECT_FALSE(image->property("hasPicture").toBool());
  ASSERT_TRUE(waitFor([&] { return shown.size() >= 3; }));
  QTest::qWait(100);
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_TRUE(shown[0].image.isNull());
  EXPECT_FALSE(shown[1].image.isNull());
  EXPECT_FALSE(shown[1].sharp);
  EXPECT_TRUE(shown[2].sharp);
  EXPECT_EQ(image->property("frameId").toLongLong(), results[1].frameID);
}

// A frame that is not among the results (a duplicate's tile) shows once its file is given (a
// view test: its window renders on a thread of Qt's, so it stays out of the ThreadSanitizer run).
TEST_F(ThumbnailsTest, ResultImageOfAFrameOutsideTheResultsShowsWhenItsFileIsGiven) {
  const SearchResult stored = photoResults(1).at(0);
  model().search()->setQuery("");
  ASSERT_TRUE(waitFor([&] { return model().search()->results()->results().empty(); }));
  QQmlEngine engine;
  QQmlComponent component(&engine, QUrl("qrc:/Quillmere/qml/ResultImage.qml"));
  QQuickWindow window;
  window.resize(320, 120);
  std::vector<std::unique_ptr<QObject>> images;
  for (const bool withFile : {false, true}) {
    images.emplace_back(component.create());
    auto* image = qobject_cast<QQuickItem*>(images.back().get());
    ASSERT_TRUE(image) << component.errorString().toStdString();
    image->setParentItem(window.contentItem());
    image->setSize(QSizeF(160, 120));
    image->setX(withFile ? 160 : 0);
    image->setProperty("sharp", false);
    image->setProperty("app", QVariant::fromValue(&model()));
    image->setProperty("frameId", QVariant::fromValue(stored.frameID));
    if (withFile) image->setProperty("fileId", QVariant::fromValue(stored.file.id));
  }
  window.show();
  ASSERT_TRUE(waitFor([&] { return images[1]->property("hasPicture").toBool(); }));
  QTest::qWait(100);
  EXPECT_FALSE(images[0]->property("hasPicture").toBool());
}

}  // namespace
}  // namespace quillmere::test
