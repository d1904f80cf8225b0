// Event sources and listeners: list rules, changes made from inside a
// notification pass, re-entrant notification, and serialisation of safe
// listeners across threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "host/kel/KelEventSource.h"
#include "host/kel/OxSafeEventSource.h"

namespace {

using namespace std::chrono_literals;
using Source = Orvex::OxSafeEventSource<int>;

// Records what it saw into a shared log as "name:event".
struct Recorder : KelSafeEventListener<int> {
  Recorder(std::string name, std::vector<std::string>& log) : name(std::move(name)), log(log) {}
  void OnEvent(const int& event) override {
    log.push_back(name + ":" + std::to_string(event));
    if (action) action(event);
  }
  std::string name;
  std::vector<std::string>& log;
  std::function<void(int)> action;
};

template <typename Lockable>
bool LockableFromAnotherThread(Lockable& object) {
  return std::async(std::launch::async, [&] {
           bool got = object.tryLock();
           if (got) object.unlock();
           return got;
         }).get();
}

}  // namespace

TEST(SafeEventSourceTest, ListKeepsOneEntryPerListenerInOrder) {
  std::vector<std::string> log;
  Recorder a("a", log), b("b", log), c("c", log), never("x", log);
  Source source;
  for (Recorder* r : {&a, &b, &a, static_cast<Recorder*>(nullptr), &c}) source.AddEventListener(r);
  EXPECT_EQ(source.GetEventListenerCount(), 3u);
  source.RemoveEventListener(&b);
  source.RemoveEventListener(&never);
  EXPECT_EQ(source.GetEventListenerCount(), 2u);
  source.NotifyEvent(1);
  EXPECT_EQ(log, (std::vector<std::string>{"a:1", "c:1"}));
  source.RemoveEventListener(&a);
  EXPECT_FALSE(source.HasEventListener(&a));
  EXPECT_TRUE(source.HasEventListener(&c));
  source.RemoveAllEventListeners();
  source.NotifyEvent(2);
  EXPECT_EQ(log.size(), 2u);
}

TEST(SafeEventSourceTest, ChangesDuringAPassTakeEffectFromTheNextPass) {
  std::vector<std::string> log;
  Source source;
  Recorder self("self", log), remover("remover", log), victim("victim", log), adder("adder", log),
      added("added", log);
  self.action = [&](int) { source.RemoveEventListener(&self); };
  remover.action = [&](int) { source.RemoveEventListener(&victim); };
  adder.action = [&](int e) {
    if (e == 1) source.AddEventListener(&added);
  };
  for (Recorder* r : {&self, &remover, &victim, &adder}) source.AddEventListener(r);

  source.NotifyEvent(1);
  // The removed ones were in the copy, so they still get event 1; the added
  // one was not.
  EXPECT_EQ(log, (std::vector<std::string>{"self:1", "remover:1", "victim:1", "adder:1"}));
  log.clear();
  source.NotifyEvent(2);
  EXPECT_EQ(log, (std::vector<std::string>{"remover:2", "adder:2", "added:2"}));
}

TEST(SafeEventSourceTest, ListenerMayNotifyTheSameSourceFromOnEvent) {
  std::vector<std::string> log;
  Source source;
  Recorder first("first", log), second("second", log);
  first.action = [&](int e) {
    if (e < 3) source.NotifyEvent(e + 1);  // re-enters on this thread
  };
  source.AddEventListener(&first);
  source.AddEventListener(&second);
  source.NotifyEvent(1);
  EXPECT_EQ(log, (std::vector<std::string>{"first:1", "first:2", "first:3", "second:3", "second:2", "second:1"}));
}

TEST(SafeEventSourceTest, ConcurrentNotifiersNeverRunOneSafeListenerTwiceAtOnce) {
  struct Guarded : KelSafeEventListener<int> {
    void OnEvent(const int&) override {
      if (inside.fetch_add(1) != 0) overlaps++;
      for (int spin = 0; spin < 20; ++spin) std::this_thread::yield();  // widen the window
      calls++;  // plain int: a race here is what TSan would report
      inside.fetch_sub(1);
    }
    std::atomic<int> inside{0}, overlaps{0};
    int calls = 0;
  } listener;
  Source source;
  source.AddEventListener(&listener);
  constexpr int kPerThread = 2000;
  std::atomic<bool> go{false};
  auto notifier = [&] {
    while (!go) std::this_thread::yield();
    for (int i = 0; i < kPerThread; ++i) source.NotifyEvent(i);
  };
  std::thread t1(notifier), t2(notifier);
  go = true;
  t1.join();
  t2.join();
  EXPECT_EQ(listener.overlaps.load(), 0);
  EXPECT_EQ(listener.calls, 2 * kPerThread);
}

