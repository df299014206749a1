// SPDX-License-Identifier: GPL-3.0-or-later
// The preview pane, the peek and the player windows, loaded from the application's QML
// module over a real library with photos and generated clips.
#include <QFontMetricsF>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtTest/QSignalSpy>
#include <memory>

#include "AppFixture.h"
#include "PlayerWindows.h"
#include "PlayerWindowsSingleton.h"
#include "PreviewFacts.h"
#include "scan/Timecode.h"

namespace quillmere::test {
namespace {

// The pane and the peek inside a window, as the main window holds them; placed beside the
// module's own files, as the main window is.
constexpr const char* windowSource = R"(
import QtQuick
import QtQuick.Controls
import Quillmere

ApplicationWindow {
    id: window
    required property AppModel app
    property alias peek: peek
    width: 900
    height: 600
    visible: true
    PreviewPane {
        objectName: "pane"
        width: 320
        height: parent.height
        app: window.app
        covered: peek.opened
    }
    Peek {
        id: peek
        app: window.app
    }
}
)";

class PreviewTest : public AppTest {
 protected:
  // Photos (one with markup in its name) in A, two clips in B.
  void makeLibrary() {
    const auto a = makeFolder("A");
    const auto b = makeFolder("B");
    addPhotos(a, 2);
    std::filesystem::copy_file(photos[2], a / "<b>x<i>.jpg");
    clips = {addClip(b, "one.mp4"), addClip(b, "two.mp4")};
    addIndexed(a);
    addIndexed(b);
    ASSERT_EQ(model().folders()->totals().indexed, 5);
    search("colourful moving pattern");
  }

  QQuickWindow* loadWindow() {
    engine = std::make_unique<QQmlApplicationEngine>();
    QQmlComponent component(engine.get());
    component.setData(windowSource, QUrl("qrc:/Quillmere/qml/PreviewTestWindow.qml"));
    if (component.isError()) ADD_FAILURE() << component.errorString().toStdString();
    auto* made = component.createWithInitialProperties({{"app", QVariant::fromValue(&model())}});
    EXPECT_TRUE(made) << component.errorString().toStdString();
    window.reset(qobject_cast<QQuickWindow*>(made));
    return window.get();
  }
  QObject* find(const char* name) const {
    auto* found = window->findChild<QObject*>(name);
    EXPECT_TRUE(found) << name;
    return found;
  }
  QObject* peek() const { return window->property("peek").value<QObject*>(); }
  std::optional<SearchResult> resultNamed(const std::string& name) const {
    for (const auto& result : model_->search()->results()->results()) {
      if (result.file.name() == name) return result;
    }
    return std::nullopt;
  }
  QObject* peekPlayer() const { return peek()->property("player").value<QObject*>(); }
  // The library in the window, with "one.mp4" selected and its exact time found.
  void selectRefinedVideo() {
    makeLibrary();
    ASSERT_TRUE(loadWindow());
    const auto found = resultNamed("one.mp4");
    ASSERT_TRUE(found);
    video = *found;
    model().search()->select(video.frameID);
    ASSERT_TRUE(waitFor([&] { return model().search()->exactTimes().contains(video.frameID); }));
  }
  double exactTime() { return model().search()->exactTimes().at(video.frameID); }

  void TearDown() override {
    window.reset();
    engine.reset();
    AppTest::TearDown();
  }

