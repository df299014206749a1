// SPDX-License-Identifier: GPL-3.0-or-later
// VolumeWatcher: polling the kernel's mount table for changes.
#include "VolumeWatcher.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

namespace quillmere {

VolumeWatcher::VolumeWatcher(std::filesystem::path systemRoot, QObject* parent)
    : QObject(parent), table_(std::move(systemRoot)) {
  file_ = ::open(table_.tablePath().c_str(), O_RDONLY | O_CLOEXEC);
  if (file_ >= 0) {
    // The kernel flags a change of the table as an exceptional condition (POLLPRI).
    notifier_ = new QSocketNotifier(file_, QSocketNotifier::Exception, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
      reload();
      emit changed();
    });
  }
  reload();
}

VolumeWatcher::~VolumeWatcher() {
  delete notifier_;
  if (file_ >= 0) ::close(file_);
}

std::string VolumeWatcher::readTable() {
  std::string text;
  // Reading the table from its start also acknowledges the change that woke us.
  ::lseek(file_, 0, SEEK_SET);
  char buffer[8192];
  for (;;) {
    const auto got = ::read(file_, buffer, sizeof buffer);
    if (got <= 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  return text;
}

void VolumeWatcher::reload() {
  if (file_ >= 0) {
    table_.load(readTable());
  } else {
    table_.reload();
  }
}

}  // namespace quillmere
