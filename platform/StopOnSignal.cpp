#include "platform/StopOnSignal.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

namespace spinforge {

namespace {

// Set once before the handlers are installed; a handler can be given nothing else.
int wakeWriteEnd = -1;
StopRequest* requested = nullptr;

void onSignal(int) {
    requested->request();
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeWriteEnd, &byte, 1);  // async-signal-safe
}

}  // namespace

void stopOnTerminationSignals(StopRequest& stop) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;  // the default actions stay
    wakeWriteEnd = ends[1];
    requested = &stop;
    auto* notifier = new QSocketNotifier(ends[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [readEnd = ends[0]] {
        char drained[16];
        while (::read(readEnd, drained, sizeof drained) > 0) {}
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a call the kernel can end early (a read or write waiting on a slow stick that
    // heeds interruptions) ends with EINTR, and the file system then sees the stop instead of
    // starting the call over. Every loop of ours that meets EINTR looks at the stop first; Qt's and
    // GLib's own calls retry by themselves.
    action.sa_flags = 0;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

}  // namespace spinforge