  std::vector<std::filesystem::path> clips;
  SearchResult video;  // the one selectRefinedVideo selected
  std::unique_ptr<QQmlApplicationEngine> engine;
  std::unique_ptr<QQuickWindow> window;
};

struct MatchCase {
  float best;
  float score;
  const char* words;
};

TEST(PreviewFactsTest, MatchWordsFollowTheDistanceFromTheBestScore) {
  for (const auto& row :
       {MatchCase{0.31f, 0.31f, "Best match"}, MatchCase{0.31f, 0.305f, "Best match"},
        MatchCase{0.31f, 0.29f, "Strong match"}, MatchCase{0.31f, 0.27f, "Good match"},
        MatchCase{0.31f, 0.25f, "Possible match"}}) {
    EXPECT_EQ(PreviewFacts::matchWords(row.best, row.score), row.words) << row.score;
  }
}

TEST(PreviewFactsTest, AspectIsClampedAndGuessedWhenUnknown) {
  EXPECT_NEAR(PreviewFacts::aspect(1920, 1080), 1.78, 0.01);
  EXPECT_EQ(PreviewFacts::aspect(1080, 4000), 0.5);
  EXPECT_EQ(PreviewFacts::aspect(8000, 1000), 2.4);
  EXPECT_EQ(PreviewFacts::aspect(0, 1080), 1.6);
}

TEST(PreviewFactsTest, ATimeIsShownAtTheOffsetItWasTakenAt) {
  // 2024-06-01 23:30 UTC was already the 2nd where a camera two hours east dated it.
  EXPECT_TRUE(PreviewFacts::dateAndTime(1717284600, 120).startsWith("2 Jun 2024, "));
  EXPECT_TRUE(PreviewFacts::dateAndTime(1717284600, -120).startsWith("1 Jun 2024, "));
}

TEST(PreviewFactsTest, PlayerTitlesCarryTheNameAndTheTime) {
  EXPECT_EQ(PlayerWindows::title(QUrl::fromLocalFile("/m/clip.mov"), 3725.4),
            QStringLiteral("clip.mov — 01:02:05"));
}

TEST_F(PreviewTest, ThePreviewShowsTheRefinedTimeOfASelectedVideo) {
  ASSERT_NO_FATAL_FAILURE(selectRefinedVideo());
  const auto exact = QString::fromStdString(timecode(exactTime()));
  EXPECT_EQ(find("previewTime")->property("text").toString(), exact);
  EXPECT_TRUE(find("exactFrame")->property("visible").toBool());
  EXPECT_EQ(find("openButton")->property("text").toString(), "Open at " + exact);
}

TEST_F(PreviewTest, NamesFromFilesAreShownAsPlainText) {
  makeLibrary();
  ASSERT_TRUE(loadWindow());
  const auto marked = resultNamed("<b>x<i>.jpg");
  ASSERT_TRUE(marked);
  model().search()->select(marked->frameID);
  auto* name = find("previewName");
  ASSERT_TRUE(name);
  EXPECT_EQ(name->property("text").toString(), "<b>x<i>.jpg");
  // Rich text would keep five characters of the eleven.
  EXPECT_EQ(name->property("length").toInt(), 11);
  EXPECT_FALSE(find("openButton")->property("text").toString().contains("Open at"));

  QMetaObject::invokeMethod(peek(), "open");
  auto* caption = find("peekName");
  ASSERT_TRUE(caption);
  const QFontMetricsF metrics(caption->property("font").value<QFont>());
  EXPECT_NEAR(caption->property("implicitWidth").toDouble(),
              metrics.horizontalAdvance("<b>x<i>.jpg"), 2.0);
}

TEST_F(PreviewTest, APeekPlayerWhoseSeekLandsAfterThePeekClosedDoesNotPlay) {
  makeLibrary();
  ASSERT_TRUE(loadWindow());
  const auto video = resultNamed("one.mp4");
  ASSERT_TRUE(video);
  model().search()->select(video->frameID);
  QMetaObject::invokeMethod(peek(), "open");
  QPointer<QObject> player = peekPlayer();
  ASSERT_TRUE(player);
  ASSERT_TRUE(player->property("seeking").toBool());
  QSignalSpy started(player, SIGNAL(started()));
  QSignalSpy released(player, SIGNAL(released()));
  QMetaObject::invokeMethod(peek(), "close");
  ASSERT_TRUE(released.wait(answerWait));
  EXPECT_EQ(started.count(), 0);
  ASSERT_TRUE(waitFor([&] { return player.isNull(); }));
}

// An exact time found while the file loads: the peek's player (the preview's is the same
// item) starts there, not at the time it was made with.
TEST_F(PreviewTest, APeekPlayerStartsAtATimeThatCameWhileItsFileLoaded) {
  ASSERT_NO_FATAL_FAILURE(selectRefinedVideo());
  const double moment = exactTime() > 3 ? 1.5 : 4.5;
  QMetaObject::invokeMethod(peek(), "open");
  QPointer<QObject> player = peekPlayer();
  ASSERT_TRUE(player && player->property("seeking").toBool());
  QMetaObject::invokeMethod(player, "seekTo", Q_ARG(QVariant, moment));
  ASSERT_TRUE(waitFor([&] { return player && player->property("playing").toBool(); }));
  EXPECT_NEAR(player->property("position").toInt(), moment * 1000, 400);
}

TEST_F(PreviewTest, APeekPlayerPlaysOnlyTheResultStillShown) {
  makeLibrary();
  ASSERT_TRUE(loadWindow());
  const auto one = resultNamed("one.mp4");
  const auto two = resultNamed("two.mp4");
  ASSERT_TRUE(one && two);
  model().search()->select(one->frameID);
  QMetaObject::invokeMethod(peek(), "open");
  QPointer<QObject> first = peekPlayer();
  ASSERT_TRUE(first);
  QSignalSpy firstStarted(first, SIGNAL(started()));
  QSignalSpy firstReleased(first, SIGNAL(released()));
  // The arrow key moved on before the first seek landed.
  model().search()->select(two->frameID);
  QPointer<QObject> second = peekPlayer();
  ASSERT_TRUE(second);
  ASSERT_NE(second, first);
  QSignalSpy secondStarted(second, SIGNAL(started()));
  ASSERT_TRUE(firstReleased.wait(answerWait));
  EXPECT_EQ(firstStarted.count(), 0);
  ASSERT_TRUE(secondStarted.count() > 0 || secondStarted.wait(answerWait));
  EXPECT_TRUE(waitFor([&] { return second->property("playing").toBool(); }));
  QMetaObject::invokeMethod(peek(), "close");
  EXPECT_TRUE(waitFor([&] { return second.isNull(); }));
}

// The keyboard plays and pauses the preview's player; the peek pauses it for good.
TEST_F(PreviewTest, SpacePlaysThePreviewAndThePeekPausesItUntilAskedAgain) {
  ASSERT_NO_FATAL_FAILURE(selectRefinedVideo());
  auto* media = qobject_cast<QQuickItem*>(find("previewMedia")->property("item").value<QObject*>());
  ASSERT_TRUE(media && QTest::qWaitForWindowActive(window.get()));
  media->forceActiveFocus();
  const auto playing = [&] {
    auto* player = media->property("player").value<QObject*>();
    return player && player->property("playing").toBool();
  };
  for (const bool expected : {true, false, true}) {
    QTest::keyClick(window.get(), Qt::Key_Space);
    EXPECT_TRUE(waitFor([&] { return playing() == expected; })) << expected;
  }
  QMetaObject::invokeMethod(peek(), "open");
  EXPECT_TRUE(waitFor([&] { return !playing(); }));
  QMetaObject::invokeMethod(peek(), "close");
  QTest::qWait(300);
  EXPECT_FALSE(playing());
  // With the selection gone the peek has nothing to show, and closes.
  QMetaObject::invokeMethod(peek(), "open");
  model().search()->select(std::nullopt);
  EXPECT_TRUE(waitFor([&] { return !peek()->property("opened").toBool(); }));
}

// The result menu's way in: a drag over the photo draws the region and Return searches by
// it; Escape leaves the mode from the keyboard.
TEST_F(PreviewTest, ARegionDrawnOverThePhotoIsSearchedByAndEscapeCancels) {
  makeLibrary();
  ASSERT_TRUE(loadWindow() && QTest::qWaitForWindowActive(window.get()));
  const auto photo = resultNamed("p0.jpg");
  ASSERT_TRUE(photo);
  model().search()->select(photo->frameID);
  const auto choose = [&] {
    QMetaObject::invokeMethod(find("pane"), "chooseRegion",
                              Q_ARG(QVariant, QVariant::fromValue(photo->frameID)));
  };
  const auto media = [&] { return find("previewMedia")->property("item").value<QObject*>(); };
  const auto drawing = [&] { return media() && media()->property("drawingRegion").toBool(); };
  choose();
  ASSERT_TRUE(waitFor(drawing));
  QTest::keyClick(window.get(), Qt::Key_Escape);
  EXPECT_FALSE(drawing());

  choose();
  ASSERT_TRUE(drawing());
  auto* layer = media()->findChild<QQuickItem*>("regionLayer");
  ASSERT_TRUE(layer);
  const auto at = [&](double x, double y) {
    return layer->mapToScene(QPointF(x * layer->width(), y * layer->height())).toPoint();
  };
  QTest::mousePress(window.get(), Qt::LeftButton, {}, at(0.2, 0.3));
  QTest::mouseMove(window.get(), at(0.5, 0.5));
  QTest::mouseMove(window.get(), at(0.7, 0.8));
  QTest::mouseRelease(window.get(), Qt::LeftButton, {}, at(0.7, 0.8));
  const QRectF region = media()->property("region").toRectF();
  EXPECT_NEAR(region.x(), 0.2, 0.02);
  EXPECT_NEAR(region.bottom(), 0.8, 0.02);
  QTest::keyClick(window.get(), Qt::Key_Return);
  EXPECT_FALSE(drawing());
  EXPECT_TRUE(waitFor([&] { return model().search()->imageQueryName() == "p0.jpg (region)"; }));
}

// Both players keep their place while the results around the shown frame change.
TEST_F(PreviewTest, PlayersCarryOnWhileIndexingSearchesAgain) {
  ASSERT_NO_FATAL_FAILURE(selectRefinedVideo());
  const double start = exactTime();
  QPointer<QObject> media = find("previewMedia")->property("item").value<QObject*>();
  ASSERT_TRUE(media);
  QMetaObject::invokeMethod(media, "play");
  QPointer<QObject> inlinePlayer = media->property("player").value<QObject*>();
  ASSERT_TRUE(waitFor([&] { return inlinePlayer && inlinePlayer->property("playing").toBool(); }));
  QMetaObject::invokeMethod(peek(), "open");
  QPointer<QObject> peeked = peekPlayer();
  ASSERT_TRUE(waitFor([&] { return peeked && peeked->property("playing").toBool(); }));
  // Paused away from the opening time, where a needless seek would show.
  const double away = start > 3 ? 1 : 5;
  for (QObject* player : {inlinePlayer.data(), peeked.data()}) {
    QMetaObject::invokeMethod(player, "pause");
    QMetaObject::invokeMethod(player, "seekTo", Q_ARG(QVariant, away));
  }
  ASSERT_TRUE(waitFor([&] { return inlinePlayer->property("position").toInt() == away * 1000; }));

  // New files indexed: the search runs again and keeps the selection.
  QSignalSpy applied(model().search(), &SearchModel::searchApplied);
  const auto more = makeFolder("C");
  addPhotos(more, 2);
  addIndexed(more);
  ASSERT_TRUE(applied.count() > 0 || applied.wait(answerWait));
  QTest::qWait(300);
  ASSERT_EQ(model().search()->selection(), video.frameID);
  EXPECT_EQ(peekPlayer(), peeked.data());
  ASSERT_TRUE(media && inlinePlayer);
  EXPECT_EQ(media->property("player").value<QObject*>(), inlinePlayer.data());
  EXPECT_EQ(inlinePlayer->property("position").toInt(), away * 1000);
}

TEST_F(PreviewTest, OneWindowPerFileRaisedAndMovedWhenOpenedAgain) {
  makeLibrary();
  ASSERT_TRUE(loadWindow());
  PlayerWindowsSingleton::install(*engine);
  auto& windows = PlayerWindows::shared();
  const auto one = QUrl::fromLocalFile(QString::fromStdString(clips[0].string()));
  const auto two = QUrl::fromLocalFile(QString::fromStdString(clips[1].string()));
  windows.open(one, 1);
  ASSERT_EQ(windows.count(), 1);
  QPointer<QWindow> first = windows.window(one);
  ASSERT_TRUE(first);
  windows.open(one, 4.5);
  EXPECT_EQ(windows.count(), 1);
  EXPECT_EQ(windows.window(one), first);
  EXPECT_EQ(first->title(), "one.mp4 — 00:00:04");
  EXPECT_EQ(first->property("start").toDouble(), 4.5);

  windows.open(two, 0);
  EXPECT_EQ(windows.count(), 2);
  EXPECT_NE(windows.window(two), first);

  // Closing lets the window go; the same file then gets a fresh one.
  first->close();
  EXPECT_EQ(windows.count(), 1);
  EXPECT_TRUE(waitFor([&] { return first.isNull(); }));
  windows.open(one, 2);
  EXPECT_EQ(windows.count(), 2);
  EXPECT_TRUE(windows.window(one));
  for (auto* open : {windows.window(one), windows.window(two)}) open->close();
  EXPECT_EQ(windows.count(), 0);
}

}  // namespace
}  // namespace quillmere::test
