// SPDX-License-Identifier: GPL-3.0-or-later
// The duplicates window's model as the views see it: each window makes its own and hands it
// the application's model.
#pragma once

#include <QtQml/qqml.h>

#include "DuplicatesModel.h"

namespace quillmere {

struct DuplicatesModelForeign {
  Q_GADGET
  QML_FOREIGN(quillmere::DuplicatesModel)
  QML_NAMED_ELEMENT(DuplicatesModel)
};

}  // namespace quillmere
