// SPDX-License-Identifier: GPL-3.0-or-later
// The model's types as the views see them: the application makes the one AppModel and
// hands it to the main window; the search, the folders and their lists come from its
// properties.
#pragma once

#include <QtQml/qqml.h>

#include "Actions.h"
#include "AppModel.h"
#include "FolderListModel.h"
#include "FolderModel.h"
#include "IndexingStatus.h"
#include "ResultListModel.h"
#include "SearchModel.h"

namespace quillmere {

struct AppModelForeign {
  Q_GADGET
  QML_FOREIGN(quillmere::AppModel)
  QML_NAMED_ELEMENT(AppModel)
  QML_UNCREATABLE("The application makes the one model")
};

struct SearchModelForeign {
  Q_GADGET
  QML_FOREIGN(quillmere::SearchModel)
  QML_NAMED_ELEMENT(SearchModel)
  QML_UNCREATABLE("Read from AppModel.search")
};

struct FolderModelForeign {
  Q_GADGET
  QML_FOREIGN(quillmere::FolderModel)
  QML_NAMED_ELEMENT(FolderModel)
  QML_UNCREATABLE("Read from AppModel.folders")
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
  QML_UNCREATABLE("Read from AppModel.folders.list")
};

struct ResultListModelForeign {
  Q_GADGET
  QML_FOREIGN(quillmere::ResultListModel)
  QML_NAMED_ELEMENT(ResultListModel)
  QML_UNCREATABLE("Read from AppModel.search.results")
};

}  // namespace quillmere
