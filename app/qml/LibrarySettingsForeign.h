// SPDX-License-Identifier: GPL-3.0-or-later
// The settings window's model as the views see it: each window makes its own and hands it
// the application's model.
#pragma once

#include <QtQml/qqml.h>

#include "LibrarySettings.h"

namespace quillmere {

struct LibrarySettingsForeign {
  Q_GADGET
  QML_FOREIGN(quillmere::LibrarySettings)
  QML_NAMED_ELEMENT(LibrarySettings)
};

}  // namespace quillmere
