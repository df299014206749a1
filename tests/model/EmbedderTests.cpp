// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <onnxruntime_cxx_api.h>
#include <stdlib.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <system_error>

#include "core/Float16.h"
#include "model/BPETokenizer.h"
#include "model/Embedder.h"
#include "model/ModelFixtures.h"
#include "model/RuntimeEnvironment.h"
#include "platform/ResourceLocator.h"
#include "platform/ThreadPriority.h"
#include "support/TempDirectory.h"

namespace quillmere {
namespace {

using test::copyFixture;
using test::solidPicture;

constexpr std::array<std::uint8_t, 3> red{220, 30, 20};
constexpr std::array<std::uint8_t, 3> blue{10, 40, 230};

std::vector<float> floats(const std::vector<Half>& halves) {
  return floatsFromHalves(halves);
}

void expectNear(const std::vector<float>& actual, const std::vector<float>& expected,
                float tolerance) {
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < actual.size(); ++i) {
    EXPECT_NEAR(actual[i], expected[i], tolerance) << "component " << i;
  }
}

std::string textOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& error) {
    return error.what();
  }
  return "no error";
}

std::string missingText(const std::string& name) {
  return "The search model is incomplete (" + name + " is missing). Reinstall Quillmere.";
}

const std::string outputText = "The search model returned no result.";

// Sets an environment variable for one test and restores it afterwards.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnvironment() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class EmbedderTest : public ::testing::Test {
 protected:
  std::filesystem::path model(const std::string& testCase,
                              std::initializer_list<std::string> leaveOut = {}) {
    std::filesystem::path into = dir / testCase;
    copyFixture(testCase, into, leaveOut);
    return into;
  }
  test::TempDirectory dir;
};
using EmbedderConcurrency = EmbedderTest;

TEST_F(EmbedderConcurrency, ConstructionReadsOnlyTheDescription) {
  // Every other file is absent: construction must not need them.
  std::filesystem::path only =
      model("tiny", {"ImageEncoder.onnx", "TextEncoder.onnx", "tokenizer.bin"});
  Embedder embedder(only);
  EXPECT_EQ(embedder.info().hf, "quillmere-test/tiny");
  EXPECT_EQ(embedder.info().dim, 8);
  EXPECT_EQ(embedder.info().imageSize, 32);
  EXPECT_EQ(embedder.directory(), only);

  EXPECT_EQ(textOf([&] { Embedder absent(dir / "nowhere"); }), missingText("model.json"));
  std::filesystem::create_directories(dir / "folder" / "model.json");
  EXPECT_EQ(textOf([&] { Embedder folder(dir / "folder"); }), missingText("model.json"));
  std::ofstream(only / "model.json") << "{\"hf\": \"x\"}";
  EXPECT_THROW(Embedder{only}, ModelInfo::DecodingError);
}

TEST_F(EmbedderConcurrency, DefaultDirectoryPrefersTheEnvironmentThenTheResources) {
  {
    ScopedEnvironment unset("QUILLMERE_MODEL_DIR", nullptr);
    EXPECT_EQ(Embedder::defaultDirectory(std::filesystem::path("/opt/q/share/quillmere")),
              std::filesystem::path("/opt/q/share/quillmere/Model"));
    EXPECT_EQ(Embedder::defaultDirectory(std::nullopt), std::nullopt);
    // The test executable lives in the build tree's tests/ and finds that tree's resources,
    // with the demo model the build made.
    auto found = Embedder::defaultDirectory();
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(std::filesystem::canonical(*found),
              std::filesystem::canonical(std::filesystem::path(QUILLMERE_RESOURCES_DIR) / "Model"));
    EXPECT_TRUE(std::filesystem::exists(*found / "model.json"));
    EXPECT_EQ(Embedder(*found).info().hf, "quillmere-demo");
  }
  {
    // Taken as it stands: not checked, and the resources are not tried.
    ScopedEnvironment set("QUILLMERE_MODEL_DIR", (dir / "empty").c_str());
    std::filesystem::create_directories(dir / "empty");
    EXPECT_EQ(Embedder::defaultDirectory(), dir / "empty");
    EXPECT_EQ(Embedder::defaultDirectory(std::filesystem::path("/opt")), dir / "empty");
    EXPECT_EQ(textOf([] { Embedder embedder(*Embedder::defaultDirectory()); }),
              missingText("model.json"));
  }
}

