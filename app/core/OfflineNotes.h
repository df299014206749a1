// SPDX-License-Identifier: GPL-3.0-or-later
// What the windows say of a file or folder whose drive is not connected: the rule (its folder
// is not reachable now; the drive is called by its stored name, else by a fallback) and the
// words of each place that says it. Empty while the folder is reachable.
#pragma once

#include <QCoreApplication>
#include <QString>
#include <optional>

#include "Folder.h"

namespace quillmere {

class OfflineNotes {
  Q_DECLARE_TR_FUNCTIONS(quillmere::OfflineNotes)

 public:
  // A result tile's tooltip: "On <drive> — not connected".
  static QString tile(bool online, const std::optional<Folder>& folder);
  // The preview's line: "On <drive> that isn't connected. Connect it to open this file."
  static QString preview(bool online, const std::optional<Folder>& folder);
  // A folder row's second line: "Not connected · <drive>".
  static QString folderRow(bool online, const QString& volumeName);

 private:
  // The stored name, when there is one.
  static QString volumeName(const std::optional<Folder>& folder);
};

}  // namespace quillmere
