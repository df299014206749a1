// SPDX-License-Identifier: GPL-3.0-or-later
// The several-folder chooser as the views see it, read from AppModel.folders.picker.
#pragma once

#include <QtQml/qqml.h>

#include "FolderPicker.h"

namespace quillmere {

struct FolderPickerForeign {
  Q_GADGET
  QML_FOREIGN(quillmere::FolderPicker)
  QML_NAMED_ELEMENT(FolderPicker)
  QML_UNCREATABLE("Read from AppModel.folders.picker")
};

}  // namespace quillmere
