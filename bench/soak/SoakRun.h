#pragma once
// The soak run: one engine, in this process, cycling against the development service over and
// over with faults injected at random (fixed seed), the data checked after every cycle, and the
// process's memory and file descriptors watched for growth.

#include <cstdint>
#include <string>

namespace bench::soak {

struct SoakOptions {
    int cycles = 500;
    int tracks = 2000;
    std::uint64_t seed = 20261206;
    int minKiB = 2;    // track sizes, drawn evenly between these
    int maxKiB = 100;
    std::string work;       // a folder of the run's own (empty: a new one, removed after)
    std::string mediaName;  // as root, drives are tmpfs mounts below /media/<mediaName>/
};

// Prints the summary; returns the exit status: 0 unless data were wrong, a cycle ended other
// than its fault called for, peak memory grew by more than 5 % after cycle 10, or file
// descriptors were left open.
int runSoak(const SoakOptions& options);

}  // namespace bench::soak
