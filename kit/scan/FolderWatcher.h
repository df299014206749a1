// SPDX-License-Identifier: GPL-3.0-or-later
// Listens for file changes under the watched roots (inotify, recursively) and reports,
// after a quiet period, which roots saw changes. It never says what changed, only where.
// Watches follow directories, not paths: each root's parent is watched too, so that a root
// moved away or deleted stops being watched and a directory that takes its place is.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/ThreadAnnotations.h"

namespace quillmere {

class FolderWatcher {
 public:
  using OnChange = std::function<void(const std::set<std::int64_t>&)>;

  // onChange is called on the watcher's own thread ("quillmere.watcher"), never on the
  // caller's; it must not call back into the watcher synchronously.
  explicit FolderWatcher(OnChange onChange, double quietSeconds = 3.0);
  // Stops the thread and releases every watch. Not to be called from onChange.
  ~FolderWatcher();
  FolderWatcher(const FolderWatcher&) = delete;
  FolderWatcher& operator=(const FolderWatcher&) = delete;

  // Root id -> folder path. Queued; returns at once. The watches of roots that stay are
  // kept, with the changes not yet reported; an empty map stops them.
  void watch(const std::map<std::int64_t, std::string>& paths);

  // Returns once everything queued before the call has run (watches are in place).
  void sync();

  // Directories being watched, across all roots (for tests and diagnostics).
  std::size_t watchedDirectories();

 private:
  using Clock = std::chrono::steady_clock;

  void post(std::function<void()> work);
  void run();
  // On the watcher thread only.
  void apply(const std::map<std::int64_t, std::string>& paths);
  void startStream();
  void stopStream();
  void addTree(const std::string& directory, std::vector<std::string>& found);
  // Watches the root's parent for the root's own name coming and going.
  void watchParent(const std::string& root);
  // Drops the watches of directories at or under path that no other root holds.
  void dropTree(const std::string& path);
  // The root at path was moved away, deleted or made anew: its old watches go, and the
  // directory now at path (if any) is watched from scratch.
  void rewatch(const std::string& root, std::vector<std::string>& changed);
  bool isRoot(const std::string& path) const;  // a watched root's path, without a trailing /
  void readEvents();
  void received(const std::vector<std::string>& paths);
  void report();

  const OnChange onChange_;
  const double quietSeconds_;

  Mutex lock_;
  std::deque<std::function<void()>> queue_ GUARDED_BY(lock_);
  bool stopping_ GUARDED_BY(lock_) = false;
  int wake_ = -1;  // eventfd that wakes the thread for queued work

  // Touched only on the watcher thread.
  std::map<std::int64_t, std::string> paths_;
  std::set<std::int64_t> pending_;
  std::optional<Clock::time_point> timer_;
  int stream_ = -1;                         // inotify descriptor, or -1
  std::map<int, std::string> directories_;  // watch descriptor -> directory path
  std::map<int, std::string> parents_;      // watch descriptor -> a parent of roots
  bool exhausted_ = false;                  // the system's watch limit was reached

  std::thread thread_;
};

}  // namespace quillmere
