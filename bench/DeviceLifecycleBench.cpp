// What a host pays to bring the camcorder up and take it down again: the
// factory's search of the simulated driver, InitializeDevice (cassette-memory
// database, deck, message window and its thread, the driver's advice and the
// first state reads), TerminateDevice and the delete (which compacts the
// database file). p50 and p99 of the whole round and of each step.
#include <cstdio>
#include <memory>
#include <vector>

#include "bench/BenchDevice.h"
#include "bench/BenchSupport.h"

namespace {

struct Steps {
  std::vector<long long> factory, initialize, terminate, destroy, whole;
};

bool Round(Steps& steps) {
  const long long t0 = bench::NowNs();
  std::unique_ptr<ZeltoVideoDevice> device(ZeltoVideoDeviceFactory::GetZeltoVideoDevice());
  const long long t1 = bench::NowNs();
  if (!device) return false;
  const bool initialized = device->InitializeDevice(Orvex::OX_VIDEO_SYSTEM_1, true, nullptr, nullptr, false, true);
  const long long t2 = bench::NowNs();
  device->TerminateDevice();
  const long long t3 = bench::NowNs();
  device.reset();
  const long long t4 = bench::NowNs();
  steps.factory.push_back(t1 - t0);
  steps.initialize.push_back(t2 - t1);
  steps.terminate.push_back(t3 - t2);
  steps.destroy.push_back(t4 - t3);
  steps.whole.push_back(t4 - t0);
  return initialized;
}

void Print(const char* what, const std::vector<long long>& samples) {
  const bench::Percentiles p = bench::Summarise(samples);
  std::printf("  %-36s %9.1f  %9.1f\n", what, p.p50Us, p.p99Us);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = bench::Rounds(argc, argv, 500);
  bench::SimulatedCamcorder camcorder("lifecycle");
  if (!camcorder.Ok()) return 1;

  Steps warmUp;
  for (int i = 0; i < 20; ++i)
    if (!Round(warmUp)) {
      std::fprintf(stderr, "the device could not be brought up\n");
      return 1;
    }
  Steps steps;
  for (int i = 0; i < rounds; ++i) Round(steps);

  std::printf("device life, %d rounds                       p50 us     p99 us\n", rounds);
  Print("factory (search and construct)", steps.factory);
  Print("InitializeDevice", steps.initialize);
  Print("TerminateDevice", steps.terminate);
  Print("delete (database compaction)", steps.destroy);
  Print("whole round (target p50 < 2000)", steps.whole);
  const long live = camcorder.Driver().Audit().LiveObjects();
  std::printf("  driver objects still alive besides the class objects: %ld\n",
              live - camcorder.Driver().Audit().Of(zelto::sim::ObjectKind::ClassFactory).liveObjects);
  return 0;
}
