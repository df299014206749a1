// SPDX-License-Identifier: GPL-3.0-or-later
// The inotify watch over the folders' trees and the debounced reports of changed folders.
#include "scan/FolderWatcher.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <future>
#include <stdexcept>
#include <system_error>

namespace quillmere {

namespace {

constexpr std::uint32_t eventMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE |
                                    IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF |
                                    IN_MOVE_SELF;

std::string withoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// e equals r, or lies below it: /a/b matches /a/b/c but not /a/bc.
bool isUnder(const std::string& event, const std::string& root) {
  const std::string bare = withoutTrailingSlash(root);
  if (event == bare) return true;
  const std::string prefix = bare == "/" ? bare : bare + "/";
  return event.starts_with(prefix);
}

namespace fs = std::filesystem;

bool hiddenLastComponent(const std::string& path) {
  const std::string bare = withoutTrailingSlash(path);
  const auto slash = bare.rfind('/');
  const std::string last = slash == std::string::npos ? bare : bare.substr(slash + 1);
  return !last.empty() && last[0] == '.';
}

}  // namespace

FolderWatcher::FolderWatcher(OnChange onChange, double quietSeconds)
    : onChange_(std::move(onChange)), quietSeconds_(quietSeconds) {
  wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  thread_ = std::thread([this] { run(); });
}

FolderWatcher::~FolderWatcher() {
  {
    MutexLock lock(lock_);
    stopping_ = true;
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] auto written = ::write(wake_, &one, sizeof one);
  thread_.join();
  stopStream();
  ::close(wake_);
}

void FolderWatcher::watch(const std::map<std::int64_t, std::string>& paths) {
  post([this, paths] { apply(paths); });
}

void FolderWatcher::sync() {
  std::promise<void> done;
  auto future = done.get_future();
  post([&done] { done.set_value(); });
  future.wait();
}

std::size_t FolderWatcher::watchedDirectories() {
  std::promise<std::size_t> count;
  auto future = count.get_future();
  post([this, &count] { count.set_value(directories_.size()); });
  return future.get();
}

void FolderWatcher::post(std::function<void()> work) {
  {
    MutexLock lock(lock_);
    queue_.push_back(std::move(work));
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] auto written = ::write(wake_, &one, sizeof one);
}

void FolderWatcher::run() {
  pthread_setname_np(pthread_self(), "quillmere.watc");  // 15 characters at most
  for (;;) {
    pollfd fds[2] = {{wake_, POLLIN, 0}, {stream_, POLLIN, 0}};
    int timeout = -1;
    if (timer_) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(*timer_ - Clock::now()).count();
      timeout = static_cast<int>(std::max<long long>(0, left + 1));
    }
    const int ready = ::poll(fds, stream_ >= 0 ? 2 : 1, timeout);
    if (ready < 0 && errno != EINTR) break;

    if (fds[0].revents & POLLIN) {
      std::uint64_t count = 0;
      [[maybe_unused]] auto got = ::read(wake_, &count, sizeof count);
    }
    std::deque<std::function<void()>> work;
    {
      MutexLock lock(lock_);
      if (stopping_) return;
      work.swap(queue_);
    }
    for (auto& item : work) item();
    if (stream_ >= 0 && (fds[1].revents & POLLIN)) readEvents();
    if (timer_ && Clock::now() >= *timer_) report();
  }
}

void FolderWatcher::apply(const std::map<std::int64_t, std::string>& paths) {
  if (paths == paths_ && (stream_ >= 0 || paths.empty())) return;
  if (stream_ < 0 || paths.empty()) {
    paths_ = paths;
    stopStream();
    if (!paths_.empty()) startStream();
    return;
  }
  // The stream stays: what it holds is read under the old roots, the watches of the roots
  // that stay are kept, so no change made meanwhile is lost.
  readEvents();
  std::set<std::string> before;
  for (const auto& [id, path] : paths_) before.insert(withoutTrailingSlash(path));
  paths_ = paths;
  std::set<std::string> now;
  for (const auto& [id, path] : paths_) now.insert(withoutTrailingSlash(path));
  for (const std::string& root : before) {
    if (!now.contains(root)) dropTree(root);
  }
  for (auto parent = parents_.begin(); parent != parents_.end();) {
    const bool used = std::any_of(now.begin(), now.end(), [&](const std::string& root) {
      return fs::path(root).parent_path() == fs::path(parent->second);
    });
    if (used) {
      ++parent;
      continue;
    }
    if (!directories_.contains(parent->first)) ::inotify_rm_watch(stream_, parent->first);
    parent = parents_.erase(parent);
  }
  exhausted_ = false;  // the dropped watches may have made room
  std::vector<std::string> found;
  for (const std::string& root : now) {
    if (before.contains(root)) continue;
    watchParent(root);
    addTree(root, found);
  }
}

void FolderWatcher::startStream() {
  stream_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (stream_ < 0) return;  // no stream, no error: changes are found by the next scan
  exhausted_ = false;
  std::vector<std::string> found;
  for (const auto& [id, path] : paths_) {
    watchParent(withoutTrailingSlash(path));
    addTree(withoutTrailingSlash(path), found);
  }
}

