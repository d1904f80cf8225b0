// Re-entrant locks and the thread class.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>

#include "host/runtime/KelMonitor.h"
#include "host/runtime/KelMutex.h"
#include "host/runtime/KelThread.h"
#include "tests/EscapedExceptionCheck.h"

namespace {

using namespace std::chrono_literals;

bool lockableFromAnotherThread(const KelSyncObject& object) {
  return std::async(std::launch::async, [&] {
           bool got = object.tryLock();
           if (got) object.unlock();
           return got;
         }).get();
}

class Worker : public KelThread {
public:
  std::promise<void> started;
  std::promise<void> release;
  std::shared_future<void> released{release.get_future().share()};
  std::atomic<int> runs{0};
  bool throwInRun = false;
  bool joinSelf = false;
  ~Worker() override { join(); }

protected:
  void run() override {
    ++runs;
    if (joinSelf) join();  // must return, not deadlock
    started.set_value();
    released.wait();
    if (throwInRun) throw std::runtime_error("run failed");
  }
};

}  // namespace

TEST(KelLockTest, LocksAreReentrantForTheHolderAndMonitorsAlwaysRelease) {
  KelCriticalSection section;
  section.lock();
  ASSERT_TRUE(section.tryLock());  // the holder may take it again
  section.unlock();
  EXPECT_FALSE(lockableFromAnotherThread(section));  // still held once
  section.unlock();
  EXPECT_TRUE(lockableFromAnotherThread(section));

  KelMutex mutex;
  try {
    KelMonitor outer(mutex);
    KelMonitor inner(&mutex);
    EXPECT_FALSE(lockableFromAnotherThread(mutex));
    throw std::runtime_error("x");
  } catch (const std::runtime_error&) {
  }
  EXPECT_TRUE(lockableFromAnotherThread(mutex));
  KelMonitor none(static_cast<KelSyncObject*>(nullptr));  // guards nothing, must not crash
}

TEST(KelThreadTest, RunsJoinsAndRestarts) {
  Worker worker;
  worker.join();  // never started: returns at once
  ASSERT_TRUE(worker.start());
  ASSERT_EQ(worker.started.get_future().wait_for(20s), std::future_status::ready);
  EXPECT_TRUE(worker.isAlive());
  EXPECT_FALSE(worker.start());  // still running
  worker.release.set_value();
  worker.join();
  EXPECT_FALSE(worker.isAlive());
  worker.join();  // twice is harmless

  // After a finished run the object can run again.
  worker.started = std::promise<void>();
  ASSERT_TRUE(worker.start());
  ASSERT_EQ(worker.started.get_future().wait_for(20s), std::future_status::ready);
  worker.join();
  EXPECT_EQ(worker.runs.load(), 2);
}

TEST(KelThreadTest, SelfJoinAndThrowingRunDoNotHangOrCrash) {
  Worker worker;
  worker.joinSelf = true;
  worker.throwInRun = true;
  worker.release.set_value();
  ASSERT_TRUE(worker.start());
  ASSERT_EQ(worker.started.get_future().wait_for(20s), std::future_status::ready);
  worker.join();
  EXPECT_FALSE(worker.isAlive());
  // Stopped by the thread guard, which counts it: a run that throws is a fault.
  zelto::testing::ExpectEscapedExceptions(1);
}

TEST(KelThreadTest, DetachedThreadIsNotWaitedFor) {
  Worker worker;
  worker.setJoinable(false);
  ASSERT_TRUE(worker.start());
  ASSERT_EQ(worker.started.get_future().wait_for(20s), std::future_status::ready);
  auto joined = std::async(std::launch::async, [&] { worker.join(); });
  EXPECT_EQ(joined.wait_for(20s), std::future_status::ready);  // returns while run still waits
  EXPECT_TRUE(worker.isAlive());
  worker.release.set_value();
  // The object must outlive a detached run: wait until it says it ended.
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (worker.isAlive() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  EXPECT_FALSE(worker.isAlive());
}
