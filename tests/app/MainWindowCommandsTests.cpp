// SPDX-License-Identifier: GPL-3.0-or-later
// The application-wide commands the main window answers by opening another
// window: the duplicates and the settings, one of each however often they are
// asked for.
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QUrl>
#include <memory>

#include "AppCommands.h"
#include "AppFixture.h"

namespace quillmere::test {
namespace {

class MainWindowCommandsTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    engine = std::make_unique<QQmlApplicationEngine>();
    engine->setInitialProperties({{"app", QVariant::fromValue(&model())}});
    engine->load(QUrl("qrc:/Quillmere/qml/Main.qml"));
    main = qobject_cast<QQuickWindow*>(engine->rootObjects().value(0));
    ASSERT_NE(main, nullptr);
  }
  void TearDown() override {
    engine.reset();
    AppTest::TearDown();
  }
  QQuickWindow* shown(const char* property) {
    return qobject_cast<QQuickWindow*>(main->property(property).value<QObject*>());
  }

  std::unique_ptr<QQmlApplicationEngine> engine;
  QQuickWindow* main = nullptr;
};

TEST_F(MainWindowCommandsTest, EachCommandShowsItsOneWindowAgainWhenAskedAgain) {
  const struct {
    void (AppCommands::*command)();
    const char* property;
    const char* title;
  } cases[] = {{&AppCommands::showDuplicates, "duplicatesWindow", "Duplicates"},
               {&AppCommands::showSettings, "settingsWindow", "Settings"}};
  for (const auto& row : cases) {
    (AppCommands::shared().*row.command)();
    QQuickWindow* first = shown(row.property);
    ASSERT_NE(first, nullptr) << row.property;
    EXPECT_TRUE(first->isVisible()) << row.property;
    EXPECT_EQ(first->title(), row.title);
    first->close();
    ASSERT_FALSE(first->isVisible());
    (AppCommands::shared().*row.command)();
    EXPECT_EQ(shown(row.property), first) << row.property;
    EXPECT_TRUE(first->isVisible()) << row.property;
  }
}

}  // namespace
}  // namespace quillmere::test
