// Small helpers shared by the benchmark programs.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline long long NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

struct Percentiles {
  double p50Us;
  double p99Us;
};

inline Percentiles Summarise(std::vector<long long> samplesNs) {
  std::sort(samplesNs.begin(), samplesNs.end());
  auto at = [&](double q) {
    std::size_t i = static_cast<std::size_t>(q * static_cast<double>(samplesNs.size() - 1));
    return static_cast<double>(samplesNs[i]) / 1000.0;
  };
  return {at(0.50), at(0.99)};
}

// Optional first argument: the number of rounds.
inline int Rounds(int argc, char** argv, int fallback) {
  if (argc > 1) {
    int n = std::atoi(argv[1]);
    if (n > 0) return n;
  }
  return fallback;
}

}  // namespace bench