TEST_F(EmbedderConcurrency, ResourcesAreFoundBesideTheExecutable) {
  std::filesystem::create_directories(dir / "prefix" / "bin");
  EXPECT_EQ(ResourceLocator::resourcesDirectory(dir / "prefix" / "bin"), std::nullopt);
  std::filesystem::create_directories(dir / "prefix" / "share" / "quillmere");
  EXPECT_EQ(ResourceLocator::resourcesDirectory(dir / "prefix" / "bin"),
            dir / "prefix" / "share" / "quillmere");
  auto executable = ResourceLocator::executableDirectory();
  ASSERT_TRUE(executable.has_value());
  EXPECT_TRUE(std::filesystem::exists(*executable / "quillmere_model_tests"));
}

TEST_F(EmbedderConcurrency, TinyModelGivesTheExpectedVectorsInBatchOrder) {
  Embedder embedder(model("tiny"));
  std::vector<Picture> pictures{solidPicture(40, 30, red), solidPicture(7, 90, blue),
                                solidPicture(32, 32, red)};
  auto vectors = embedder.embed(pictures);
  ASSERT_EQ(vectors.size(), 3u);
  expectNear(floats(vectors[0]), test::tinyImageVector(red), 2e-3f);
  expectNear(floats(vectors[1]), test::tinyImageVector(blue), 2e-3f);
  EXPECT_EQ(vectors[2], vectors[0]);
  EXPECT_EQ(embedder.embed(std::span(pictures).subspan(1, 1)).front(), vectors[1]);
  // Stored as the exact binary16 rounding of the float result.
  std::vector<float> single = floats(vectors[0]);
  EXPECT_EQ(halvesFromFloats(single), vectors[0]);

  std::vector<std::int32_t> ids = embedder.tokenize("ABC ab");
  EXPECT_EQ(ids, (std::vector<std::int32_t>{7, 5, 6, 1, 0, 0, 0, 0}));
  expectNear(embedder.embed("ABC ab"), test::tinyTextVector(ids), 1e-6f);
  EXPECT_TRUE(embedder.embed(std::span<const Picture>{}).empty());
}

TEST_F(EmbedderConcurrency, MissingTextEncoderFailsTextUntilItIsPutInPlace) {
  std::filesystem::path path = model("tiny", {"TextEncoder.onnx"});
  Embedder embedder(path);
  EXPECT_EQ(textOf([&] { embedder.embed("abc"); }), missingText("TextEncoder"));
  EXPECT_EQ(textOf([&] { embedder.tokenize("abc"); }), missingText("TextEncoder"));
  try {
    embedder.prepareText();
    FAIL();
  } catch (const Embedder::Failure& failure) {
    EXPECT_EQ(failure.kind(), Embedder::Failure::Kind::missing);
    EXPECT_EQ(failure.name(), "TextEncoder");
  }
  // The image side is unaffected.
  EXPECT_EQ(embedder.embed(std::vector{solidPicture(8, 8, red)}).size(), 1u);
  std::filesystem::copy_file(test::fixtureDirectory("tiny") / "TextEncoder.onnx",
                             path / "TextEncoder.onnx");
  EXPECT_EQ(embedder.embed("abc").size(), 8u);
}

TEST_F(EmbedderConcurrency, MissingImageEncoderFailsEvenAnEmptyBatch) {
  std::filesystem::path path = model("tiny", {"ImageEncoder.onnx"});
  Embedder embedder(path);
  EXPECT_EQ(textOf([&] { embedder.embed(std::span<const Picture>{}); }),
            missingText("ImageEncoder"));
  EXPECT_EQ(textOf([&] { embedder.embed(std::vector{solidPicture(8, 8, red)}); }),
            missingText("ImageEncoder"));
  EXPECT_EQ(embedder.embed("abc").size(), 8u);
  std::filesystem::copy_file(test::fixtureDirectory("tiny") / "ImageEncoder.onnx",
                             path / "ImageEncoder.onnx");
  EXPECT_TRUE(embedder.embed(std::span<const Picture>{}).empty());
}

