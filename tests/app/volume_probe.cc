// SPDX-License-Identifier: GPL-3.0-or-later
// Run in a mount namespace of its own (unshare -m): mounts a small tmpfs at the given
// directory and unmounts it again, and checks that a VolumeWatcher over the real
// /proc/self/mountinfo is told of each change and sees the table as it is.
#include <sys/mount.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <string>

#include "VolumeWatcher.h"

namespace {

// Runs the event loop until the watcher has spoken, or five seconds have passed.
bool waitForChange(int& changes) {
  QElapsedTimer waited;
  waited.start();
  while (changes == 0 && waited.elapsed() < 5000) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
  }
  const bool changed = changes > 0;
  changes = 0;
  return changed;
}

int fail(const char* what) {
  std::fprintf(stderr, "volume probe: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  if (argc != 2) return fail("usage: volume_probe DIRECTORY");
  const std::string place = argv[1];
  quillmere::VolumeWatcher volumes;
  int changes = 0;
  QObject::connect(&volumes, &quillmere::VolumeWatcher::changed, [&changes] { ++changes; });

  // Nothing changes yet: nothing may be reported.
  QElapsedTimer quiet;
  quiet.start();
  while (quiet.elapsed() < 300) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  if (changes != 0) return fail("a change reported while the table stayed the same");

  if (::mount("quillmere-probe", place.c_str(), "tmpfs", 0, "size=1m") != 0) {
    return fail("mount failed");
  }
  if (!waitForChange(changes)) return fail("no change reported after mounting");
  const auto mounted = volumes.table().mountOf(place + "/Photos");
  if (!mounted || mounted->mountPoint != place || mounted->source != "quillmere-probe") {
    return fail("the new mount is not in the table");
  }
  if (::umount(place.c_str()) != 0) return fail("umount failed");
  if (!waitForChange(changes)) return fail("no change reported after unmounting");
  const auto after = volumes.table().mountOf(place + "/Photos");
  if (after && after->mountPoint == place) return fail("the mount is still in the table");
  std::puts("ok");
  return 0;
}
