// The console reporter every comparison benchmark runs under: it prints as
// usual and keeps each benchmark's time and counters, by registered name,
// for the ratio table the benchmark prints at the end.
#ifndef CBLOB_BENCH_RATIO_REPORTER_HPP
#define CBLOB_BENCH_RATIO_REPORTER_HPP

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace cblobbench {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    // Real (wall) time, or the calling thread's CPU time, which holds still
    // when the machine is shared.
    enum class Clock { real, cpu };
    explicit RatioReporter(Clock clock = Clock::real) : clock_(clock) {}

    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            if (run.error_occurred) continue;
            const std::string &name = run.run_name.function_name;
            const double t = clock_ == Clock::real ? run.GetAdjustedRealTime() : run.GetAdjustedCPUTime();
            // The median of repetitions when there are some, else the best run.
            if (run.run_type == Run::RT_Aggregate) {
                if (run.aggregate_name != "median") continue;
                medians_[name] = true;
            } else if (medians_.count(name) || (times_.count(name) && times_[name] <= t)) {
                continue;
            }
            times_[name] = t;
            counters_[name] = run.counters;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // The time of the benchmark registered as `name` (in its time unit), 0 when it did not run.
    double time(const std::string &name) const {
        const auto it = times_.find(name);
        return it == times_.end() ? 0.0 : it->second;
    }
    // One of its counters, 0 when missing.
    double counter(const std::string &name, const std::string &counter) const {
        const auto it = counters_.find(name);
        if (it == counters_.end()) return 0.0;
        const auto c = it->second.find(counter);
        return c == it->second.end() ? 0.0 : static_cast<double>(c->second);
    }

private:
    Clock clock_;
    std::map<std::string, double> times_;
    std::map<std::string, bool> medians_;
    std::map<std::string, benchmark::UserCounters> counters_;
};

}  // namespace cblobbench

#endif
