// How fast zelto verify reads: a capture file of the simulated camcorder
// inspected with the packet accounting alone and with its pictures decoded,
// each against a plain read of the same file in the same run (best of three
// each, alternating, so that all read it from the same cache). Prints MB/s
// and the inspection's share of the plain read's rate.
// Optional first argument: the file's size in MB (default 200).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "simulator/CaptureStreamWriter.h"
#include "streamcheck/StreamInspector.h"

namespace {

using zelto::sim::CaptureStreamWriter;
using zelto::streamcheck::InspectFile;
using zelto::streamcheck::InspectOutcome;

bool PlainRead(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<char> buffer(zelto::streamcheck::kReadBytes);
  while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
  }
  return !in.bad();
}

bool Inspect(const std::filesystem::path& file, bool pictures) {
  const InspectOutcome o = InspectFile(file, {pictures});
  if (o.failure != InspectOutcome::Failure::None || !o.report.Whole()) {
    std::fprintf(stderr, "the inspection found the bench's own file %s\n",
                 o.failure != InspectOutcome::Failure::None ? o.why.c_str() : "damaged");
    return false;
  }
  return true;
}

// The best of three runs, in seconds; negative on a failure.
double Best(const std::function<bool()>& run) {
  double best = 1e30;
  for (int i = 0; i < 3; ++i) {
    const long long start = bench::NowNs();
    if (!run()) return -1;
    best = std::min(best, static_cast<double>(bench::NowNs() - start) * 1e-9);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const int megabytes = bench::Rounds(argc, argv, 200);
  const auto file =
      std::filesystem::temp_directory_path() / ("zelto-verify-bench-" + std::to_string(bench::NowNs()) + ".zlt");
  std::string error;
  auto writer = CaptureStreamWriter::Create(file, 25, true, &error);
  const auto frames = static_cast<unsigned>(static_cast<std::uint64_t>(megabytes) * 1'000'000 /
                                            (CaptureStreamWriter::kStreamBytesPerSecond / 25) + 1);
  if (!writer || !writer->WriteFrames(1, 0, frames, &error) || !writer->Close(&error)) {
    std::fprintf(stderr, "the capture file: %s\n", error.c_str());
    return 1;
  }
  const double mb = static_cast<double>(std::filesystem::file_size(file)) / 1e6;
  std::printf("verify, a %.1f MB capture file (%s)\n", mb,
              CaptureStreamWriter::HasVideo() ? "MPEG-2 video" : "tables and padding only");
  int status = 0;
  for (const bool pictures : {false, true}) {
    const double plain = Best([&] { return PlainRead(file); });
    const double inspected = Best([&] { return Inspect(file, pictures); });
    if (plain < 0 || inspected < 0) {
      status = 1;
      break;
    }
    std::printf("  %-22s %8.0f MB/s, plain read %8.0f MB/s: %.2fx\n",
                pictures ? "packets and pictures" : "packets only", mb / inspected, mb / plain, plain / inspected);
  }
  std::filesystem::remove(file);
  return status;
}
