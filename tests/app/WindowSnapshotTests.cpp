// The application itself, started as a user would on a library with photos in it: it types
// a query, shows the results and renders its window to a PNG that is checked not blank.
#include <QImage>
#include <set>

#include "AppFixture.h"
#include "support/MediaFactory.h"

namespace quillmere::test {
namespace {

TEST_F(AppTest, TheWindowShowsTheResultsOfATypedQuery) {
  const auto folder = makeFolder("Photos");
  addPhotos(folder, 6);
  addIndexed(folder);
  model_.reset();
  const auto shots = temp->path() / "shots";
  runCommand("QT_QPA_PLATFORM=offscreen QUILLMERE_LIBRARY=" +
             shellQuoted(temp->path() / "Library.sqlite") + " QUILLMERE_MODEL_DIR=" +
             shellQuoted(modelDirectory()) + " " + shellQuoted(QUILLMERE_APP_EXECUTABLE) +
             " --snapshot-windows " + shellQuoted(shots) + " --query red");
  const QImage shot(QString::fromStdString((shots / "main.png").string()));
  ASSERT_FALSE(shot.isNull());
  EXPECT_GE(shot.width(), 400);
  EXPECT_GE(shot.height(), 300);
  // Text, a highlighted row and the background: far more than a blank window's few colours.
  std::set<QRgb> colours;
  for (int y = 0; y < shot.height(); y += 2) {
    for (int x = 0; x < shot.width(); x += 2) colours.insert(shot.pixel(x, y));
  }
  EXPECT_GT(colours.size(), 20u);
}

}  // namespace
}  // namespace quillmere::test
