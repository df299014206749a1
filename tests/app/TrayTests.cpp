// SPDX-License-Identifier: GPL-3.0-or-later
// The tray's menu and tooltip over a real library, through the icon's seam: a recording
// stand-in for the desktop's tray, which the offscreen platform does not have.
#include <algorithm>

#include "AppFixture.h"
#include "IndexingStatus.h"
#include "Tray.h"
#include "TrayIcon.h"

namespace quillmere::test {
namespace {

class RecordingTrayIcon : public TrayIcon {
 public:
  void setToolTip(const QString& text) override {
    toolTip = text;
    toolTips.push_back(text);
  }
  void setMenu(std::vector<Entry> newEntries) override { entries = std::move(newEntries); }
  void setActivation(std::function<void()> run) override { activation = std::move(run); }
  void show() override { shown = true; }

  QStringList texts() const {
    QStringList list;
    for (const auto& entry : entries) list.push_back(entry.text);
    return list;
  }
  void choose(const QString& text) {
    for (const auto& entry : entries) {
      if (entry.text == text) return entry.run();
    }
    ADD_FAILURE() << "no menu entry " << text.toStdString();
  }

  QString toolTip;
  QStringList toolTips;  // every one set, in order
  std::vector<Entry> entries;
  std::function<void()> activation;
  bool shown = false;
};

class TrayTest : public AppTest {};

TEST_F(TrayTest, MenuPausesAndResumesIndexingAndTheTooltipFollows) {
  const auto folder = makeFolder("photos");
  addPhotos(folder, 40);
  RecordingTrayIcon icon;
  Tray tray(*model().indexing(), *model().folders(), icon);
  EXPECT_EQ(icon.texts(), (QStringList{"Show Quillmere", "Pause Indexing", "Quit"}));
  EXPECT_FALSE(icon.shown);  // showing is the application's choice

  ASSERT_EQ(model().folders()->addFolder(folder).outcome, FolderRules::Outcome::added);
  icon.choose("Pause Indexing");
  ASSERT_TRUE(waitFor([&] { return icon.texts().contains("Resume Indexing"); }));
  EXPECT_TRUE(model().indexing()->pausedByUser());
  ASSERT_TRUE(waitFor([&] { return icon.toolTip.startsWith("Quillmere\nPaused"); }))
      << icon.toolTip.toStdString();

  icon.choose("Resume Indexing");
  ASSERT_TRUE(waitFor([&] { return icon.toolTip == "Quillmere\nUp to date · 40 items"; }))
      << icon.toolTip.toStdString();
  EXPECT_EQ(icon.texts(), (QStringList{"Show Quillmere", "Pause Indexing", "Quit"}));
  EXPECT_TRUE(std::any_of(icon.toolTips.begin(), icon.toolTips.end(), [](const QString& tip) {
    return tip.startsWith("Quillmere\nIndexing · ") && tip.contains(" MB");
  })) << icon.toolTips.join(" | ").toStdString();
  EXPECT_EQ(tray.menuTexts(), icon.texts());
  EXPECT_EQ(tray.toolTip(), icon.toolTip);
}

TEST_F(TrayTest, ShowQuitAndAClickOnTheIconAreTheApplicationsToAnswer) {
  RecordingTrayIcon icon;
  Tray tray(*model().indexing(), *model().folders(), icon);
  QSignalSpy show(&tray, &Tray::showRequested);
  QSignalSpy quit(&tray, &Tray::quitRequested);
  icon.choose("Show Quillmere");
  EXPECT_EQ(show.count(), 1);
  ASSERT_TRUE(icon.activation);
  icon.activation();
  EXPECT_EQ(show.count(), 2);
  EXPECT_EQ(quit.count(), 0);
  icon.choose("Quit");
  EXPECT_EQ(quit.count(), 1);
  EXPECT_EQ(icon.toolTip, "Quillmere");  // an empty library has nothing to say
}

}  // namespace
}  // namespace quillmere::test
