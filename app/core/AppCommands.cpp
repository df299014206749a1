// SPDX-License-Identifier: GPL-3.0-or-later
// AppCommands: the process's one shared command object.
#include "AppCommands.h"

namespace quillmere {

AppCommands& AppCommands::shared() {
  static AppCommands commands;
  return commands;
}

AppCommands::AppCommands(QObject* parent) : QObject(parent) {}

}  // namespace quillmere
