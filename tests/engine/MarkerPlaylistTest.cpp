// The bytes the agent leaves on a drive besides the tracks: the registration marker and the
// playlist, and the rules by which a marker is read back.

#include "engine/Playlist.h"
#include "engine/USBMarker.h"

#include <QRegularExpression>
#include <QTimeZone>
#include <gtest/gtest.h>

using spinforge::Manifest;
using spinforge::Profile;
using spinforge::Track;
using spinforge::USBMarker;

namespace {

Track trackAt(const QString& relativePath) {
    Track track;
    track.relativePath = relativePath;
    return track;
}

TEST(Marker, IsCompactJsonInFieldOrderWithoutLineEnd) {
    const Profile profile{7, QStringLiteral("Zoë / Ünïcode"), QStringLiteral("zoe/sets")};
    const QDateTime moment(QDate(2026, 12, 6), QTime(19, 45, 6, 789), Qt::UTC);
    EXPECT_EQ(USBMarker::forProfile(profile, moment).encoded().toStdString(),
              "{\"version\":1,\"profile_id\":7,\"profile_name\":\"Zoë / Ünïcode\","
              "\"library_folder\":\"DJ-Music/zoe/sets\",\"registered_at\":\"2026-12-06T19:45:06Z\"}");
}

TEST(Marker, RegistrationTimeIsUtcWithWholeSeconds) {
    const QDateTime inParis(QDate(2027, 1, 1), QTime(0, 30, 59, 999), QTimeZone(3600));
    EXPECT_EQ(USBMarker::timestamp(inParis), QStringLiteral("2026-12-31T23:30:59Z"));
    const QString now = USBMarker::timestamp(QDateTime::currentDateTime());
    EXPECT_EQ(now.size(), 20);
    EXPECT_TRUE(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$").match(now).hasMatch()) << now.toStdString();
}

TEST(Marker, ReadsWhatItWritesAndWhatOtherWritersMayWrite) {
    const USBMarker marker{1, 42, QStringLiteral("DJ"), QStringLiteral("DJ-Music/a/b"), QStringLiteral("2026-12-06T19:45:06Z")};
    EXPECT_EQ(USBMarker::decode(marker.encoded()), marker);
    // Escaped slashes, keys in another order, pretty-printing and unknown keys are all fine.
    const auto other = USBMarker::decode(R"({ "registered_at": "x", "extra": [1, {"a": null}],
        "library_folder": "DJ-Music\/a\/b", "profile_name": "DJ", "profile_id": 42, "version": 3 })");
    ASSERT_TRUE(other);
    EXPECT_EQ(other->profileId, 42);
    EXPECT_EQ(other->libraryFolder, QStringLiteral("DJ-Music/a/b"));
    EXPECT_EQ(other->version, 3);
}

TEST(Marker, RejectsAnythingButFiveKeysOfTheRightTypes) {
    const char* const invalid[] = {
        R"({"version":1,"profile_id":"7","profile_name":"a","library_folder":"b","registered_at":"c"})",
        R"({"version":1,"profile_id":7,"profile_name":"a","library_folder":"b"})",
        R"({"version":1.0,"profile_id":7,"profile_name":"a","library_folder":"b","registered_at":"c"})",
        R"({"version":1,"profile_id":7.5,"profile_name":"a","library_folder":"b","registered_at":"c"})",
        R"({"version":1,"profile_id":null,"profile_name":"a","library_folder":"b","registered_at":"c"})",
        R"({"version":1,"profile_id":9223372036854775808,"profile_name":"a","library_folder":"b","registered_at":"c"})",
        R"({"version":1,"profile_id":7,"profile_name":3,"library_folder":"b","registered_at":"c"})",
        R"({"version":true,"profile_id":7,"profile_name":"a","library_folder":"b","registered_at":"c"})",
        R"([{"version":1,"profile_id":7,"profile_name":"a","library_folder":"b","registered_at":"c"}])",
        R"({"version":1,"profile_id":7,"profile_name":"a","library_folder":"b","registered_at":"c")",
        "", "null", "\xff\xfe",
    };
    for (const char* text : invalid) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(USBMarker::decode(QByteArray(text)));
    }
    const auto negative = USBMarker::decode(
        R"({"version":1,"profile_id":-9223372036854775808,"profile_name":"a","library_folder":"b","registered_at":"c"})");
    ASSERT_TRUE(negative);
    EXPECT_EQ(negative->profileId, std::numeric_limits<qint64>::min());
}

TEST(Playlist, ListsEveryTrackFromTheDriveRootInManifestOrder) {
    Manifest manifest;
    manifest.profile = {1, QStringLiteral("Alice"), QStringLiteral("alice")};
    manifest.tracks = {trackAt("House/a.mp3"), trackAt("b.mp3"), trackAt("Ünï/c d.flac"), trackAt("b.mp3")};
    EXPECT_EQ(spinforge::Playlist::text(manifest).toStdString(),
              "#EXTM3U\nDJ-Music/alice/House/a.mp3\nDJ-Music/alice/b.mp3\nDJ-Music/alice/Ünï/c d.flac\n"
              "DJ-Music/alice/b.mp3\n");
    manifest.tracks.clear();
    EXPECT_EQ(spinforge::Playlist::text(manifest), QByteArray("#EXTM3U\n"));
}

TEST(Playlist, FileNameCarriesTheDisplayNameUnchanged) {
    EXPECT_EQ(spinforge::Playlist::fileName({1, QStringLiteral("DJ Zoë  Ø"), QStringLiteral("x")}).toUtf8(),
              QByteArray("Spinforge \xE2\x80\x94 DJ Zo\xC3\xAB  \xC3\x98.m3u8"));
    EXPECT_EQ(spinforge::Playlist::fileName({1, QString(), QStringLiteral("x")}),
              QStringLiteral("Spinforge \u2014 .m3u8"));
}

}  // namespace
