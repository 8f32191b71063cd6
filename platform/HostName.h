#pragma once
// The computer's name as the user knows it, sent as the device name at sign-in.

#include <QString>

namespace spinforge::HostName {

// PRETTY_HOSTNAME from `machineInfoPath` when set, else the host name, else "Mac".
QString localizedName(const QString& machineInfoPath = QStringLiteral("/etc/machine-info"));

}  // namespace spinforge::HostName
