// SPDX-License-Identifier: GPL-3.0-or-later
// The preview's C++ helpers as the views see them.
#pragma once

#include <QtQml/qqml.h>

#include "PreviewFacts.h"

namespace quillmere {

struct PreviewFactsForeign {
  Q_GADGET
  QML_FOREIGN(quillmere::PreviewFacts)
  QML_NAMED_ELEMENT(PreviewFacts)
};

}  // namespace quillmere
