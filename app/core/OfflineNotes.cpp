// SPDX-License-Identifier: GPL-3.0-or-later
// OfflineNotes: the drive a note names, and its words in each place.
#include "OfflineNotes.h"

namespace quillmere {

QString OfflineNotes::volumeName(const std::optional<Folder>& folder) {
  return folder && folder->root.volumeName ? QString::fromStdString(*folder->root.volumeName)
                                           : QString();
}

QString OfflineNotes::tile(bool online, const std::optional<Folder>& folder) {
  if (online) return {};
  const QString volume = volumeName(folder);
  return tr("On %1 — not connected").arg(volume.isEmpty() ? tr("a drive") : volume);
}

QString OfflineNotes::preview(bool online, const std::optional<Folder>& folder) {
  if (online) return {};
  const QString volume = volumeName(folder);
  return tr("On %1 that isn't connected. Connect it to open this file.")
      .arg(volume.isEmpty() ? tr("a drive") : volume);
}

QString OfflineNotes::folderRow(bool online, const QString& volumeName) {
  if (online) return {};
  return tr("Not connected · %1").arg(volumeName.isEmpty() ? tr("drive") : volumeName);
}

}  // namespace quillmere
