#include "app/qt_main_queue.h"

#include <utility>

#include <QCoreApplication>
#include <QMetaObject>

namespace talvori {

QtMainQueue& QtMainQueue::instance() {
  // Never destroyed: the reader thread may still post while the process exits.
  static auto* const queue = new QtMainQueue();
  return *queue;
}

void QtMainQueue::post(Job job) {
  bool schedule;
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
    schedule = !scheduled_;
    scheduled_ = true;
  }
  if (schedule) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [this] { runWaitingJobs(); }, Qt::QueuedConnection);
  }
}

void QtMainQueue::runWaitingJobs() {
  std::size_t waiting;
  {
    std::lock_guard lock(mutex_);
    waiting = jobs_.size();
  }
  for (; waiting > 0; --waiting) {
    Job job;
    {
      std::lock_guard lock(mutex_);
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    job();
  }
  bool again;
  {
    std::lock_guard lock(mutex_);
    again = !jobs_.empty();
    scheduled_ = again;
  }
  if (again) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [this] { runWaitingJobs(); }, Qt::QueuedConnection);
  }
}

}  // namespace talvori
