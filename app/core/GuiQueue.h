// SPDX-License-Identifier: GPL-3.0-or-later
// Hands work from any thread to the thread this object lives on (the GUI thread), where it
// runs as a queued call in the order it was posted. The work itself passes through a
// WorkList rather than inside Qt's event, so that ThreadSanitizer sees the hand-over.
#pragma once

#include <QObject>
#include <functional>

#include "WorkList.h"

namespace quillmere {

class GuiQueue : public QObject {
  Q_OBJECT

 public:
  explicit GuiQueue(QObject* parent = nullptr);

  // Safe from any thread; returns at once. Work still waiting when the queue is destroyed
  // never runs.
  void post(std::function<void()> work);

 private slots:
  void deliver();

 private:
  WorkList work_;
};

}  // namespace quillmere
