// A thread object: a subclass supplies run(), start() runs it on a new thread.
//
// - start() returns false while a previous run is still going; after a run
//   has ended the object may be started again.
// - Joinable threads (the default) are waited for by join(). A thread made
//   non-joinable before start() is detached; join() then returns at once and
//   the subclass must keep the object alive until run() has returned.
// - join() does nothing when the thread was never started, was already
//   joined, or when it is called from the thread itself (which cannot wait
//   for its own end).
// - An exception escaping run() cannot end the process: the thread guard
//   (platform/ThreadGuard.h) stops and counts it; isAlive() then becomes
//   false as after a normal return.
// - The destructor waits for a joinable run still going (unless it runs on
//   that thread). A subclass whose run() uses its own members must join before
//   its own destructor finishes, since those members are gone by the time
//   this destructor runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

// A number for the calling thread, never 0, that every module of the process
// sees alike. std::thread::id does not do for that on Windows, where each
// module carries its own thread runtime and gives one thread different ids.
std::uint64_t KelCurrentThreadId();

class KelThread {
public:
  explicit KelThread(const wchar_t* name = nullptr);
  KelThread(const KelThread&) = delete;
  KelThread& operator=(const KelThread&) = delete;

  // Virtual operations in this order: setJoinable, isJoinable, start, run,
  // then the destructor.
  virtual void setJoinable(bool joinable);
  virtual bool isJoinable() const;
  virtual bool start();

  void join();
  bool isAlive() const;
  // The name given at construction; empty when it was null.
  const std::wstring& getName() const { return name; }

protected:
  virtual void run() = 0;
  virtual ~KelThread();

private:
  void body();

  std::wstring name;
  std::atomic<bool> joinable{true};
  std::atomic<bool> alive{false};
  // The id of the thread running body(), set before run() starts, so that the
  // thread can recognise itself without taking handleMutex (which a joiner
  // holds while it waits).
  std::atomic<std::thread::id> runningId{};
  std::mutex handleMutex;  // guards handle against concurrent start/join
  std::thread handle;
};