TEST_F(EmbedderConcurrency, MissingOrDamagedTokenizerIsTriedAgainNextTime) {
  std::filesystem::path path = model("tiny", {"tokenizer.bin"});
  Embedder embedder(path);
  EXPECT_THROW(embedder.embed("abc"), std::system_error);
  std::ofstream(path / "tokenizer.bin") << "QMBPE9";
  EXPECT_EQ(textOf([&] { embedder.embed("abc"); }), "magic");
  std::filesystem::copy_file(test::fixtureDirectory("tiny") / "tokenizer.bin",
                             path / "tokenizer.bin",
                             std::filesystem::copy_options::overwrite_existing);
  EXPECT_EQ(embedder.tokenize("abc").front(), 7);
}

TEST_F(EmbedderConcurrency, RuntimeErrorsPassThroughAndTheLoadIsTriedAgain) {
  std::filesystem::path path = model("tiny");
  std::ofstream(path / "TextEncoder.onnx", std::ios::trunc) << "not a model";
  Embedder embedder(path);
  try {
    embedder.embed("abc");
    FAIL();
  } catch (const Embedder::Failure&) {
    FAIL() << "the runtime's own error was expected";
  } catch (const std::exception& error) {
    EXPECT_STRNE(error.what(), "");
  }
  std::filesystem::copy_file(test::fixtureDirectory("tiny") / "TextEncoder.onnx",
                             path / "TextEncoder.onnx",
                             std::filesystem::copy_options::overwrite_existing);
  EXPECT_EQ(embedder.embed("abc").size(), 8u);
}

TEST_F(EmbedderConcurrency, AllZeroOutputIsAZeroVector) {
  Embedder embedder(model("zeros"));
  auto images = embedder.embed(std::vector{solidPicture(8, 8, red)});
  EXPECT_EQ(images.front(), std::vector<Half>(8, 0));
  EXPECT_EQ(embedder.embed("abc"), std::vector<float>(8, 0.0f));
}

TEST_F(EmbedderConcurrency, HalfDoubleAndWiderOutputsReadLikeFloats) {
  Embedder reference(model("tiny"));
  auto expectedImage = floats(reference.embed(std::vector{solidPicture(8, 8, blue)}).front());
  auto expectedText = reference.embed("ab c");
  for (const std::string testCase : {"half", "double", "int64", "batch"}) {
    SCOPED_TRACE(testCase);
    Embedder embedder(model(testCase));
    auto pictures = std::vector{solidPicture(8, 8, blue), solidPicture(9, 9, red)};
    auto vectors = embedder.embed(pictures);
    ASSERT_EQ(vectors.size(), 2u);
    expectNear(floats(vectors[0]), expectedImage, 2e-3f);
    expectNear(floats(vectors[1]), test::tinyImageVector(red), 2e-3f);
    expectNear(embedder.embed("ab c"), expectedText, testCase == "half" ? 2e-3f : 1e-6f);
  }
}

TEST_F(EmbedderConcurrency, MisnamedOrShortOutputIsNoResult) {
  for (const std::string testCase : {"misnamed", "short"}) {
    SCOPED_TRACE(testCase);
    Embedder embedder(model(testCase));
    try {
      embedder.embed("abc");
      FAIL();
    } catch (const Embedder::Failure& failure) {
      EXPECT_EQ(failure.kind(), Embedder::Failure::Kind::output);
      EXPECT_EQ(failure.what(), outputText);
    }
    EXPECT_EQ(textOf([&] { embedder.embed(std::vector{solidPicture(8, 8, red)}); }), outputText);
  }
}

TEST_F(EmbedderConcurrency, PicturesThatCannotBePreparedAreNoResult) {
  Embedder embedder(model("tiny"));
  Picture broken = solidPicture(8, 8, red);
  broken.rgb.pop_back();
  EXPECT_EQ(textOf([&] {
              embedder.embed(std::vector{solidPicture(8, 8, red), broken});
            }),
            outputText);
  EXPECT_EQ(textOf([&] { embedder.embed(std::vector{Picture{}}); }), outputText);
  EXPECT_EQ(embedder.embed(std::vector{solidPicture(8, 8, red)}).size(), 1u);
}

