// The service's replies, decoded from any bytes: each either decodes or fails with DecodingError
// (nothing else may escape) whose text is one whole line, and a manifest that decodes holds no
// profile folder, display name or track path that would leave its folder on disk or hold a control
// character, so that its playlist has exactly one line per track.
#include "engine/Playlist.h"
#include "fuzz/FuzzSupport.h"
#include "records/Decoding.h"

#include <QStringList>

#include <algorithm>
#include <filesystem>

using namespace spinforge;
using spinforge::fuzz::shown;
using spinforge::fuzz::violated;

namespace {

namespace fs = std::filesystem;

// Stand-ins for where the names end up: the account's folder on a drive, below it the tracks;
// the playlist at the drive's root.
const fs::path kDriveRoot = "/media/kim/DJ USB";
const fs::path kMusicFolder = kDriveRoot / "DJ-Music";

// Judged by the standard library's lexical path rules, not by PathSafety's own, so that a
// mistake in those rules cannot hide itself here.
bool staysStrictlyBelow(const fs::path& folder, const QString& relative) {
    if (relative.contains(QChar(u'\0'))) return false;  // the system would cut the name there
    const fs::path joined = (folder / relative.toStdString()).lexically_normal();
    const fs::path inside = joined.lexically_relative(folder);
    return !inside.empty() && inside != "." && *inside.begin() != "..";
}

// The playlist's name must be a file right in the drive's root.
QStringList relativePaths(const Manifest& manifest) {
    QStringList paths;
    for (const Track& track : manifest.tracks) paths << track.relativePath;
    return paths;
}

bool isOneNameInTheRoot(const Profile& profile) {
    const QString fileName = Playlist::fileName(profile);
    if (fileName.contains(QChar(u'\0'))) return false;
    const fs::path joined = (kDriveRoot / fileName.toStdString()).lexically_normal();
    return joined.parent_path() == kDriveRoot && joined.filename() == fileName.toStdString();
}

// Judged byte by byte, not by PathSafety's rule: C0 controls and DEL.
bool holdsControlByte(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return (unsigned char)c < 0x20 || c == 0x7f; });
}

void checkManifest(const Manifest& manifest) {
    const Profile& profile = manifest.profile;
    if (!staysStrictlyBelow(kMusicFolder, profile.folder))
        violated("a decoded profile folder stays below DJ-Music/", shown(profile.folder));
    if (!isOneNameInTheRoot(profile))
        violated("a decoded display name makes one playlist name in the drive's root", shown(profile.displayName));
    const fs::path accountFolder = kMusicFolder / profile.folder.toStdString();
    for (const Track& track : manifest.tracks) {
        if (!staysStrictlyBelow(accountFolder, track.relativePath))
            violated("a decoded track path stays below the account's folder", shown(track.relativePath));
    }
    for (const QString& name : QStringList{profile.folder, profile.displayName} + relativePaths(manifest))
        if (holdsControlByte(name.toStdString())) violated("a decoded name holds no control character", shown(name));
    const QByteArray playlist = Playlist::text(manifest);
    if (playlist.count('\n') != manifest.tracks.size() + 1)
        violated("the playlist holds one line per track", shown(QString::fromUtf8(playlist)));
}

void checkFailure(const DecodingError& error) {
    if (holdsControlByte(error.what())) violated("a decoding failure's text is one line", shown(error.what()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray body = spinforge::fuzz::bytesOf(data, size);
    try {
        checkManifest(decodeManifest(body));
    } catch (const DecodingError& error) {
        checkFailure(error);
    }
    try {
        decodeLoginResponse(body);
    } catch (const DecodingError& error) {
        checkFailure(error);
    }
    return 0;
}
