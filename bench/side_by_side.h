// A cost measured against its floor in one run: the two sides alternate (the
// side that goes first alternates too, so neither always meets the machine
// warm or cold), each timed in this thread's CPU time, and the figures are
// medians over the repetitions.  Each side is a callable that does its own
// untimed preparation and returns the CPU nanoseconds of the part it times.
#pragma once
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace bench {

inline double thread_cpu_ns() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

inline double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Runs `repetitions` rounds of floor and subject (each returning CPU ns per
// unit of work) and reports, as the benchmark's counters, both medians and
// the median of the per-round ratios.
template <class Floor, class Subject>
void side_by_side(benchmark::State& state, int repetitions, Floor floor, Subject subject) {
  std::vector<double> floors, subjects, ratios;
  for (auto _ : state) {
    for (int round = 0; round < repetitions; ++round) {
      double f, s;
      if (round % 2 == 0) {
        f = floor();
        s = subject();
      } else {
        s = subject();
        f = floor();
      }
      floors.push_back(f);
      subjects.push_back(s);
      ratios.push_back(s / f);
    }
  }
  state.counters["floor_ns"] = median(floors);
  state.counters["subject_ns"] = median(subjects);
  state.counters["ratio"] = median(ratios);
  state.counters["rounds"] = static_cast<double>(ratios.size());
}

}  // namespace bench