void FolderWatcher::stopStream() {
  if (stream_ >= 0) ::close(stream_);
  stream_ = -1;
  directories_.clear();
  parents_.clear();
}

void FolderWatcher::watchParent(const std::string& root) {
  const std::string parent = fs::path(root).parent_path().string();
  if (parent.empty() || parent == root) return;
  // Added to whatever watch the parent already has as a directory of another root.
  const int wd = inotify_add_watch(
      stream_, parent.c_str(),
      IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ONLYDIR | IN_MASK_ADD);
  if (wd >= 0) parents_[wd] = parent;
}

void FolderWatcher::dropTree(const std::string& path) {
  for (auto it = directories_.begin(); it != directories_.end();) {
    const bool held = std::any_of(paths_.begin(), paths_.end(), [&](const auto& root) {
      return isUnder(it->second, root.second) && !isUnder(withoutTrailingSlash(root.second), path);
    });
    if (!isUnder(it->second, path) || held) {
      ++it;
      continue;
    }
    // A parent's watch is the same watch: it stays, watching names only.
    if (!parents_.contains(it->first)) ::inotify_rm_watch(stream_, it->first);
    it = directories_.erase(it);
  }
}

void FolderWatcher::rewatch(const std::string& root, std::vector<std::string>& changed) {
  dropTree(root);
  changed.push_back(root);
  struct stat info {};
  if (::lstat(root.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) addTree(root, changed);
}

// Watches directory and every directory below it (symbolic links not followed). found
// gets what the new directories already hold, which may predate their watches.
void FolderWatcher::addTree(const std::string& directory, std::vector<std::string>& found) {
  std::vector<std::string> stack = {directory};
  while (!stack.empty() && !exhausted_) {
    const std::string current = stack.back();
    stack.pop_back();
    const int wd =
        inotify_add_watch(stream_, current.c_str(), eventMask | IN_ONLYDIR | IN_DONT_FOLLOW);
    if (wd < 0) {
      // Out of watches: keep what is watched, without an error.
      if (errno == ENOSPC || errno == ENOMEM) exhausted_ = true;
      continue;
    }
    directories_[wd] = current;
    std::error_code error;
    for (fs::directory_iterator it(current, error), end; !error && it != end; it.increment(error)) {
      const std::string child = it->path().string();
      found.push_back(child);
      std::error_code typeError;
      if (it->is_directory(typeError) && !it->is_symlink(typeError)) stack.push_back(child);
    }
  }
}

void FolderWatcher::readEvents() {
  alignas(inotify_event) char buffer[64 * 1024];
  std::vector<std::string> changed;
  bool overflow = false;
  for (;;) {
    const ssize_t size = ::read(stream_, buffer, sizeof buffer);
    if (size <= 0) break;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= size;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->mask & IN_Q_OVERFLOW) {
        overflow = true;
        continue;
      }
      const bool named = event->len > 0 && event->name[0] != '\0';
      if (const auto parent = parents_.find(event->wd);
          parent != parents_.end() && named && (event->mask & IN_ISDIR)) {
        const std::string path = (fs::path(parent->second) / event->name).string();
        if (isRoot(path)) rewatch(path, changed);
      }
      const auto directory = directories_.find(event->wd);
      if (directory == directories_.end()) continue;
      std::string path = directory->second;
      if (named) path += "/" + std::string(event->name);
      if ((event->mask & (IN_MOVE_SELF | IN_DELETE_SELF)) && isRoot(path)) {
        // The root's directory went elsewhere: its watches would report it as the root.
        rewatch(path, changed);
        continue;
      }
      if (event->mask & IN_IGNORED) directories_.erase(directory);
      changed.push_back(path);
      if ((event->mask & IN_ISDIR) && (event->mask & (IN_CREATE | IN_MOVED_TO)))
        addTree(path, changed);
    }
  }
  if (overflow) {
    // Events were lost: every root may have changed, and new folders may lack watches.
    for (const auto& [id, path] : paths_) {
      changed.push_back(withoutTrailingSlash(path));
      std::vector<std::string> ignored;
      addTree(withoutTrailingSlash(path), ignored);
    }
  }
  if (!changed.empty()) received(changed);
}

bool FolderWatcher::isRoot(const std::string& path) const {
  return std::any_of(paths_.begin(), paths_.end(),
                     [&](const auto& root) { return withoutTrailingSlash(root.second) == path; });
}

void FolderWatcher::received(const std::vector<std::string>& paths) {
  bool relevant = false;
  for (const auto& event : paths) {
    if (hiddenLastComponent(event)) continue;
    for (const auto& [id, root] : paths_) {
      if (isUnder(event, root)) {
        pending_.insert(id);
        relevant = true;
      }
    }
  }
  // Each relevant batch pushes the report back; irrelevant ones leave it alone.
  if (relevant && !pending_.empty()) {
    timer_ = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                std::chrono::duration<double>(quietSeconds_));
  }
}

void FolderWatcher::report() {
  timer_.reset();
  if (pending_.empty()) return;
  std::set<std::int64_t> roots;
  roots.swap(pending_);
  if (onChange_) onChange_(roots);
}

}  // namespace quillmere
