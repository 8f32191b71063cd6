#pragma once
// The benchmarks, each the engine against the standard tools doing the same work on the same
// files. Each makes its data below `work`, prints its figures, and removes its data again.
// Each returns whether its targets were met.

#include <string>

namespace bench {

struct Options {
    std::string work;       // a folder of the benchmark's own
    std::string mediaName;  // a name below /media no one else uses (drives mounted as root)
    int runs = 5;           // measured runs of each side, after one warming run each
};

bool integrity(const Options& options);
bool warmCycle(const Options& options);
bool usbCopy(const Options& options);
bool coldCycle(const Options& options);
bool cycleMemory(const Options& options);

// The engine's side of coldCycle, run in a child process so that its peak memory can be read:
// one cycle with an empty library folder below `work`, against the service at `serverURL`.
// Prints the seconds the cycle took.
int coldCycleEngine(const std::string& work, const std::string& serverURL, int trackCount);
// The engine's side of cycleMemory, in a child process: a launch cycle, then another, each one's
// peak resident size measured against the resident size before it. Prints the second's seconds,
// idle and peak MiB, then the launch cycle's idle and peak MiB.
int cycleMemoryEngine(const std::string& work, const std::string& serverURL, const std::string& mountTable,
                      const std::string& prefix);

}  // namespace bench
