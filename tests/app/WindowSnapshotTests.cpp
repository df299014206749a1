// SPDX-License-Identifier: GPL-3.0-or-later
// The application's snapshot mode, started as ./test starts it: it builds its own sample
// library, renders every state of every window in the light and the dark palette, and each
// picture is checked to exist at the window's size and not to be blank.
#include <QFile>
#include <QImage>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "AppFixture.h"
#include "Snapshots.h"
#include "support/MediaFactory.h"

namespace quillmere::test {
namespace {

TEST_F(AppTest, TheSnapshotModeRendersEveryWindowStateInBothPalettes) {
  const auto shots = temp->path() / "shots";
  // With whole stacks the leak check tells Qt's own leftovers from ours by their callers.
  const std::string wholeStacks =
      std::string(QUILLMERE_SOURCE_DIR) + "/tests/lsan-whole-stacks.supp";
  // Through the suite's own wrapper: run once more only when LeakSanitizer's tracer itself
  // faulted at exit, never after a leak report.
  runCommand(
      shellQuoted(std::string(QUILLMERE_SOURCE_DIR) + "/tests/support/rerun-on-tracer-crash") +
      " env ASAN_OPTIONS=\"$ASAN_OPTIONS:fast_unwind_on_malloc=0\" LSAN_OPTIONS=suppressions=" +
      shellQuoted(wholeStacks) + " QT_QPA_PLATFORM=offscreen QUILLMERE_LIBRARY=" +
      shellQuoted(temp->path() / "Unused.sqlite") +
      " QUILLMERE_MODEL_DIR=" + shellQuoted(modelDirectory()) + " " +
      shellQuoted(QUILLMERE_APP_EXECUTABLE) + " --snapshot-windows " + shellQuoted(shots));
  // The pictures written are exactly the states listed, each in both palettes.
  std::set<std::string> written;
  for (const auto& entry : std::filesystem::directory_iterator(shots)) {
    written.insert(entry.path().filename().string());
  }
  std::set<std::string> listed;
  for (const auto& state : Snapshots::stateNames()) {
    for (const char* palette : {"", "-dark"}) listed.insert(state.toStdString() + palette + ".png");
  }
  EXPECT_EQ(written, listed);
  // Each state is a picture of its own: two alike means one state was never set up.
  std::map<QByteArray, std::string> seen;
  for (const auto& state : Snapshots::stateNames()) {
    for (const char* palette : {"", "-dark"}) {
      const auto name = state.toStdString() + palette + ".png";
      const QImage shot(QString::fromStdString((shots / name).string()));
      ASSERT_FALSE(shot.isNull()) << name;
      EXPECT_EQ(shot.width(), Snapshots::width) << name;
      EXPECT_EQ(shot.height(), Snapshots::height) << name;
      // Text, symbols and pictures on the background: far more than a blank window's few.
      std::set<QRgb> colours;
      for (int y = 0; y < shot.height(); y += 3) {
        for (int x = 0; x < shot.width(); x += 3) colours.insert(shot.pixel(x, y));
      }
      EXPECT_GT(colours.size(), 20u) << name;
      QFile file(QString::fromStdString((shots / name).string()));
      ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name;
      const auto [alike, fresh] = seen.emplace(file.readAll(), name);
      EXPECT_TRUE(fresh) << name << " is the same picture as " << alike->second;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(temp->path() / "Unused.sqlite"));
}

}  // namespace
}  // namespace quillmere::test
