// SPDX-License-Identifier: GPL-3.0-or-later
// The file actions as the views see them, read from AppModel.actions.
#pragma once

#include <QtQml/qqml.h>

#include "Actions.h"

namespace quillmere {

struct ActionsForeign {
  Q_GADGET
  QML_FOREIGN(quillmere::Actions)
  QML_NAMED_ELEMENT(Actions)
  QML_UNCREATABLE("Read from AppModel.actions")
};

}  // namespace quillmere
