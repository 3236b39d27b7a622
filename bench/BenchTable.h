// Shared by the benchmark programs: a console reporter that also keeps each benchmark's result (the
// median when run with --benchmark_repetitions, else the single run) for a side-by-side table.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace benchtable {

struct Result {
  double cpu = 0;   // CPU time per iteration, in the benchmark's time unit
  double real = 0;  // wall time per iteration
  std::map<std::string, double> counters;
  // Each repetition's value of every counter, for the spread beside the median.
  std::map<std::string, std::vector<double>> repetitions;
  bool median = false;
};

class Reporter : public benchmark::ConsoleReporter {
 public:
  // Sees every repetition (for the spread) but prints, as --benchmark_report_aggregates_only would,
  // only the aggregates of repeated benchmarks.
  void ReportRuns(const std::vector<Run>& runs) override {
    std::vector<Run> shown;
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Aggregate) shown.push_back(r);
    ConsoleReporter::ReportRuns(shown.empty() ? runs : shown);
    for (const Run& r : runs) {
      if (r.error_occurred) continue;
      const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
      if (r.run_type == Run::RT_Aggregate && !median) continue;
      const std::string key = r.run_name.function_name + (r.run_name.args.empty() ? "" : "/" + r.run_name.args);
      Result& slot = results_[key];
      if (r.run_type == Run::RT_Iteration)
        for (const auto& [name, counter] : r.counters) slot.repetitions[name].push_back(counter.value);
      if (slot.median && !median) continue;
      slot.cpu = r.GetAdjustedCPUTime();
      slot.real = r.GetAdjustedRealTime();
      slot.median = median;
      slot.counters.clear();
      for (const auto& [name, counter] : r.counters) slot.counters[name] = counter.value;
    }
  }
  // Null when the benchmark did not run (filtered out or failed).
  const Result* Find(const std::string& key) const {
    const auto it = results_.find(key);
    return it == results_.end() ? nullptr : &it->second;
  }

 private:
  std::map<std::string, Result> results_;
};

// Smallest and largest repetition of a counter; the median's own value when there was one run.
inline std::pair<double, double> Spread(const Result& r, const std::string& counter) {
  const auto it = r.repetitions.find(counter);
  if (it == r.repetitions.end() || it->second.empty()) {
    const double v = r.counters.count(counter) ? r.counters.at(counter) : 0.0;
    return {v, v};
  }
  const auto [low, high] = std::minmax_element(it->second.begin(), it->second.end());
  return {*low, *high};
}

// "met" or "MISSED" for a ratio against its limit (ratio <= limit when lowerIsBetter, else >=).
inline const char* Verdict(double ratio, double limit, bool lowerIsBetter) {
  return (lowerIsBetter ? ratio <= limit : ratio >= limit) ? "met" : "MISSED";
}

}  // namespace benchtable
