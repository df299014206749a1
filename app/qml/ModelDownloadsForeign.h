// SPDX-License-Identifier: GPL-3.0-or-later
// The models to download as the views see them, read from AppModel.downloads.
#pragma once

#include <QtQml/qqml.h>

#include "ModelDownloads.h"

namespace quillmere {

struct ModelDownloadsForeign {
  Q_GADGET
  QML_FOREIGN(quillmere::ModelDownloads)
  QML_NAMED_ELEMENT(ModelDownloads)
  QML_UNCREATABLE("Read from AppModel.downloads")
};

}  // namespace quillmere
