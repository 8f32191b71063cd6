#pragma once
// Ends the application's event loop in an orderly way when the session asks the agent to stop
// (SIGTERM at logout, SIGINT from a terminal), instead of dying mid-write: the signal handler
// only writes a byte to a pipe, and the main thread quits when it reads it.

namespace spinforge {

// Installs the handlers for SIGTERM, SIGINT and SIGHUP. Call once, after the QApplication exists.
void quitOnTerminationSignals();

}  // namespace spinforge
