// SPDX-License-Identifier: GPL-3.0-or-later
// The status panel's model as the views see it, read from AppModel.indexing.
#pragma once

#include <QtQml/qqml.h>

#include "IndexingStatus.h"

namespace quillmere {

struct IndexingStatusForeign {
  Q_GADGET
  QML_FOREIGN(quillmere::IndexingStatus)
  QML_NAMED_ELEMENT(IndexingStatus)
  QML_UNCREATABLE("Read from AppModel.indexing")
};

}  // namespace quillmere
