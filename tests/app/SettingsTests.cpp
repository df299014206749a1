// The settings window's model over a real library: the size of its files, erasing what it
// learned (nothing of the thumbnails may stay in the file or its log), and the model in use;
// and the settings, first-run and duplicates views loading against a real model.
#include <QQmlComponent>
#include <QQmlEngine>
#include <QtTest/QSignalSpy>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "AppFixture.h"
#include "LibrarySettings.h"

namespace quillmere::test {
namespace {

std::string contents(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class SettingsTest : public AppTest {
 protected:
  LibrarySettings& settings() {
    if (!settings_) {
      settings_ = std::make_unique<LibrarySettings>();
      settings_->setApp(&model());
    }
    return *settings_;
  }

  std::filesystem::path library() const { return temp->path() / "Library.sqlite"; }

  // A stretch from the middle of every stored thumbnail.
  std::vector<std::string> thumbnailPieces() {
    std::vector<std::string> pieces;
    for (const auto& file : model().library()->allFiles()) {
      for (const auto& [row, vector] : model().library()->vectors().vectors(file.id)) {
        const auto thumbnail = model().library()->thumbnail(row.frameID);
        if (!thumbnail || thumbnail->size() < 400) continue;
        const auto middle = thumbnail->begin() + static_cast<std::ptrdiff_t>(thumbnail->size() / 2);
        pieces.emplace_back(middle, middle + 64);
      }
    }
    return pieces;
  }

  void TearDown() override {
    settings_.reset();
    AppTest::TearDown();
  }

  std::unique_ptr<LibrarySettings> settings_;
};

TEST_F(SettingsTest, TheLibraryCountsItsFileWithItsLogs) {
  EXPECT_EQ(LibrarySettings::bytesOnDisk(temp->path() / "none.sqlite"), 0);
  const auto folder = makeFolder("Photos");
  addPhotos(folder, 4);
  addIndexed(folder);
  settings().refresh();
  std::int64_t sum = 0;
  for (const char* suffix : {"", "-wal", "-shm"}) {
    std::error_code error;
    const auto size = std::filesystem::file_size(library().string() + suffix, error);
    if (!error) sum += static_cast<std::int64_t>(size);
  }
  EXPECT_GT(std::filesystem::file_size(library().string() + "-wal"), 0u) << "in write-ahead mode";
  EXPECT_EQ(settings().libraryBytes(), sum);
  EXPECT_EQ(settings().libraryPath().toStdString(), library().string());
}

TEST_F(SettingsTest, ErasingForgetsEveryFolderAndLeavesNoThumbnailInTheFiles) {
  const auto a = makeFolder("A");
  const auto b = makeFolder("B");
  addPhotos(a, 8, "a");
  addPhotos(b, 8, "b");
  addIndexed(a);
  addIndexed(b);
  const auto pieces = thumbnailPieces();
  ASSERT_GE(pieces.size(), 8u);
  settings().refresh();
  const auto before = settings().libraryBytes();

  QSignalSpy erased(&settings(), &LibrarySettings::erased);
  settings().erase();
  ASSERT_EQ(erased.count(), 1);
  waitIdle();
  EXPECT_EQ(model().folders()->rowCount(), 0);
  EXPECT_TRUE(model().library()->allFiles().empty());
  EXPECT_LT(settings().libraryBytes(), before / 2) << "the file keeps its size";
  const std::string file = contents(library());
  const std::string log = contents(library().string() + "-wal");
  for (const auto& piece : pieces) {
    EXPECT_EQ(file.find(piece), std::string::npos) << "a thumbnail stays in the library file";
    EXPECT_EQ(log.find(piece), std::string::npos) << "a thumbnail stays in the log";
  }
  EXPECT_EQ(model().notice(), "Quillmere forgot its folders. The library now takes " +
                                  QLocale().formattedDataSize(settings().libraryBytes(), 1,
                                                              QLocale::DataSizeSIFormat) +
                                  ".");
}

TEST_F(SettingsTest, ErasingWithNoFoldersDoesNothing) {
  model();
  settings().refresh();
  const auto bytes = settings().libraryBytes();
  const auto written = std::filesystem::last_write_time(library());
  QSignalSpy erased(&settings(), &LibrarySettings::erased);
  settings().erase();
  EXPECT_EQ(erased.count(), 0);
  EXPECT_EQ(model().notice(), "");
  settings().refresh();
  EXPECT_EQ(settings().libraryBytes(), bytes);
  EXPECT_EQ(std::filesystem::last_write_time(library()), written);
}

TEST_F(SettingsTest, TheDemoModelSaysItKnowsColoursAndLightOnly) {
  EXPECT_TRUE(settings().modelName().startsWith("Demo model"))
      << settings().modelName().toStdString();
  EXPECT_TRUE(settings().modelUnderstands().contains("colours and light only"));
  EXPECT_FALSE(settings().modelHelp().isEmpty());
}

// Each view loads against a real model, with no error and nothing unresolved.
TEST_F(SettingsTest, TheViewsLoad) {
  const auto folder = makeFolder("Photos");
  addPhotos(folder, 2);
  addIndexed(folder);
  for (const char* view : {"SettingsWindow", "DuplicatesWindow", "FirstRunView"}) {
    QQmlEngine engine;
    QQmlComponent component(&engine, QUrl(QStringLiteral("qrc:/Quillmere/qml/%1.qml").arg(view)));
    std::unique_ptr<QObject> object(
        component.createWithInitialProperties({{"app", QVariant::fromValue(&model())}}));
    ASSERT_TRUE(object) << view << ": " << component.errorString().toStdString();
    EXPECT_EQ(object->property("app").value<AppModel*>(), &model()) << view;
  }
}

}  // namespace
}  // namespace quillmere::test
