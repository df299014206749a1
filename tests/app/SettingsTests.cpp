// SPDX-License-Identifier: GPL-3.0-or-later
// The settings window's model over a real library: the size of its files, erasing what it
// learned (nothing of the thumbnails may stay in the file or its log), and the model in use;
// importing a published model export and choosing it; and the settings, first-run and
// duplicates views loading against a real model.
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtTest/QSignalSpy>
#include <QtTest/QTest>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "AppFixture.h"
#include "LibrarySettings.h"
#include "ModelDownloads.h"
#include "model/Embedder.h"
#include "model/ModelChoice.h"
#include "support/HubServer.h"
#include "support/MediaFactory.h"

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
      attach(*settings_);
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
  const auto empty = settings().libraryBytes();
  const auto folder = makeFolder("Photos");
  addPhotos(folder, 4);
  addIndexed(folder);
  EXPECT_GT(settings().libraryBytes(), empty) << "the size follows indexing";
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
  EXPECT_EQ(model().folders()->list()->rowCount(), 0);
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

// The choice in the Folders list is a folder, not a row: removing the one above leaves it on
// its folder, and Delete (as "−") removes the chosen one. Every control on it has a name.
TEST_F(SettingsTest, TheChosenFolderStaysChosenWhenAnotherGoes) {
  const std::int64_t ids[] = {addIndexed(makeFolder("A")), addIndexed(makeFolder("B")),
                              addIndexed(makeFolder("C"))};
  QQmlEngine engine;
  QQmlComponent component(&engine, QUrl("qrc:/Quillmere/qml/SettingsWindow.qml"));
  std::unique_ptr<QObject> object(
      component.createWithInitialProperties({{"app", QVariant::fromValue(&model())}}));
  auto* window = qobject_cast<QQuickWindow*>(object.get());
  ASSERT_TRUE(window) << component.errorString().toStdString();
  window->show();
  auto* list = window->findChild<QQuickItem*>("settingsFolders");
  list->forceActiveFocus();
  QTest::keyClick(window, Qt::Key_Down);
  EXPECT_EQ(object->property("selectedRoot").toLongLong(), ids[1]);
  model().folders()->removeFolder(ids[0]);
  EXPECT_EQ(object->property("selectedRoot").toLongLong(), ids[1]);
  EXPECT_EQ(list->property("currentIndex").toInt(), 0);
  QTest::keyClick(window, Qt::Key_Delete);
  EXPECT_EQ(model().folders()->list()->rowOf(ids[2]), 0);
  EXPECT_EQ(unnamedControls(window), "");
}

const std::filesystem::path immichExport =
    std::filesystem::path(QUILLMERE_PUBLISHED_MODELS_DIR) / "immich" / "ViT-B-16-SigLIP2__webli";

// The user's folders (where models are imported and the choice is stored) inside the test's
// own directory.
class ModelImportSettingsTest : public SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    for (const char* name :
         {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "QUILLMERE_MODEL_DIR", "HF_ENDPOINT"}) {
      saved_.emplace_back(name, qEnvironmentVariableIsSet(name), qgetenv(name));
    }
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString((temp->path() / "data").string()));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((temp->path() / "config").string()));
    qunsetenv("QUILLMERE_MODEL_DIR");
  }

  void TearDown() override {
    SettingsTest::TearDown();
    for (const auto& [name, was, value] : saved_) {
      if (was) {
        qputenv(name, value);
      } else {
        qunsetenv(name);
      }
    }
  }

  // Imports through the settings and waits for the answer.
  bool importNow(const std::filesystem::path& folder) {
    QSignalSpy imported(&settings(), &LibrarySettings::imported);
    QSignalSpy failed(&settings(), &LibrarySettings::importFailed);
    settings().importModel(QUrl::fromLocalFile(QString::fromStdString(folder.string())));
    EXPECT_TRUE(settings().importing());
    EXPECT_TRUE(QTest::qWaitFor([&] { return imported.count() + failed.count() > 0; }, answerWait));
    EXPECT_FALSE(settings().importing());
    return imported.count() == 1;
  }

  std::vector<std::tuple<const char*, bool, QByteArray>> saved_;
};
using ModelImportSettingsConcurrency = ModelImportSettingsTest;

