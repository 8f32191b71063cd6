#pragma once
// The registration marker at the root of a drive, ".dj-sync.json": which account's profile the
// drive belongs to. Written whole at registration, read at every sync cycle; of what is read
// only the profile id matters, the rest is for people looking at the drive.

#include "records/Records.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

namespace spinforge {

struct USBMarker {
    qint64 version = 1;
    qint64 profileId = 0;
    QString profileName;
    QString libraryFolder;  // "DJ-Music/" + the profile's folder
    QString registeredAt;   // UTC, whole seconds: "2026-12-06T19:45:06Z"
    friend bool operator==(const USBMarker&, const USBMarker&) = default;

    static inline const QString fileName = QStringLiteral(".dj-sync.json");

    // The marker that registers a drive for `profile` at `now`.
    static USBMarker forProfile(const Profile& profile, const QDateTime& now = QDateTime::currentDateTimeUtc());
    // `now` in UTC with whole seconds, 20 characters.
    static QString timestamp(const QDateTime& now);

    // Compact JSON, keys in the order of the fields, no line end.
    QByteArray encoded() const;
    // A marker from the bytes of a marker file, or nullopt unless they are a JSON object with all
    // five keys of the right JSON types. Other keys are ignored.
    static std::optional<USBMarker> decode(const QByteArray& bytes);
};

}  // namespace spinforge
