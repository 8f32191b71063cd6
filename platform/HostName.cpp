#include "platform/HostName.h"

#include <QFile>
#include <QSysInfo>

namespace spinforge::HostName {
namespace {

// machine-info is a shell-style assignment list: PRETTY_HOSTNAME="Kim's Laptop".
QString prettyHostName(const QString& machineInfoPath) {
    QFile file(machineInfoPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (!line.startsWith(QStringLiteral("PRETTY_HOSTNAME="))) continue;
        QString value = line.mid(int(qstrlen("PRETTY_HOSTNAME=")));
        if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        value.replace(QStringLiteral("\\\""), QStringLiteral("\"")).replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
        return value.trimmed();
    }
    return {};
}

}  // namespace

QString localizedName(const QString& machineInfoPath) {
    if (QString pretty = prettyHostName(machineInfoPath); !pretty.isEmpty()) return pretty;
    if (QString host = QSysInfo::machineHostName(); !host.isEmpty()) return host;
    return QStringLiteral("Mac");
}

}  // namespace spinforge::HostName
