// SPDX-License-Identifier: GPL-3.0-or-later
// The search as the views see it, read from AppModel.search.
#pragma once

#include <QtQml/qqml.h>

#include "SearchModel.h"

namespace quillmere {

struct SearchModelForeign {
  Q_GADGET
  QML_FOREIGN(quillmere::SearchModel)
  QML_NAMED_ELEMENT(SearchModel)
  QML_UNCREATABLE("Read from AppModel.search")
};

}  // namespace quillmere
