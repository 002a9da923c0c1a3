#include "app/qt_main_queue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <utility>

namespace talvori {

void QtMainQueue::post(Job job) {
  QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(job), Qt::QueuedConnection);
}

}  // namespace talvori
