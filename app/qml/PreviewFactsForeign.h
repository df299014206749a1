// SPDX-License-Identifier: GPL-3.0-or-later
// The preview's facts as the views see them: each preview makes its own and hands it the
// application's model.
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
