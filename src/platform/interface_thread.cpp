#include "platform/interface_thread.h"

#include <QMetaObject>
#include <QObject>
#include <utility>

namespace pixmoor::platform {

void postToInterface(QObject* context, std::function<void()> work) {
  if (context == nullptr || !work) return;
  QMetaObject::invokeMethod(context, std::move(work), Qt::QueuedConnection);
}

}  // namespace pixmoor::platform
