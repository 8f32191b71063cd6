#pragma once
// Makes the agent start at every login of the user: an autostart entry in the user's XDG config
// folder. Installed after every sign-in, replacing what is there; every failure is ignored,
// because the agent works without it and the user can still start it by hand.

#include "platform/FileSystem.h"

#include <QString>

namespace spinforge::LoginAgent {

struct Locations {
    QString executable;  // the running program's file; empty when not known
    QString configHome;  // the user's XDG config folder
    QString appImage;    // the AppImage the program was started from, or empty
};

// This process's locations: the application's file (needs the core application, else empty),
// $XDG_CONFIG_HOME when set and absolute else ~/.config, and $APPIMAGE. Main thread.
Locations currentLocations();

// Writes the login item for `locations` through `files`, replacing any file there. Does nothing
// without an executable, or when the folder it would write to is not an absolute path. Never
// throws.
void install(FileSystem& files, const Locations& locations);

// The autostart desktop entry running `execCommand`, which is written into the file as given
// (see quoteExecArgument).
QString autostartEntry(const QString& execCommand);
// `argument` as one argument of an Exec value, written as the file holds it: quoted when the
// command line would otherwise split or expand it, "%" doubled, and the backslashes and line
// breaks of the result escaped once more because the whole value is a string value.
QString quoteExecArgument(const QString& argument);

}  // namespace spinforge::LoginAgent
