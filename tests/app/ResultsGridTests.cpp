// SPDX-License-Identifier: GPL-3.0-or-later
// The results grid on its own in a small window, over a real library of photos.
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQuickItem>
#include <QQuickWindow>
#include <memory>

#include "AppFixture.h"

namespace quillmere::test {
namespace {

// Beside the module's own files, as the main window is.
constexpr const char* windowSource = R"(
import QtQuick
import QtQuick.Controls
import Quillmere

ApplicationWindow {
    id: window
    required property AppModel app
    width: 500
    height: 300
    visible: true
    ResultsGrid {
        objectName: "grid"
        anchors.fill: parent
        app: window.app
    }
}
)";

class ResultsGridTest : public AppTest {
 protected:
  QQuickItem* loadGrid() {
    engine = std::make_unique<QQmlApplicationEngine>();
    QQmlComponent component(engine.get());
    component.setData(windowSource, QUrl("qrc:/Quillmere/qml/ResultsGridTestWindow.qml"));
    auto* made = component.createWithInitialProperties({{"app", QVariant::fromValue(&model())}});
    EXPECT_TRUE(made) << component.errorString().toStdString();
    window.reset(qobject_cast<QQuickWindow*>(made));
    return window ? window->findChild<QQuickItem*>("grid") : nullptr;
  }
  void TearDown() override {
    window.reset();
    engine.reset();
    AppTest::TearDown();
  }

  std::unique_ptr<QQmlApplicationEngine> engine;
  std::unique_ptr<QQuickWindow> window;
};

TEST_F(ResultsGridTest, TheViewGlidesToASelectionOutOfSight) {
  const auto folder = makeFolder("Photos");
  addPhotos(folder, 12);
  addIndexed(folder);
  search("red");
  auto* grid = loadGrid();
  ASSERT_TRUE(grid);
  const auto& results = model().search()->results()->results();
  ASSERT_EQ(results.size(), 12u);
  QTest::qWait(100);
  const double top = grid->property("contentY").toDouble();

  model().search()->select(results.back().frameID);
  // No jump: the view sets off from where it was...
  EXPECT_EQ(grid->property("contentY").toDouble(), top);
  // ...and soon shows the whole tile.
  auto shown = [grid] {
    QQuickItem* tile = nullptr;
    QMetaObject::invokeMethod(grid, "itemAtIndex", Q_RETURN_ARG(QQuickItem*, tile), Q_ARG(int, 11));
    const double y = grid->property("contentY").toDouble();
    return tile && tile->y() >= y && tile->y() + tile->height() <= y + grid->height();
  };
  EXPECT_TRUE(waitFor(shown, 2000)) << grid->property("contentY").toDouble();
}

}  // namespace
}  // namespace quillmere::test
