// SPDX-License-Identifier: GPL-3.0-or-later
// The folders and totals as the views see them, read from AppModel.folders.
#pragma once

#include <QtQml/qqml.h>

#include "FolderModel.h"

namespace quillmere {

struct FolderModelForeign {
  Q_GADGET
  QML_FOREIGN(quillmere::FolderModel)
  QML_NAMED_ELEMENT(FolderModel)
  QML_UNCREATABLE("Read from AppModel.folders")
};

}  // namespace quillmere
