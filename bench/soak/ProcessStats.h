#pragma once
// This process's own figures, as the kernel keeps them: resident memory from /proc/self/status
// and the open file descriptors in /proc/self/fd. What a long-running agent must not let grow.

namespace bench::soak {

// The peak resident set so far (VmHWM), in MiB.
double peakResidentMiB();
// The resident set now (VmRSS), in MiB.
double residentMiB();
// The file descriptors open now, not counting the one used to list them.
int openFileDescriptors();

}  // namespace bench::soak
