// SPDX-License-Identifier: GPL-3.0-or-later
// One instance per user: a later launch hands its files and search text to the running one
// over the local socket and exits; its files are acted on as a drop onto the window, its text
// as if typed.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDataStream>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <cstring>
#include <fstream>
#include <iostream>

#include "AppFixture.h"
#include "AppProcess.h"
#include "FolderListModel.h"
#include "SingleInstance.h"

namespace quillmere::test {
namespace {

QString text(const std::filesystem::path& path) {
  return QString::fromStdString(path.string());
}

class SingleInstanceTest : public AppTest {
 protected:
  std::filesystem::path home() const { return temp->path() / "home"; }
  QString socket() const { return text(AppProcess::socketPath(home())); }

  // The second launch, with a library path of its own that exists only if it starts up.
  std::unique_ptr<AppProcess> launch() {
    return std::make_unique<AppProcess>(home(), secondLibrary(), modelDirectory());
  }
  std::filesystem::path secondLibrary() const { return temp->path() / "Second.sqlite"; }

  // Over an indexed folder of four photos, this process becomes the instance and a second
  // `quillmere ARGUMENTS` hands them to it and exits.
  void handOver(const QStringList& arguments) {
    const auto folder = makeFolder("photos");
    addPhotos(folder, 4);
    addIndexed(folder);
    auto second = launch();
    runningInstance = std::make_unique<SingleInstance>(socket());
    ASSERT_EQ(runningInstance->claim({}), SingleInstance::Role::first)
        << runningInstance->error().toStdString();
    QObject::connect(runningInstance.get(), &SingleInstance::requested, &model(), &AppModel::open);

    QElapsedTimer clock;
    clock.start();
    second->start(arguments);
    ASSERT_TRUE(second->waitForExit(answerWait)) << second->output().toStdString();
    const auto exitMS = clock.elapsed();
    EXPECT_EQ(second->process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->process().exitCode(), 0) << second->output().toStdString();
    // It never started an application of its own.
    EXPECT_FALSE(std::filesystem::exists(secondLibrary()));
    std::cout << "second launch exited after " << exitMS << " ms\n";
  }

  std::unique_ptr<SingleInstance> runningInstance;  // this process's instance, made by handOver

