// SPDX-License-Identifier: GPL-3.0-or-later
// Downloading an export from a stand-in of the model hub on the loopback address: resuming
// after a broken or stopped transfer, and each failure leaving no model directory behind.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <fstream>

#include "ModelWords.h"
#include "catalogue/DownloadStaging.h"
#include "catalogue/ModelDownload.h"
#include "support/HubServer.h"
#include "support/MountNamespace.h"
#include "support/TempDirectory.h"

namespace quillmere {
namespace {

const std::filesystem::path fixture =
    std::filesystem::path(QUILLMERE_PUBLISHED_MODELS_DIR) / "immich/ViT-B-16-SigLIP2__webli";
const std::string repository = "immich-app/ViT-B-16-SigLIP2__webli";

std::string slurp(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), {});
}

class ModelDownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(hubRoot / "immich-app");
    std::filesystem::create_directory_symlink(fixture,
                                              hubRoot / "immich-app/ViT-B-16-SigLIP2__webli");
    // An export whose files arrive whole but whose text encoder is no graph.
    std::filesystem::copy(fixture, hubRoot / "immich-app/Broken",
                          std::filesystem::copy_options::recursive);
    std::ofstream(hubRoot / "immich-app/Broken/textual/model.onnx", std::ios::trunc) << "no graph";
  }
  void failWith(const std::string& fault) {
    std::ofstream(hubRoot / (repository + ".fault")) << fault;
  }
  std::string runExpectingFailure(ModelDownload& download,
                                  const ModelDownload::Progress& progress = {}) {
    try {
      download.run(models, progress);
    } catch (const ModelDownload::Failure& failure) {
      return ModelWords::failure(failure);
    } catch (const ModelImport::Refusal& refusal) {
      return ModelWords::refusal(refusal);
    }
    ADD_FAILURE() << "the download did not fail";
    return {};
  }
  void expectWhole() {
    const auto directory = models / "ViT-B-16-SigLIP2__webli";
    EXPECT_EQ(slurp(directory / "ImageEncoder.onnx"), slurp(fixture / "visual/model.onnx"));
    EXPECT_EQ(slurp(directory / "TextEncoder.onnx"), slurp(fixture / "textual/model.onnx"));
    EXPECT_FALSE(std::filesystem::exists(models / ".downloads"));
  }

  test::TempDirectory temporary;
  std::filesystem::path hubRoot = temporary / "hub";
  std::filesystem::path models = temporary / "Models";
};

