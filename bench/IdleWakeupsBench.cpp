// An initialised device whose driver is silent must wake no thread: the
// context switches of every thread of the process over five seconds, each
// thread named by its role (the host's main thread, sleeping; the simulated
// camcorder's event thread; the library's message-window thread). Linux
// only: the counts come from /proc; elsewhere the program says so.
#include <cstdio>

#if defined(__linux__)

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "bench/BenchDevice.h"
#include "bench/BenchSupport.h"

namespace {

struct Switches {
  long long voluntary = 0;
  long long involuntary = 0;
};

std::set<long> Tasks() {
  std::set<long> tasks;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", ec))
    tasks.insert(std::stol(entry.path().filename().string()));
  return tasks;
}

Switches Read(long tid) {
  Switches s;
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0) s.voluntary = std::stoll(line.substr(24));
    if (line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) s.involuntary = std::stoll(line.substr(27));
  }
  return s;
}

std::string Name(long tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

std::set<long> Minus(const std::set<long>& a, const std::set<long>& b) {
  std::set<long> out;
  for (long t : a)
    if (!b.count(t)) out.insert(t);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = bench::PositiveArgument(argc, argv, 1, 5);
  const std::set<long> before = Tasks();
  bench::SimulatedCamcorder camcorder("idle");
  if (!camcorder.Ok()) return 1;
  const std::set<long> withDriver = Tasks();
  std::unique_ptr<ZeltoVideoDevice> device(ZeltoVideoDeviceFactory::GetZeltoVideoDevice());
  if (!device || !device->InitializeDevice(Orvex::OX_VIDEO_SYSTEM_1, true, nullptr, nullptr, false, true)) {
    std::fprintf(stderr, "the device could not be initialised\n");
    return 1;
  }
  const std::set<long> withDevice = Tasks();

  // One event through the whole path, then a moment for every thread to go
  // back to sleep: the switches of falling asleep are not the idle's.
  std::mutex lock;
  std::condition_variable changed;
  bool heard = false;
  bench::CallbackListener<Orvex::_OxVideoDeviceNotification> listener(
      [&](const Orvex::_OxVideoDeviceNotification& value) {
        if (value != Orvex::OX_NOTIFY_CAMCORDER_MODE) return;
        std::lock_guard<std::mutex> guard(lock);
        heard = true;
        changed.notify_all();
      });
  device->AddEventListener(&listener);
  camcorder.Driver().Panel().PostEvent(DRIVER_EVENT_CAMCORDER_MODE, 0);
  {
    std::unique_lock<std::mutex> guard(lock);
    if (!changed.wait_for(guard, std::chrono::seconds(30), [&] { return heard; })) {
      std::fprintf(stderr, "the device never heard the driver\n");
      return 1;
    }
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));

  std::map<long, std::string> roles;
  for (long t : withDevice) roles[t] = "other";
  for (long t : before) roles[t] = "present before the driver";
  roles[static_cast<long>(getpid())] = "host main thread (sleeping)";
  for (long t : Minus(withDriver, before)) roles[t] = "simulated camcorder";
  for (long t : Minus(withDevice, withDriver)) roles[t] = "library";

  std::map<long, Switches> start;
  for (long t : withDevice) start[t] = Read(t);
  const std::uint64_t wakeupsBefore = camcorder.Driver().Panel().ThreadWakeups();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  std::map<long, Switches> end;
  for (long t : withDevice) end[t] = Read(t);
  const std::uint64_t wakeupsAfter = camcorder.Driver().Panel().ThreadWakeups();

  std::printf("context switches over %d s of an idle, initialised device\n", seconds);
  std::printf("  %-8s %-16s %-28s %10s %12s\n", "tid", "name", "role", "voluntary", "involuntary");
  long long library = 0;
  for (long t : withDevice) {
    const long long v = end[t].voluntary - start[t].voluntary;
    const long long n = end[t].involuntary - start[t].involuntary;
    if (roles[t] == "library") library += v + n;
    std::printf("  %-8ld %-16s %-28s %10lld %12lld\n", t, Name(t).c_str(), roles[t].c_str(), v, n);
  }
  std::printf("  simulated camcorder's own wake-up count: %llu\n",
              static_cast<unsigned long long>(wakeupsAfter - wakeupsBefore));
  std::printf("  library threads: %lld switches (target 0)\n", library);
  device->TerminateDevice();
  device->RemoveEventListener(&listener);
  return 0;
}

#else

int main() {
  std::printf("context switches of an idle device: not measured on this system\n");
  return 0;
}

#endif
