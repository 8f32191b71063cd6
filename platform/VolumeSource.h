#pragma once
// Where mounted drives are found: the kernel's mount table, and the folders below which desktop
// automounters put removable drives. Tests point both at their own.

#include <QString>
#include <QStringList>

namespace spinforge {

struct VolumeSource {
    QString mountTable = QStringLiteral("/proc/self/mountinfo");
    QStringList prefixes = {QStringLiteral("/media/"), QStringLiteral("/run/media/")};
};

}  // namespace spinforge
