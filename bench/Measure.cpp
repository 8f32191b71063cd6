#include "Measure.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace bench {

double secondsOf(const std::function<void()>& action) {
    const Clock::time_point start = Clock::now();
    action();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

Samples alternate(int runs, const Side& ours, const Side& baseline) {
    ours();
    baseline();
    Samples samples;
    for (int i = 0; i < runs; ++i) {
        samples.ours.push_back(ours());
        samples.baseline.push_back(baseline());
    }
    return samples;
}

double median(std::vector<double> values) {
    if (values.empty()) throw std::logic_error("median of no samples");
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::string medianOf(int runs) {
    return "median-of-" + std::to_string(runs);
}

bool report(const Figure& figure) {
    const double ratio = figure.ours / figure.baseline;
    const bool met = figure.maxRatio <= 0 ||
                     (ratio <= figure.maxRatio && (figure.maxOurs <= 0 || figure.ours <= figure.maxOurs));
    const int digits = figure.unit == "s" ? 3 : 1;
    std::string target = figure.maxRatio <= 0 ? "no-target" : "target<=" + std::to_string(figure.maxRatio).substr(0, 4);
    if (figure.maxOurs > 0) target += ",ours<=" + std::to_string(int(figure.maxOurs)) + figure.unit;
    std::printf("bench %s ratio=%.3f ours=%.*f%s baseline=%.*f%s %s %s%s\n", figure.name.c_str(), ratio, digits,
                figure.ours, figure.unit.c_str(), digits, figure.baseline, figure.unit.c_str(), target.c_str(),
                figure.statistic.c_str(), met ? "" : " MISSED");
    std::fflush(stdout);
    return met;
}

bool reportTimes(const std::string& name, const Samples& samples, double maxRatio) {
    return report({name, median(samples.ours), median(samples.baseline), "s", maxRatio, 0,
                   medianOf(int(samples.ours.size()))});
}

void reportHold(const std::string& name, double seconds, double bytes, const char* what) {
    std::printf("bench %s-hold s/GiB=%.2f (%s)\n", name.c_str(), seconds / (bytes / double(1 << 30)), what);
    std::fflush(stdout);
}

}  // namespace bench
