// The kernel's mount table as any bytes: every mount point read is an absolute path without a
// NUL, and every candidate drive lies strictly below one of the automount folders with no
// hidden folder on the way and no ".." left, so the agent never writes outside those folders.
#include "fuzz/FuzzSupport.h"
#include "platform/MountTable.h"
#include "platform/VolumeSource.h"

using namespace spinforge;
using spinforge::fuzz::shown;
using spinforge::fuzz::violated;

namespace {

// The components of an absolute path once "." and ".." are resolved as written, the way the
// cleaned path is meant to be read; independent of QDir::cleanPath on purpose.
QStringList resolvedComponents(const QString& path) {
    QStringList components;
    for (const QString& part : path.split(u'/')) {
        if (part.isEmpty() || part == u".") continue;
        if (part == u"..") {
            if (!components.isEmpty()) components.removeLast();
            continue;
        }
        components.append(part);
    }
    return components;
}

bool isStrictlyBelowOneOf(const QStringList& components, const QStringList& prefixes) {
    for (const QString& prefix : prefixes) {
        const QStringList folder = resolvedComponents(prefix);
        if (components.size() > folder.size() && components.mid(0, folder.size()) == folder) return true;
    }
    return false;
}

void checkCandidate(const QString& point, const QStringList& prefixes) {
    if (!MountTable::isCandidate(point, prefixes)) return;
    const QStringList components = resolvedComponents(point);
    if (!isStrictlyBelowOneOf(components, prefixes))
        violated("a candidate lies strictly below an automount folder", shown(point));
    for (const QString& component : components) {
        if (component.startsWith(u'.')) violated("no folder on a candidate's way is hidden or \"..\"", shown(point));
    }
    if (MountTable::volumeName(point) != components.last())
        violated("a candidate's volume name is its last folder", shown(point) + QStringLiteral(" -> ") + shown(MountTable::volumeName(point)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QStringList points = MountTable::mountPoints(spinforge::fuzz::bytesOf(data, size));
    // The folders the agent watches, a test's own folder given without its slash, and the root.
    const QStringList prefixSets[] = {VolumeSource{}.prefixes, {QStringLiteral("/tmp/spinforge-drives")},
                                      {QStringLiteral("/")}};
    for (const QString& point : points) {
        if (!point.startsWith(u'/') || point.contains(QChar(u'\0')))
            violated("a mount point is an absolute path without NUL", shown(point));
        for (const QStringList& prefixes : prefixSets) checkCandidate(point, prefixes);
    }
    return 0;
}
