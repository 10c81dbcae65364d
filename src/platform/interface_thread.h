// Handing work from worker threads to the interface thread.
//
// postToInterface queues `work` to run on the thread that owns `context`
// (the interface thread for any widget) and returns at once; the work is
// dropped when `context` is destroyed before it runs. Callable from any
// thread.
#pragma once

#include <functional>

class QObject;

namespace pixmoor::platform {

void postToInterface(QObject* context, std::function<void()> work);

}  // namespace pixmoor::platform
