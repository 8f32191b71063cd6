#pragma once
// Timing and reporting shared by every benchmark: wall time on the monotonic clock, each side run
// once to warm the page cache and then alternately, the medians set against a target.

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

// Wall seconds that `action` took.
double secondsOf(const std::function<void()>& action);

// One side of a comparison: prepares what it needs untimed, then returns the seconds it measured.
using Side = std::function<double()>;

struct Samples {
    std::vector<double> ours;
    std::vector<double> baseline;
};

// Runs each side once to warm caches (that run is dropped), then `runs` times each, ours and the
// baseline taking turns so that drift in the machine's state hits both alike.
Samples alternate(int runs, const Side& ours, const Side& baseline);

double median(std::vector<double> values);

struct Figure {
    std::string name;
    double ours = 0;
    double baseline = 0;
    std::string unit;      // "s" or "MiB"
    double maxRatio = 0;   // 0: for information, no target
    double maxOurs = 0;    // 0: no absolute limit on our value
    std::string statistic; // how the samples were reduced, e.g. "median-of-5"
};

// Prints "bench NAME ratio=R ours=V baseline=V target<=T STATISTIC", MISSED last when a target
// is missed. Returns whether every target was met.
bool report(const Figure& figure);

// Reports the medians of `samples` as seconds.
bool reportTimes(const std::string& name, const Samples& samples, double maxRatio);

// Prints "bench NAME-hold s/GiB=V (WHAT)": how long the agent's main thread is held, per GiB, by
// the work of `seconds` over `bytes`. Menus and timers wait for it: hashing and copying run there.
void reportHold(const std::string& name, double seconds, double bytes, const char* what);

std::string medianOf(int runs);

}  // namespace bench
