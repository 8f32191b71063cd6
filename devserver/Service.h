#pragma once

#include "devserver/Options.h"

namespace spinforge::devserver {

// Prepares the library, listens, and serves until SIGINT or SIGTERM. Returns the exit status;
// throws std::runtime_error for a problem that stops it from starting.
int runService(const Options& options);

}  // namespace spinforge::devserver
