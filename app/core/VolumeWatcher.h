// SPDX-License-Identifier: GPL-3.0-or-later
// The mount table (MountTable), kept up to date: watches the kernel's table and says when it
// changed, on the thread that made it.
#pragma once

#include <QObject>
#include <filesystem>

#include "platform/MountTable.h"

class QSocketNotifier;

namespace quillmere {

class VolumeWatcher : public QObject {
  Q_OBJECT

 public:
  // Reads the table below systemRoot ("/" on a real machine).
  explicit VolumeWatcher(std::filesystem::path systemRoot = "/", QObject* parent = nullptr);
  ~VolumeWatcher() override;

  // Reads the mount table again.
  void reload();
  const MountTable& table() const { return table_; }

 signals:
  // The mount table changed (a drive came, went or moved); table() is already re-read.
  void changed();

 private:
  std::string readTable();

  MountTable table_;
  int file_ = -1;  // the open mount table, polled for POLLPRI
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace quillmere
