#pragma once
// Running the baselines' tools, and this benchmark again as a child whose memory is measured.
// Plain POSIX: fork, exec, wait4.

#include <string>
#include <vector>

namespace bench {

// Runs `argv` (argv[0] looked up on PATH) with stdout written to `stdoutPath` and stderr
// inherited. Returns the wall seconds from before fork to after reaping. Throws unless the
// program exits with status 0.
double runProgram(const std::vector<std::string>& argv, const std::string& stdoutPath = "/dev/null");

struct ChildResult {
    std::string output;  // all it printed on stdout
    double peakMiB = 0;  // its peak resident set (ru_maxrss)
};

// Runs this executable again with `args`. Throws unless it exits with status 0.
ChildResult runSelf(const std::vector<std::string>& args);

}  // namespace bench
