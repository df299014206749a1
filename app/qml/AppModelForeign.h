// SPDX-License-Identifier: GPL-3.0-or-later
// The application's model as the views see it: the application makes the one AppModel
// and hands it to the main window.
#pragma once

#include <QtQml/qqml.h>

#include "AppModel.h"

namespace quillmere {

struct AppModelForeign {
  Q_GADGET
  QML_FOREIGN(quillmere::AppModel)
  QML_NAMED_ELEMENT(AppModel)
  QML_UNCREATABLE("The application makes the one model")
};

}  // namespace quillmere
