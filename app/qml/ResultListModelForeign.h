// SPDX-License-Identifier: GPL-3.0-or-later
// The result list as the views see it, read from AppModel.search.results.
#pragma once

#include <QtQml/qqml.h>

#include "ResultListModel.h"

namespace quillmere {

struct ResultListModelForeign {
  Q_GADGET
  QML_FOREIGN(quillmere::ResultListModel)
  QML_NAMED_ELEMENT(ResultListModel)
  QML_UNCREATABLE("Read from AppModel.search.results")
};

}  // namespace quillmere
