// Hands work from any thread to the thread this object lives on (the GUI thread), where it
// runs as a queued call in the order it was posted. The work itself passes through a
// mutex-guarded list rather than inside Qt's event, so that ThreadSanitizer sees the
// hand-over (Qt's own event queue synchronises in code it cannot see).
#pragma once

#include <QObject>
#include <deque>
#include <functional>
#include <mutex>

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
  std::mutex mutex_;  // guards work_
  std::deque<std::function<void()>> work_;
};

}  // namespace quillmere
