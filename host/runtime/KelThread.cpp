#include "host/runtime/KelThread.h"

#include "platform/ThreadGuard.h"

std::uint64_t KelCurrentThreadId() {
  static std::atomic<std::uint64_t> last{0};
  thread_local const std::uint64_t id = ++last;
  return id;
}

KelThread::KelThread(const wchar_t* name) : name(name ? name : L"") {}

KelThread::~KelThread() {
  if (runningId.load() == std::this_thread::get_id()) {
    // Deleted from its own run(), which body() does not survive; at least do
    // not wait for ourselves.
    if (handle.joinable()) handle.detach();
    return;
  }
  std::lock_guard<std::mutex> guard(handleMutex);
  if (handle.joinable()) handle.join();
}

void KelThread::setJoinable(bool value) { joinable = value; }

bool KelThread::isJoinable() const { return joinable; }

bool KelThread::start() {
  if (runningId.load() == std::this_thread::get_id()) return false;
  std::lock_guard<std::mutex> guard(handleMutex);
  if (alive) return false;
  // A finished run that nobody joined still owns its handle.
  if (handle.joinable()) handle.join();
  alive = true;
  try {
    handle = std::thread(&KelThread::body, this);
  } catch (...) {
    alive = false;
    return false;
  }
  if (!joinable) handle.detach();
  return true;
}

void KelThread::join() {
  if (runningId.load() == std::this_thread::get_id()) return;
  std::lock_guard<std::mutex> guard(handleMutex);
  if (handle.joinable()) handle.join();
}

bool KelThread::isAlive() const { return alive; }

void KelThread::body() {
  runningId = std::this_thread::get_id();
  zelto::platform::GuardThread("KelThread", [this] { run(); });
  runningId = std::thread::id();
  alive = false;
}
