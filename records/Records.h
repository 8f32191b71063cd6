#pragma once
// The records the service sends: plain immutable values, copied freely.
// Decoding lives in Decoding.h; nothing here has behaviour.

#include "records/RelativePath.h"

#include <QString>
#include <QList>

namespace spinforge {

// The account profile inside the manifest.
struct Profile {
    qint64 id = 0;
    QString displayName;  // "display_name"; never holds a control character once decoded
    RelativePath folder;  // "folder": below "DJ-Music/" on a drive
    friend bool operator==(const Profile&, const Profile&) = default;
};

// One track that belongs on the account's drives.
struct Track {
    qint64 id = 0;
    QString providerId;
    QString title;
    QString artist;
    QString source;
    QString filename;      // shown only in the integrity-failure message
    RelativePath relativePath;  // below the library folder and the drive folder
    QString sha256;        // expected digest, hexadecimal in either letter case
    qint64 byteSize = 0;   // expected size in bytes
    QString downloadURL;   // a URL reference resolved against the server URL
    friend bool operator==(const Track&, const Track&) = default;
};

// The account's whole library as the service sees it.
struct Manifest {
    qint64 version = 0;
    QString generatedAt;  // carried as text, never parsed as a date
    Profile profile;
    QList<Track> tracks;  // in the service's order; never sorted or filtered
    friend bool operator==(const Manifest&, const Manifest&) = default;
};

// The service's answer to a successful sign-in.
struct LoginResponse {
    qint64 deviceId = 0;
    QString token;
    QString displayName;
    friend bool operator==(const LoginResponse&, const LoginResponse&) = default;
};

}  // namespace spinforge
