#pragma once
// Ends the agent in an orderly way when the session asks it to stop (SIGTERM at logout, SIGINT
// from a terminal, SIGHUP), instead of dying mid-write or finishing a long copy first: the handler
// only requests the stop and writes a byte to a pipe; the file system's loops see the request at
// their next block, and the main thread quits its event loop when it reads the byte.

#include "platform/StopRequest.h"

namespace spinforge {

// Installs the handlers for SIGTERM, SIGINT and SIGHUP. Call once, after the QCoreApplication
// exists; `stop` must live until the process ends.
void stopOnTerminationSignals(StopRequest& stop);

}  // namespace spinforge
