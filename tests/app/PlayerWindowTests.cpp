// SPDX-License-Identifier: GPL-3.0-or-later
// The player windows made from the application's QML module over real clips: where a seek
// lands, the size the user gave the last window, and the picture's shape.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPointer>
#include <QQmlApplicationEngine>
#include <QScreen>
#include <QSettings>
#include <QWindow>
#include <QtTest/QTest>
#include <cmath>
#include <memory>

#include "PlayerWindows.h"
#include "PlayerWindowsSingleton.h"
#include "support/MediaFactory.h"
#include "support/TempDirectory.h"

namespace quillmere::test {
namespace {

constexpr int fps = 25;
constexpr int frameMs = 1000 / fps;
constexpr int loadWait = 20000;

class PlayerWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    clips = std::make_unique<TempDirectory>();
    // One keyframe at the start: any second after it lies between keyframes.
    makePatternClip(clips->path() / "wide.mp4", 8,
                    {.width = 320, .height = 240, .fps = fps, .keyframeSeconds = 8});
    makePatternClip(clips->path() / "other.mp4", 8,
                    {.width = 320, .height = 240, .fps = fps, .keyframeSeconds = 8});
    // A phone's portrait clip: stored sideways, with a display matrix that turns it upright.
    makePatternClip(clips->path() / "sideways.mp4", 4,
                    {.width = 320, .height = 180, .fps = fps, .keyframeSeconds = 4});
    runCommand("ffmpeg -nostdin -y -v error -i " + shellQuoted(clips->path() / "sideways.mp4") +
               " -c copy -metadata:s:v:0 rotate=90 " + shellQuoted(clips->path() / "upright.mp4"));
  }
  static void TearDownTestSuite() { clips.reset(); }

  void SetUp() override {
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       QString::fromStdString(settings.path().string()));
    engine = std::make_unique<QQmlApplicationEngine>();
    PlayerWindowsSingleton::install(*engine);
  }
  void TearDown() override {
    auto& windows = PlayerWindows::shared();
    for (const char* name : {"wide.mp4", "other.mp4", "upright.mp4"}) {
      if (auto* open = windows.window(clip(name))) open->close();
    }
    QTest::qWait(50);
    engine.reset();
  }

  static QUrl clip(const char* name) {
    return QUrl::fromLocalFile(QString::fromStdString((clips->path() / name).string()));
  }
  static QObject* player(QWindow* window) { return window->findChild<QObject*>("player"); }
  static qint64 position(QWindow* window) {
    return player(window)->property("position").toLongLong();
  }
  // The window has loaded its file and stands at ms, within a frame.
  static bool standsAt(QWindow* window, qint64 ms) {
    return QTest::qWaitFor(
        [&] {
          return window->property("seeking").toBool() == false &&
                 std::abs(position(window) - ms) <= frameMs;
        },
        loadWait);
  }

  static inline std::unique_ptr<TempDirectory> clips;
  TempDirectory settings;
  std::unique_ptr<QQmlApplicationEngine> engine;
};

TEST_F(PlayerWindowTest, ASeekBetweenKeyframesLandsOnTheSecondAsked) {
  auto& windows = PlayerWindows::shared();
  windows.open(clip("wide.mp4"), 5.32);
  QPointer<QWindow> window = windows.window(clip("wide.mp4"));
  ASSERT_TRUE(window);
  EXPECT_TRUE(standsAt(window, 5320)) << position(window);
  // Opened again: the same window moves to the new second.
  windows.open(clip("wide.mp4"), 3.16);
  EXPECT_EQ(windows.window(clip("wide.mp4")), window.data());
  EXPECT_TRUE(standsAt(window, 3160)) << position(window);
  QTest::qWait(300);
  EXPECT_LE(std::abs(position(window) - 3160), frameMs);
}