TEST_F(ModelImportSettingsTest, AnImportedExportIsListedAndChosen) {
  model();
  EXPECT_TRUE(settings().importedModels().isEmpty());
  QSignalSpy imported(&settings(), &LibrarySettings::imported);
  ASSERT_TRUE(importNow(immichExport)) << settings().importError().toStdString();
  EXPECT_EQ(settings().importError(), "");
  EXPECT_TRUE(settings().importNotes().contains("no logit scale"))  // the user hears of defaults
      << settings().importNotes().toStdString();
  const QString name = imported.at(0).at(0).toString();
  const auto directory = ModelChoice::modelsDirectory() / name.toStdString();
  EXPECT_EQ(directory, temp->path() / "data" / "Quillmere" / "Models" / name.toStdString());
  EXPECT_TRUE(std::filesystem::exists(directory / "model.json"));
  EXPECT_EQ(settings().importedModels(), QStringList{name});
  // A folder whose model.json does not decode holds no model.
  std::filesystem::create_directory(directory.parent_path() / "stray");
  std::ofstream(directory.parent_path() / "stray" / "model.json") << "{";
  EXPECT_EQ(settings().importedModels(), QStringList{name});
  EXPECT_FALSE(ModelChoice::chosen()) << "chosen before the user agreed";

  ASSERT_TRUE(settings().useModel(name));
  ASSERT_TRUE(ModelChoice::chosen());
  EXPECT_EQ(*ModelChoice::chosen(), directory);
  EXPECT_EQ(Embedder::defaultDirectory(std::nullopt), directory) << "not used at the next start";
  EXPECT_TRUE(model().notice().contains("Quit and open Quillmere again"))
      << model().notice().toStdString();

  EXPECT_FALSE(importNow(immichExport)) << "imported twice under one name";
  EXPECT_TRUE(settings().importError().contains("already imported"));
  EXPECT_EQ(settings().importNotes(), "");
}

TEST_F(ModelImportSettingsTest, AFailedImportLeavesNothingBehind) {
  model();
  // The export with a text encoder that is no ONNX graph: the configuration reads, the
  // check of the written model fails.
  const auto broken = temp->path() / "broken";
  std::filesystem::copy(immichExport, broken, std::filesystem::copy_options::recursive);
  std::ofstream(broken / "textual" / "model.onnx", std::ios::trunc) << "not a graph";
  EXPECT_FALSE(importNow(broken));
  EXPECT_TRUE(settings().importError().startsWith("Couldn't import the model: "))
      << settings().importError().toStdString();
  const auto models = ModelChoice::modelsDirectory();
  EXPECT_TRUE(!std::filesystem::exists(models) || std::filesystem::is_empty(models));
  EXPECT_TRUE(settings().importedModels().isEmpty());
  EXPECT_FALSE(ModelChoice::chosen());
}