  bool hasFolder(const std::filesystem::path& folder) {
    for (const auto& known : model().folders()->list()->folders()) {
      if (std::filesystem::path(known.root.path) == std::filesystem::canonical(folder)) return true;
    }
    return false;
  }
};

TEST_F(SingleInstanceTest, SecondLaunchHandsItsPhotoToTheRunningInstanceAndExits) {
  QSignalSpy applied(model().search(), &SearchModel::searchApplied);
  ASSERT_NO_FATAL_FAILURE(handOver({text(temp->path() / "photos" / "p2.jpg")}));
  ASSERT_TRUE(waitFor(
      [&] { return model().search()->imageQueryName() == "p2.jpg" && !applied.isEmpty(); }));
  ASSERT_FALSE(model().search()->results()->results().empty());
  EXPECT_EQ(model().search()->results()->results().front().file.relPath, "p2.jpg");
}

TEST_F(SingleInstanceTest, SecondLaunchHandsItsSearchTextToTheRunningInstance) {
  ASSERT_NO_FATAL_FAILURE(handOver({"--search", "red car"}));
  ASSERT_TRUE(waitFor([&] { return model().search()->searchedQuery() == "red car"; }));
  EXPECT_EQ(model().search()->query(), "red car");
  EXPECT_FALSE(model().search()->results()->results().empty());
}

TEST_F(SingleInstanceTest, AHandedOverFolderIsAddedAndAVideoBecomesTheQuery) {
  const auto folder = makeFolder("clips");
  const auto clip = addClip(folder, "clip.mp4");
  const auto more = makeFolder("more");
  addPhotos(more, 2);
  addIndexed(folder);
  std::filesystem::create_directories(AppProcess::runtimeDirectory(home()));
  SingleInstance instance(socket());
  ASSERT_EQ(instance.claim({}), SingleInstance::Role::first);
  QObject::connect(&instance, &SingleInstance::requested, &model(), &AppModel::drop);

  SingleInstance later(socket());
  const SingleInstance::Request request{
      .files = {QUrl::fromLocalFile(text(more)), QUrl::fromLocalFile(text(clip))},
      .activationToken = "token"};
  ASSERT_EQ(later.claim(request), SingleInstance::Role::handedOver);
  ASSERT_TRUE(waitFor([&] { return hasFolder(more); }));
  // The clip is indexed: its stored frame nearest the middle is the query, with no model run.
  ASSERT_TRUE(waitFor([&] { return model().search()->imageQueryName() == "clip.mp4 at 0:02"; }))
      << model().search()->imageQueryName().toStdString();
}

TEST_F(SingleInstanceTest, ASocketLeftByAKilledInstanceIsReplaced) {
  // What a killed instance leaves: its socket file, bound but with nobody listening, and its
  // lock file, unlocked by the kernel as the process went.
  const auto runtime = AppProcess::runtimeDirectory(home());
  std::filesystem::create_directories(runtime);
  const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(stale, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const auto path = socket().toStdString();
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ::close(stale);
  { std::ofstream(path + ".lock") << "12345"; }
  ASSERT_TRUE(std::filesystem::exists(path));

  SingleInstance instance(socket());
  QElapsedTimer clock;
  clock.start();
  ASSERT_EQ(instance.claim({}), SingleInstance::Role::first);
  EXPECT_LT(clock.elapsed(), 1000);
  EXPECT_TRUE(instance.error().isEmpty()) << instance.error().toStdString();
  QSignalSpy requested(&instance, &SingleInstance::requested);

  // And it answers the next launch.
  const auto photo = QUrl::fromLocalFile(text(photos[0]));
  SingleInstance later(socket());
  ASSERT_EQ(later.claim({.files = {photo}}), SingleInstance::Role::handedOver)
      << later.error().toStdString();
  ASSERT_TRUE(requested.wait(answerWait));
  EXPECT_EQ(requested.front()[0].value<QList<QUrl>>(), QList<QUrl>{photo});
}

TEST_F(SingleInstanceTest, AStrayWriterIsDroppedAndTheNextLaunchAnswered) {
  std::filesystem::create_directories(AppProcess::runtimeDirectory(home()));
  SingleInstance instance(socket());
  ASSERT_EQ(instance.claim({}), SingleInstance::Role::first);
  QSignalSpy requested(&instance, &SingleInstance::requested);
  const auto stray = [](quint32 magic, quint32 count, quint32 textBytes, qsizetype sent) {
    QByteArray bytes;
    QDataStream(&bytes, QIODevice::WriteOnly) << magic << count << textBytes;
    return bytes + QByteArray(sent, 'x');
  };
  const std::vector<std::pair<const char*, QByteArray>> rows = {
      {"a list count near 2^32", stray(0x51524551, 0xfffffff0, 0, 0)},
      {"a text that keeps coming", stray(0x51524551, 0, 0x7ffffffe, 6 << 20)},
      {"a wrong first word", stray(0x51524550, 0, 0, 0) + QByteArray(4, 0)},
  };
  for (const auto& [what, bytes] : rows) {
    QLocalSocket writer;
    writer.connectToServer(socket());
    ASSERT_TRUE(writer.waitForConnected(answerWait)) << what;
    writer.write(bytes);
    // The instance hangs up on it, while it would go on writing.
    EXPECT_TRUE(waitFor([&] { return writer.state() == QLocalSocket::UnconnectedState; }, 10000))
        << what;
  }
  const auto photo = QUrl::fromLocalFile(text(photos[0]));
  ASSERT_EQ(SingleInstance(socket()).claim({.files = {photo}}), SingleInstance::Role::handedOver);
  ASSERT_TRUE(waitFor([&] { return !requested.isEmpty(); }));
  ASSERT_EQ(requested.size(), 1);
  EXPECT_EQ(requested.front()[0].value<QList<QUrl>>(), QList<QUrl>{photo});
}

TEST_F(SingleInstanceTest, OfTwoLaunchesAtOnceOneRunsAndTheOtherHandsOver) {
  auto one = launch();
  auto two = launch();
  one->start({text(photos[0])});
  two->start({text(photos[1])});
  // Whichever lost the race ends at once; the winner runs until killed.
  ASSERT_TRUE(waitFor([&] {
    return one->process().state() == QProcess::NotRunning ||
           two->process().state() == QProcess::NotRunning;
  })) << one->output().toStdString()
      << two->output().toStdString();
  auto& ended = one->process().state() == QProcess::NotRunning ? *one : *two;
  auto& running = &ended == one.get() ? *two : *one;
  EXPECT_EQ(ended.process().exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(ended.process().exitCode(), 0) << ended.output().toStdString();
  QTest::qWait(500);
  EXPECT_EQ(running.process().state(), QProcess::Running) << running.output().toStdString();
}

}  // namespace
}  // namespace quillmere::test
