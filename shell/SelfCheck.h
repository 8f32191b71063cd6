#pragma once
// `spinforge --self-check`: does this installation have what the agent shows? The status symbols
// and the application icon (drawn by Qt's SVG image plugin, a separate package on most
// distributions), and, when the agent runs from an installed bin folder, the desktop entry beside
// it and the theme icon that entry names. It reads nothing else: no keyring, no network, no
// settings, no single-instance lock. Main thread, with the QApplication running.

namespace spinforge {

// The whole command: prints one line per check to stdout. When one fails, names it on stderr and
// returns 1 at once; otherwise prints "ready", runs the event loop until SIGTERM or SIGINT ends it
// (the termination handlers must be installed) and returns 0.
int runSelfCheck();

}  // namespace spinforge
