// Requests from any thread for one piece of user-interface work (a page or panel refreshing
// itself from the latest state), folded into one call queued onto the thread of a context
// object: while a call waits in the queue, further requests add none. The call reads the state
// when it runs, so no request is lost.
//
// Threads: Request() from any thread; the work runs on the context's thread. A call still queued
// when the context is destroyed is dropped with it.
#pragma once

#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <functional>
#include <utility>

class CQueuedOnce {
 public:
  // `context` owns this object (or outlives it) and gives the thread `work` runs on.
  CQueuedOnce(QObject* context, std::function<void()> work)
      : context_(context), work_(std::move(work)) {}

  void Request() {
    if (queued_.exchange(true))
      return;
    QMetaObject::invokeMethod(
        context_,
        [this] {
          queued_.store(false);
          work_();
        },
        Qt::QueuedConnection);
  }

 private:
  QObject* context_;
  std::function<void()> work_;
  std::atomic<bool> queued_{false};
};
