// SPDX-License-Identifier: GPL-3.0-or-later
// GuiQueue: the hand-over to the GUI thread.
#include "GuiQueue.h"

#include <QMetaObject>

namespace quillmere {

GuiQueue::GuiQueue(QObject* parent) : QObject(parent) {}

void GuiQueue::post(std::function<void()> work) {
  work_.push(std::move(work));
  // Invoked by name: nothing of ours is allocated for Qt's event.
  QMetaObject::invokeMethod(this, "deliver", Qt::QueuedConnection);
}

void GuiQueue::deliver() {
  if (const auto work = work_.take()) work();
}

}  // namespace quillmere
