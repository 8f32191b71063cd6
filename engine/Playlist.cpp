#include "engine/Playlist.h"

namespace spinforge::Playlist {

QString driveFolder(const Profile& profile) {
    return QStringLiteral("DJ-Music/") + profile.folder;
}

QString fileName(const Profile& profile) {
    // A "/" can't stand in a file name; DIVISION SLASH looks the same and keeps "AC/DC" readable.
    QString name = profile.displayName;
    name.replace(u'/', QChar(0x2215));
    return QStringLiteral("Spinforge \u2014 ") + name + QStringLiteral(".m3u8");
}

QByteArray text(const Manifest& manifest) {
    const QString folder = driveFolder(manifest.profile);
    QString lines = QStringLiteral("#EXTM3U\n");
    for (const Track& track : manifest.tracks) lines += folder + u'/' + track.relativePath + u'\n';
    return lines.toUtf8();
}

}  // namespace spinforge::Playlist