TEST_F(PlayerWindowTest, ANewWindowTakesTheKeysAtOnce) {
  auto& windows = PlayerWindows::shared();
  windows.open(clip("other.mp4"), 2);
  QPointer<QWindow> window = windows.window(clip("other.mp4"));
  ASSERT_TRUE(window);
  ASSERT_TRUE(standsAt(window, 2000)) << position(window);
  QTest::keyClick(window, Qt::Key_Right);
  EXPECT_TRUE(standsAt(window, 7000)) << position(window);
  QTest::keyClick(window, Qt::Key_Left);
  EXPECT_TRUE(standsAt(window, 2000)) << position(window);
  QTest::keyClick(window, Qt::Key_Left);  // no further back than the start
  EXPECT_TRUE(standsAt(window, 0)) << position(window);
  const auto state = [&] { return player(window)->property("playbackState").toInt(); };
  QTest::keyClick(window, Qt::Key_Space);
  EXPECT_TRUE(QTest::qWaitFor([&] { return state() == 1; }, loadWait));  // playing
  QTest::keyClick(window, Qt::Key_Space);
  EXPECT_TRUE(QTest::qWaitFor([&] { return state() == 2; }, loadWait));  // paused
  QTest::keyClick(window, Qt::Key_F11);
  EXPECT_TRUE(QTest::qWaitFor([&] { return window->visibility() == QWindow::FullScreen; }));
  QTest::keyClick(window, Qt::Key_Escape);
  EXPECT_TRUE(QTest::qWaitFor([&] { return window->visibility() == QWindow::Windowed; }));
}

TEST_F(PlayerWindowTest, ANewWindowTakesTheSizeTheLastOneWasLeftAtCentred) {
  auto& windows = PlayerWindows::shared();
  windows.open(clip("wide.mp4"), 1);
  QPointer<QWindow> first = windows.window(clip("wide.mp4"));
  ASSERT_TRUE(first);
  const auto area = first->screen()->availableGeometry();
  EXPECT_EQ(
      first->size(),
      QSize(PlayerWindows::contentWidth, PlayerWindows::contentHeight).boundedTo(area.size()));
  first->resize(640, 400);
  first->close();

  windows.open(clip("other.mp4"), 1);
  QPointer<QWindow> second = windows.window(clip("other.mp4"));
  ASSERT_TRUE(second);
  EXPECT_TRUE(second->isVisible());
  EXPECT_EQ(second->size(), QSize(640, 400));
  EXPECT_EQ(second->position(),
            area.topLeft() + QPoint(area.width() - 640, area.height() - 400) / 2);

  // A size larger than the screen is cut to it.
  second->resize(area.width() + 300, 200);
  second->close();
  windows.open(clip("wide.mp4"), 1);
  ASSERT_TRUE(windows.window(clip("wide.mp4")));
  EXPECT_EQ(windows.window(clip("wide.mp4"))->width(), area.width());
}

struct ShapeCase {
  const char* clip;
  double aspect;  // of the upright picture
};

// Within a pixel of the picture's shape.
bool inShape(const QSize& size, double aspect) {
  return std::abs(size.height() - size.width() / aspect) <= 1;
}

TEST_F(PlayerWindowTest, AWindowKeepsTheShapeOfItsUprightPicture) {
  auto& windows = PlayerWindows::shared();
  for (const auto& row :
       {ShapeCase{"wide.mp4", 320.0 / 240}, ShapeCase{"upright.mp4", 180.0 / 320}}) {
    windows.open(clip(row.clip), 0.5);
    QPointer<QWindow> window = windows.window(clip(row.clip));
    ASSERT_TRUE(window);
    const auto given = window->size();
    EXPECT_TRUE(QTest::qWaitFor([&] { return inShape(window->size(), row.aspect); }, loadWait))
        << row.clip << " " << window->width() << "x" << window->height();
    // The largest picture within the size it was given.
    EXPECT_TRUE(window->width() == given.width() || window->height() == given.height());
    window->setWidth(300);
    EXPECT_TRUE(QTest::qWaitFor([&] { return inShape(window->size(), row.aspect); }, loadWait))
        << row.clip << " " << window->width() << "x" << window->height();
    EXPECT_EQ(window->width(), 300);
    window->close();
  }
}

TEST_F(PlayerWindowTest, PicturesOfOtherShapesDoNotShrinkTheNextWindows) {
  auto& windows = PlayerWindows::shared();
  windows.open(clip("upright.mp4"), 0.5);
  QPointer<QWindow> upright = windows.window(clip("upright.mp4"));
  ASSERT_TRUE(upright);
  const auto given = upright->size();
  ASSERT_TRUE(QTest::qWaitFor([&] { return upright->size() != given; }, loadWait));
  upright->close();
  windows.open(clip("wide.mp4"), 0.5);
  ASSERT_TRUE(windows.window(clip("wide.mp4")));
  EXPECT_EQ(windows.window(clip("wide.mp4"))->size(), given);
}

}  // namespace
}  // namespace quillmere::test