TEST_F(ModelImportSettingsConcurrency, ADownloadIsCancelledOrChosenAndTheNextStartAsksFirst) {
  const auto hubRoot = temp->path() / "hub";
  std::filesystem::create_directories(hubRoot / "immich-app");
  std::filesystem::create_directory_symlink(immichExport,
                                            hubRoot / "immich-app/ViT-B-16-SigLIP2__webli");
  std::ofstream(hubRoot / "immich-app/ViT-B-16-SigLIP2__webli.fault") << "stall";
  HubServer hub(hubRoot);
  qputenv("HF_ENDPOINT", QByteArray::fromStdString(hub.endpoint()));
  const auto photos = makeFolder("Photos");
  addPhotos(photos, 1);
  addIndexed(photos);
  auto& downloads = *model().downloads();
  ASSERT_TRUE(downloads.offered()) << "the demo model is in use";

  // A stalled download, cancelled from the application, leaves no model and no error.
  downloads.download(downloads.offerId());
  EXPECT_EQ(downloads.offerState(), ModelDownloads::Downloading);
  ASSERT_TRUE(waitFor([&] { return downloads.offerProgress() > 0; }));
  downloads.cancel();
  ASSERT_TRUE(waitFor([&] { return downloads.offerState() != ModelDownloads::Downloading; }));
  EXPECT_EQ(downloads.offerState(), ModelDownloads::Available) << downloads.offer().toStdString();
  EXPECT_FALSE(std::filesystem::exists(ModelChoice::modelsDirectory() / "ViT-B-16-SigLIP2__webli"));
  // What arrived is shown until removed.
  const auto partial = [&] {
    for (int row = 0; row < downloads.rowCount(); ++row) {
      const auto index = downloads.index(row);
      if (downloads.data(index, ModelDownloads::IdRole) == downloads.offerId())
        return downloads.data(index, ModelDownloads::PartialRole).toString();
    }
    return QString("no row");
  };
  EXPECT_TRUE(partial().startsWith("Partly downloaded: ")) << partial().toStdString();
  downloads.discard(downloads.offerId());
  EXPECT_EQ(partial(), "");
  EXPECT_FALSE(std::filesystem::exists(ModelChoice::modelsDirectory() / ".downloads"));

  std::filesystem::remove(hubRoot / "immich-app/ViT-B-16-SigLIP2__webli.fault");
  QSignalSpy downloaded(&downloads, &ModelDownloads::downloaded);
  downloads.download(downloads.offerId());
  ASSERT_TRUE(waitFor([&] { return downloaded.count() == 1; })) << downloads.offer().toStdString();
  const QString folder = downloaded.at(0).at(0).toString();
  EXPECT_EQ(folder, "ViT-B-16-SigLIP2__webli");
  EXPECT_EQ(downloads.offerState(), ModelDownloads::Downloaded);
  EXPECT_FALSE(ModelChoice::chosen()) << "chosen before the user agreed";
  ASSERT_TRUE(settings().useModel(folder));
  downloads.refresh();
  EXPECT_FALSE(downloads.offered());

  // The next start uses it, and asks before the library is indexed again.
  settings_.reset();
  model_.reset();
  auto next = setup();
  next.modelDirectory.reset();
  const AppModel reopened(next);
  EXPECT_FALSE(reopened.ready());
  EXPECT_TRUE(reopened.modelChange().contains("ViT-B-16-SigLIP2__webli"))
      << reopened.modelChange().toStdString();
}

// Cancel once every byte has arrived stops the checks and the import of the download (here
// a float16 text encoder of 96 MB to widen): no model, no question to use it, nothing left.
TEST_F(ModelImportSettingsTest, ACancelDuringTheImportOfADownloadLeavesNoModel) {
  const auto repository = temp->path() / "hub/immich-app/ViT-B-16-SigLIP2__webli";
  std::filesystem::create_directories(repository.parent_path());
  std::filesystem::copy(immichExport, repository, std::filesystem::copy_options::recursive);
  writeHalfTextGraph(repository / "textual/model.onnx", "'text', 6, 1, ['embedding']", 6'000'000);
  HubServer hub(temp->path() / "hub");
  qputenv("HF_ENDPOINT", QByteArray::fromStdString(hub.endpoint()));
  auto& downloads = *model().downloads();
  QSignalSpy downloaded(&downloads, &ModelDownloads::downloaded);
  downloads.download(downloads.offerId());
  ASSERT_TRUE(waitFor([&] {
    return downloads.offerProgress() == 1.0 ||
           downloads.offerState() != ModelDownloads::Downloading;
  }));
  downloads.cancel();
  ASSERT_TRUE(waitFor([&] { return downloads.offerState() != ModelDownloads::Downloading; }));
  EXPECT_EQ(downloads.offerState(), ModelDownloads::Available) << downloads.offer().toStdString();
  EXPECT_EQ(downloaded.count(), 0);
  const std::filesystem::directory_iterator models(ModelChoice::modelsDirectory());
  EXPECT_EQ(std::distance(models, {}), 1) << "only .downloads, which a next run resumes from";
}

}  // namespace
}  // namespace quillmere::test
