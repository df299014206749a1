// SPDX-License-Identifier: GPL-3.0-or-later
// The model's types as the views see them: the application makes the one AppModel and
// hands it to the main window; the list models come from its properties.
#pragma once

#include <QtQml/qqml.h>

#include "Actions.h"
#include "AppModel.h"
#include "FolderListModel.h"
#include "IndexingStatus.h"
#include "ResultListModel.h"

namespace quillmere {

struct AppModelForeign {
  Q_GADGET
  QML_FOREIGN(quillmere::AppModel)
  QML_NAMED_ELEMENT(AppModel)
  QML_UNCREATABLE("The application makes the one model")
};

struct ActionsForeign {
  Q_GADGET
  QML_FOREIGN(quillmere::Actions)
  QML_NAMED_ELEMENT(Actions)
  QML_UNCREATABLE("Read from AppModel.actions")
};

struct IndexingStatusForeign {
  Q_GADGET
  QML_FOREIGN(quillmere::IndexingStatus)
  QML_NAMED_ELEMENT(IndexingStatus)
  QML_UNCREATABLE("Read from AppModel.indexing")
};

struct FolderListModelForeign {
  Q_GADGET
  QML_FOREIGN(quillmere::FolderListModel)
  QML_NAMED_ELEMENT(FolderListModel)
  QML_UNCREATABLE("Read from AppModel.folders")
};

struct ResultListModelForeign {
  Q_GADGET
  QML_FOREIGN(quillmere::ResultListModel)
  QML_NAMED_ELEMENT(ResultListModel)
  QML_UNCREATABLE("Read from AppModel.results")
};

}  // namespace quillmere