TEST_F(EmbedderConcurrency, CompiledFormIsPreferredOverTheSource) {
  // The .ort of the tiny encoders beside the .onnx of the all-zero ones.
  std::filesystem::path path = model("zeros");
  for (const std::string name : {"ImageEncoder", "TextEncoder"}) {
    Embedder::compile(test::fixtureDirectory("tiny") / (name + ".onnx"), path / (name + ".ort"));
  }
  Embedder embedder(path);
  expectNear(floats(embedder.embed(std::vector{solidPicture(8, 8, red)}).front()),
             test::tinyImageVector(red), 2e-3f);
  expectNear(embedder.embed("abc"), test::tinyTextVector(embedder.tokenize("abc")), 1e-6f);

  // A compiled form this runtime can't read gives way to the source.
  std::ofstream(path / "TextEncoder.ort") << "not a compiled graph";
  embedder.releaseIdle(std::chrono::seconds(0));
  EXPECT_EQ(embedder.embed("abc"), std::vector<float>(8, 0.0f));
  // A source that can't be compiled leaves nothing behind.
  EXPECT_THROW(Embedder::compile(path / "TextEncoder.ort", path / "Broken.ort"), Ort::Exception);
  EXPECT_FALSE(std::filesystem::exists(path / "Broken.ort"));
}

TEST_F(EmbedderConcurrency, ReleasedImagesLoadAgain) {
  std::filesystem::path path = model("tiny");
  Embedder embedder(path);
  auto first = embedder.embed(std::vector{solidPicture(8, 8, red)});
  embedder.releaseImages();
  embedder.releaseImages();
  EXPECT_EQ(embedder.embed(std::vector{solidPicture(8, 8, red)}), first);
  // Released means the file is opened again: now it is gone.
  embedder.releaseImages();
  std::filesystem::remove(path / "ImageEncoder.onnx");
  EXPECT_EQ(textOf([&] { embedder.embed(std::vector{solidPicture(8, 8, red)}); }),
            missingText("ImageEncoder"));
  EXPECT_EQ(embedder.embed("a").size(), 8u);

  // Idle sides go and come back the same; a side used since then stays.
  const auto text = embedder.embed("abc");
  embedder.releaseIdle(std::chrono::seconds(0));
  EXPECT_EQ(embedder.embed("abc"), text);
  std::filesystem::remove(path / "TextEncoder.onnx");
  embedder.releaseIdle(std::chrono::hours(1));
  EXPECT_EQ(embedder.embed("abc"), text);
}

// Threads of this process at background niceness, read from /proc.
int backgroundThreads() {
  int count = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream file(task.path() / "stat");
    std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int i = 0; i <= 16 && fields >> field; ++i) {
    }
    if (field == std::to_string(ThreadPriority::backgroundNiceness)) ++count;
  }
  return count;
}

TEST_F(EmbedderConcurrency, TheImageEncodersWorkersRunInTheBackgroundAndEndWithIt) {
  if (ThreadPriority::niceness() >= ThreadPriority::backgroundNiceness) {
    GTEST_SKIP() << "the tests run at background priority already";
  }
  Embedder embedder(model("tiny"), Embedder::ComputeUnits{3});
  const int before = backgroundThreads();
  embedder.embed(std::vector{solidPicture(8, 8, red)});
  EXPECT_EQ(backgroundThreads(), before + 2);  // the caller is the third
  EXPECT_LT(ThreadPriority::niceness(), ThreadPriority::backgroundNiceness);
  embedder.releaseImages();
  EXPECT_EQ(backgroundThreads(), before);
}

TEST_F(EmbedderConcurrency, ProbabilityUsesScaleAndBias) {
  Embedder embedder(model("tiny", {"ImageEncoder.onnx", "TextEncoder.onnx"}));
  EXPECT_FLOAT_EQ(embedder.probability(1.0f), 0.5f);
  EXPECT_FLOAT_EQ(embedder.probability(1.5f), 1.0f / (1.0f + std::exp(-5.0f)));
  EXPECT_FLOAT_EQ(embedder.probability(0.0f), 1.0f / (1.0f + std::exp(10.0f)));
  EXPECT_LT(embedder.probability(-1.0f), embedder.probability(0.5f));
}

}  // namespace
}  // namespace quillmere