// A server that ignores the range sends the whole file again, which starts it over.
TEST_F(ModelDownloadTest, ABrokenTransferIsResumedToTheSameBytes) {
  for (const std::string fault : {"drop", "drop norange"}) {
    SCOPED_TRACE(fault);
    std::filesystem::remove_all(models);
    std::filesystem::remove(hubRoot / "requests.log");
    failWith(fault);
    test::HubServer hub(hubRoot);
    ModelDownload download(repository, hub.endpoint());
    EXPECT_NE(runExpectingFailure(download).find("broke off"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(models / "ViT-B-16-SigLIP2__webli"));
    download.run(models, {});
    // The second run asked only for what the first did not get.
    const auto size = std::filesystem::file_size(fixture / "textual/tokenizer.json");
    const auto log = slurp(hubRoot / "requests.log");
    EXPECT_NE(log.find("textual/tokenizer.json whole\ntextual/tokenizer.json bytes=" +
                       std::to_string(size * 4 / 10) + "-\n"),
              std::string::npos)
        << log;
    expectWhole();
  }
}

TEST_F(ModelDownloadTest, EveryFailureLeavesNoModelBehind) {
  struct Case {
    std::string fault;
    std::string endpoint;  // empty: the stand-in's
    std::string repository;
    std::string says;
    bool kept = false;  // what arrived waits for the next run
  };
  const std::vector<Case> cases = {
      {"corrupt", "", repository, "did not arrive intact", true},
      {"stop", "", repository, "The download stopped. Run the download again", true},
      {"missing", "", repository, "(404)", true},
      {"stall", "", repository, "stopped sending", true},
      {"endless", "", repository, "sent more than the 7.8 KB the hub lists for textual/tok", true},
      {"size 18446744073709551615", "", repository, "a size of 18446744073709551615 bytes"},
      {"size -5", "", repository, "with a size of -5 bytes, which no file"},
      {"", "", "immich-app/NoSuchExport", "has no public model immich-app/NoSuchExport"},
      {"", "", "immich-app/Broken", "The import failed"},
      {"", "http://127.0.0.1:9", repository, "Can't reach 127.0.0.1:9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    std::filesystem::remove_all(models);
    failWith(c.fault);
    test::HubServer hub(hubRoot);
    std::string message;
    try {
      ModelDownload download(c.repository, c.endpoint.empty() ? hub.endpoint() : c.endpoint, "",
                             std::chrono::seconds(2));
      // "stop": the caller stops the download (Ctrl-C, Cancel), here once bytes arrived.
      message = runExpectingFailure(
          download, [&](std::uint64_t done, std::uint64_t) { return c.fault != "stop" || !done; });
    } catch (const ModelDownload::Failure& failure) {
      message = ModelWords::failure(failure);
    }
    EXPECT_NE(message.find(c.says), std::string::npos) << message;
    EXPECT_FALSE(std::filesystem::exists(models / "ViT-B-16-SigLIP2__webli"));
    const auto partials = DownloadStaging::partials(models);
    ASSERT_EQ(partials.size(), c.kept ? 1u : 0u);
    EXPECT_EQ(std::filesystem::exists(models / ".downloads"), c.kept);
    if (!c.kept) continue;
    EXPECT_EQ(partials[0].repository + partials[0].variant, repository);
    const auto staged = models / ".downloads" / repository / "ViT-B-16-SigLIP2__webli";
    if (c.fault == "corrupt" || c.fault == "endless") {
      // The damaged file (the fixture's largest) is gone, so the next run fetches it whole.
      EXPECT_FALSE(std::filesystem::exists(staged / "textual/tokenizer.json"));
      EXPECT_TRUE(std::filesystem::exists(staged / "textual/model.onnx"));
      EXPECT_EQ(partials[0].bytes,
                std::filesystem::file_size(staged / "textual/model.onnx") +
                    std::filesystem::file_size(staged / "visual/model.onnx") +
                    std::filesystem::file_size(staged / "config.json") +
                    std::filesystem::file_size(staged / "visual/preprocess_cfg.json"));
    }
  }
}

// The application and quillmere-cli downloading one export at once: the second is refused
// while the first goes on to the end.
TEST_F(ModelDownloadTest, ASecondDownloadOfTheSameExportIsRefusedWhileTheFirstRuns) {
  test::HubServer hub(hubRoot);
  ModelDownload first(repository, hub.endpoint());
  std::string second;
  first.run(models, [&](std::uint64_t, std::uint64_t) {
    if (second.empty()) {
      ModelDownload again(repository, hub.endpoint());
      second = runExpectingFailure(again);
    }
    return true;
  });
  EXPECT_NE(second.find("is being downloaded already"), std::string::npos) << second;
  expectWhole();
}

TEST_F(ModelDownloadTest, AnEndpointIsHttpsOrTheLoopbackAddress) {
  for (const std::string refused :
       {"huggingface.co", "http://huggingface.co", "ftp://127.0.0.1",
        "http://127.0.0.1.example.com", "http://10.0.0.1:80/", "file:///tmp/hub", "https://"}) {
    SCOPED_TRACE(refused);
    EXPECT_THROW(ModelDownload(repository, refused), ModelDownload::Failure);
  }
  for (const auto& [given, taken] : {std::pair{"HTTPS://hub.example", "https://hub.example"},
                                     std::pair{"HTTP://127.0.0.2:8080", "http://127.0.0.2:8080"},
                                     std::pair{"http://[::1]:9/", "http://[::1]:9/"},
                                     std::pair{"http://LocalHost", "http://LocalHost"}}) {
    EXPECT_EQ(ModelDownload::checkedEndpoint(given), taken);
  }
}

// A disk too small is seen before anything is fetched; one that fills up on the way leaves
// nothing behind. As root, the test runs again alone in a mount namespace of its own, with
// the models on small tmpfs: the fixture needs about 16 KB by the room check and 7 pages.
TEST_F(ModelDownloadTest, AFullDiskLeavesNothingBehind) {
  switch (test::inMountNamespace("QUILLMERE_DOWNLOAD_MOUNT_NAMESPACE")) {
    case test::MountNamespace::unavailable:
      GTEST_SKIP() << "this machine lets no test make a mount namespace";
    case test::MountNamespace::ran:
      return;
    case test::MountNamespace::inside:
      break;
  }
  test::HubServer hub(hubRoot);
  for (const auto& [size, says] : {std::pair{"size=12k", "Not enough room"},
                                   std::pair{"size=20k", "No space left on device"}}) {
    std::filesystem::create_directories(models);
    ASSERT_EQ(::mount("tmpfs", models.c_str(), "tmpfs", 0, size), 0);
    ModelDownload download(repository, hub.endpoint());
    const auto message = runExpectingFailure(download);
    EXPECT_NE(message.find(says), std::string::npos) << message;
    EXPECT_TRUE(std::filesystem::is_empty(models));
    ASSERT_EQ(::umount(models.c_str()), 0);
  }
}

}  // namespace
}  // namespace quillmere
