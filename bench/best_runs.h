// A console reporter that keeps each case's fastest repetition, for tables of ratios against a
// baseline measured in the same run: the fastest run is the one least disturbed by whatever else
// the machine is doing.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

class BestRunsReporter : public benchmark::ConsoleReporter {
 public:
  // A case's name is the benchmark's name up to nameEnd ("/" keeps only the first part).
  explicit BestRunsReporter(std::string nameEnd) : nameEnd_(std::move(nameEnd)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      const std::string name = run.benchmark_name().substr(0, run.benchmark_name().find(nameEnd_));
      Keep(best_, name, run.GetAdjustedRealTime() * Micro(run.time_unit));
      // A case may report its own 99th percentile, in milliseconds or microseconds.
      for (const auto& [counter, micro] : {std::pair<const char*, double>{"p99_ms", 1e3}, {"p99_us", 1}}) {
        const auto c = run.counters.find(counter);
        if (c != run.counters.end()) Keep(p99_, name, c->second.value * micro);
      }
    }
  }

 protected:
  std::map<std::string, double> best_;  // microseconds
  std::map<std::string, double> p99_;   // microseconds

 private:
  static void Keep(std::map<std::string, double>& kept, const std::string& name, double value) {
    const auto it = kept.find(name);
    if (it == kept.end() || value < it->second) kept[name] = value;
  }
  static double Micro(benchmark::TimeUnit unit) {
    switch (unit) {
      case benchmark::kNanosecond:
        return 1e-3;
      case benchmark::kMicrosecond:
        return 1;
      case benchmark::kMillisecond:
        return 1e3;
      case benchmark::kSecond:
        return 1e6;
    }
    return 1;
  }
  std::string nameEnd_;
};