TEST(SafeEventSourceTest, ThrowingListenerReleasesItsLockAndEndsThePass) {
  struct Thrower : KelSafeEventListener<int> {
    void OnEvent(const int&) override { throw std::runtime_error("listener failed"); }
  } thrower;
  Source source;
  source.AddEventListener(&thrower);
  EXPECT_THROW(source.NotifyEvent(1), std::runtime_error);
  EXPECT_TRUE(LockableFromAnotherThread(thrower));
  // The pass was closed although it ended in an exception: no wait hangs.
  EXPECT_TRUE(source.RemoveEventListenerAndWait(&thrower));
}

TEST(SafeEventSourceTest, CopiesShareListenersButNotLocksOrLists) {
  std::vector<std::string> log;
  Recorder a("a", log), b("b", log);
  Source original;
  original.AddEventListener(&a);
  original.AddEventListener(&b);
  Source copy(original);
  copy.RemoveEventListener(&a);
  EXPECT_EQ(original.GetEventListenerCount(), 2u);
  Source assigned;
  assigned = original;
  assigned.NotifyEvent(5);
  EXPECT_EQ(log, (std::vector<std::string>{"a:5", "b:5"}));
  // Holding the original's lock does not block the copy.
  original.lock();
  EXPECT_TRUE(LockableFromAnotherThread(copy));
  original.unlock();
}

TEST(SafeEventSourceTest, RemoveAndWaitWaitsForAPassOnAnotherThreadButNotItsOwn) {
  std::promise<void> entered, release;
  std::shared_future<void> released = release.get_future().share();
  std::vector<std::string> log;
  Recorder slow("slow", log);
  slow.action = [&](int) {
    entered.set_value();
    released.wait();
  };
  Source source;
  source.AddEventListener(&slow);
  auto pass = std::async(std::launch::async, [&] { source.NotifyEvent(1); });
  ASSERT_EQ(entered.get_future().wait_for(20s), std::future_status::ready);

  auto remover = std::async(std::launch::async, [&] { return source.RemoveEventListenerAndWait(&slow); });
  // The pass is still inside the listener, so the remover must still wait.
  EXPECT_EQ(remover.wait_for(100ms), std::future_status::timeout);
  EXPECT_EQ(source.GetEventListenerCount(), 0u);
  release.set_value();
  ASSERT_EQ(remover.wait_for(20s), std::future_status::ready);
  EXPECT_TRUE(remover.get());
  pass.get();

  // From inside its own pass the wait cannot be kept: it returns false at once.
  Recorder self("self", log);
  bool waited = true;
  self.action = [&](int) { waited = source.RemoveEventListenerAndWait(&self); };
  source.AddEventListener(&self);
  source.NotifyEvent(2);
  EXPECT_FALSE(waited);
  EXPECT_EQ(source.GetEventListenerCount(), 0u);
}

// A listener that deletes what owns the source (a host deleting the device
// from its listener): the pass ends without touching the freed source (the
// address sanitizer sees it otherwise), and the listeners after it in the
// copy, which the host may have freed too, are not called.
TEST(SafeEventSourceTest, AListenerMayDestroyTheSourceThatCallsIt) {
  std::vector<std::string> log;
  Recorder destroyer("destroyer", log), after("after", log);
  auto* source = new Source;
  destroyer.action = [&](int) { delete source; };
  source->AddEventListener(&destroyer);
  source->AddEventListener(&after);
  source->NotifyEvent(1);
  EXPECT_EQ(log, std::vector<std::string>{"destroyer:1"});
}

TEST(PlainEventSourceTest, NotifiesInOrderAndDeletesOnlyWhenAsked) {
  struct Counted : KelEventListener<int> {
    explicit Counted(int& deaths) : deaths(deaths) {}
    ~Counted() override { ++deaths; }
    void OnEvent(const int& event) override { seen.push_back(event); }
    int& deaths;
    std::vector<int> seen;
  };
  int deaths = 0;
  Counted kept(deaths);
  {
    KelEventSource<int> source;
    source.AddEventListener(&kept);
    source.NotifyEvent(3);
    source.NotifyEvent(4);
  }
  EXPECT_EQ(kept.seen, (std::vector<int>{3, 4}));
  EXPECT_EQ(deaths, 0);  // the source's end left it alive

  Source safe;
  safe.AddEventListener(new Counted(deaths));
  safe.AddEventListener(new Counted(deaths));
  safe.AddEventListener(&kept);
  safe.NotifyEvent(5);  // a plain listener on a safe source gets OnEvent
  EXPECT_EQ(kept.seen.back(), 5);
  safe.RemoveEventListener(&kept);
  safe.DeleteAllEventListeners();
  EXPECT_EQ(deaths, 2);
  EXPECT_EQ(safe.GetEventListenerCount(), 0u);
}
