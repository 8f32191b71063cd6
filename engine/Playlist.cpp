#include "engine/Playlist.h"

namespace spinforge::Playlist {

QString driveFolder(const Profile& profile) {
    return QStringLiteral("DJ-Music/") + profile.folder.text();
}

QString fileName(const Profile& profile) {
    // A "/" can't stand in a file name; DIVISION SLASH looks the same and keeps "AC/DC" readable.
    QString name = profile.displayName;
    name.replace(u'/', QChar(0x2215));
    return QStringLiteral("Spinforge \u2014 ") + name + QStringLiteral(".m3u8");
}

QByteArray text(const Manifest& manifest) {
    const QByteArray folder = driveFolder(manifest.profile).toUtf8() + '/';
    // Written as UTF-8 line by line: a library's list of paths is not held a second time in UTF-16.
    QByteArray lines = "#EXTM3U\n";
    for (const Track& track : manifest.tracks) lines += folder + track.relativePath.text().toUtf8() + '\n';
    return lines;
}

}  // namespace spinforge::Playlist
