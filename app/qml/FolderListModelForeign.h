// SPDX-License-Identifier: GPL-3.0-or-later
// The folder list as the views see it, read from AppModel.folders.list.
#pragma once

#include <QtQml/qqml.h>

#include "FolderListModel.h"

namespace quillmere {

struct FolderListModelForeign {
  Q_GADGET
  QML_FOREIGN(quillmere::FolderListModel)
  QML_NAMED_ELEMENT(FolderListModel)
  QML_UNCREATABLE("Read from AppModel.folders.list")
};

}  // namespace quillmere
