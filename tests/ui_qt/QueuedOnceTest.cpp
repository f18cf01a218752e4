#include "ui/QueuedOnce.h"

#include <QCoreApplication>
#include <QObject>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace {

// Given a call already waiting in the queue, further requests add none; once it has run, the
// next request queues another, so a change after the refresh began is not lost.
TEST(QueuedOnce, RequestsWhileACallWaitsRunTheWorkOnce) {
  QObject context;
  int runs = 0;
  CQueuedOnce once(&context, [&runs] { ++runs; });
  once.Request();
  once.Request();
  once.Request();
  EXPECT_EQ(runs, 0);
  QCoreApplication::processEvents();
  EXPECT_EQ(runs, 1);
  once.Request();
  QCoreApplication::processEvents();
  EXPECT_EQ(runs, 2);
}

// A request made while the work runs (the state changed after it began to read) queues another.
TEST(QueuedOnce, ARequestDuringTheWorkQueuesAnotherCall) {
  QObject context;
  int runs = 0;
  std::unique_ptr<CQueuedOnce> once;
  once = std::make_unique<CQueuedOnce>(&context, [&] {
    if (++runs == 1)
      once->Request();
  });
  once->Request();
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
  EXPECT_EQ(runs, 2);
}

// Requests from another thread run the work on the context's thread.
TEST(QueuedOnce, RequestsFromAnotherThreadRunOnTheContextsThread) {
  QObject context;
  int runs = 0;
  std::thread::id ranOn;
  CQueuedOnce once(&context, [&] {
    ++runs;
    ranOn = std::this_thread::get_id();
  });
  std::thread worker([&once] {
    for (int i = 0; i < 100; ++i)
      once.Request();
  });
  worker.join();
  QCoreApplication::processEvents();
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

// A call still queued when its context goes is dropped with it.
TEST(QueuedOnce, ACallQueuedForADestroyedContextIsDropped) {
  int runs = 0;
  auto context = std::make_unique<QObject>();
  auto once = std::make_unique<CQueuedOnce>(context.get(), [&runs] { ++runs; });
  once->Request();
  once.reset();
  context.reset();
  QCoreApplication::processEvents();
  EXPECT_EQ(runs, 0);
}

}  // namespace
