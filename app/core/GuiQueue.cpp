#include "GuiQueue.h"

#include <QMetaObject>

namespace quillmere {

GuiQueue::GuiQueue(QObject* parent) : QObject(parent) {}

void GuiQueue::post(std::function<void()> work) {
  {
    std::lock_guard guard(mutex_);
    work_.push_back(std::move(work));
  }
  // Invoked by name: nothing of ours is allocated for Qt's event.
  QMetaObject::invokeMethod(this, "deliver", Qt::QueuedConnection);
}

void GuiQueue::deliver() {
  std::function<void()> work;
  {
    std::lock_guard guard(mutex_);
    if (work_.empty()) return;
    work = std::move(work_.front());
    work_.pop_front();
  }
  work();
}

}  // namespace quillmere
