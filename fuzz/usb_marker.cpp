// A drive's marker from any bytes: decoding fails only as nullopt, a decoded marker is written back
// as one line that decodes to itself, and a marker written for any profile reads back as written.
#include "engine/USBMarker.h"
#include "fuzz/FuzzSupport.h"

using namespace spinforge;
using spinforge::fuzz::shown;
using spinforge::fuzz::violated;

namespace {

QString described(const USBMarker& marker) {
    return QStringLiteral("version %1, profile %2, name %3, folder %4, registered %5")
        .arg(marker.version)
        .arg(marker.profileId)
        .arg(shown(marker.profileName), shown(marker.libraryFolder), shown(marker.registeredAt));
}

void checkWrittenBack(const USBMarker& marker, const char* property) {
    const QByteArray written = marker.encoded();
    if (written.contains('\n')) violated("a marker is written as one line", QString::fromUtf8(written));
    const std::optional<USBMarker> reread = USBMarker::decode(written);
    if (!reread) violated(property, described(marker) + QStringLiteral(" -> nothing from ") + QString::fromUtf8(written));
    if (*reread != marker) violated(property, described(marker) + QStringLiteral(" -> ") + described(*reread));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes = spinforge::fuzz::bytesOf(data, size);
    if (const std::optional<USBMarker> marker = USBMarker::decode(bytes))
        checkWrittenBack(*marker, "a decoded marker written back decodes to itself");

    // The same bytes as the names of a profile being registered (valid UTF-8, as decoded).
    const QString text = QString::fromUtf8(bytes);
    const Profile profile{qint64(size) - 64, text, RelativePath::from(text).value_or(RelativePath())};
    const QDateTime registered = QDateTime::fromSecsSinceEpoch(qint64(qChecksum(bytes)) * 40000, Qt::UTC);
    checkWrittenBack(USBMarker::forProfile(profile, registered), "a marker written at registration reads back");
    return 0;
}
