#include "records/Decoding.h"

#include "records/Json.h"
#include "records/PathSafety.h"

#include <nlohmann/json.hpp>

#include <limits>
#include <optional>
#include <string>

namespace spinforge {
namespace {

using nlohmann::json;

// A document that is not the record it should be; `problem` names the place and what is wrong.
[[noreturn]] void refuse(const std::string& document, const std::string& problem) {
    throw PlatformError(PlatformError::Kind::decoding, QString::fromStdString(document + " is invalid"),
                        QString::fromStdString(problem));
}

// Reads the fields of one JSON object and names the place of any failure.
class ObjectReader {
public:
    ObjectReader(const json& object, std::string document, std::string place)
        : object_(object), document_(std::move(document)), place_(std::move(place)) {}

    qint64 integer(const char* key) const {
        const json& value = require(key, value_is_integer, "must be an integer");
        if (value.is_number_unsigned() &&
            value.get<std::uint64_t>() > std::uint64_t(std::numeric_limits<qint64>::max()))
            fail(key, "does not fit a 64-bit integer");
        return value.get<qint64>();
    }

    QString text(const char* key) const {
        return QString::fromStdString(require(key, &json::is_string, "must be a string").get<std::string>());
    }

    // A text that names the playlist on a drive: nothing in it may break a line.
    QString nameText(const char* key) const {
        QString value = text(key);
        if (auto why = PathSafety::displayNameProblem(value)) refuseText(key, value, *why);
        return value;
    }

    // A path below a folder of ours, on disk and on drives.
    RelativePath path(const char* key) const {
        const QString value = text(key);
        if (std::optional<RelativePath> path = RelativePath::from(value)) return std::move(*path);
        refuseText(key, value, *PathSafety::relativePathProblem(value));
    }

    ObjectReader object(const char* key) const {
        return {require(key, &json::is_object, "must be an object"), document_, placeOf(key)};
    }

    const json& array(const char* key) const { return require(key, &json::is_array, "must be an array"); }

    std::string placeOf(const char* key) const { return place_.empty() ? key : place_ + "." + key; }

    [[noreturn]] void fail(const char* key, const std::string& problem) const {
        refuse(document_, placeOf(key) + " " + problem);
    }

    // The text shows the name escaped, on one line.
    [[noreturn]] void refuseText(const char* key, const QString& value, const QString& why) const {
        fail(key, QStringLiteral("%1 %2").arg(PathSafety::quoted(value), why).toStdString());
    }

private:
    static bool value_is_integer(const json& value) { return value.is_number_integer(); }

    template <typename Check>
    const json& require(const char* key, Check check, const char* expectation) const {
        auto found = object_.find(key);
        if (found == object_.end()) fail(key, "is missing");
        if (found->is_null()) fail(key, std::string("is null but ") + expectation);
        if (!std::invoke(check, *found)) fail(key, expectation);
        return *found;
    }

    const json& object_;
    std::string document_;
    std::string place_;
};

// What the readers below read, and all that is kept of a reply as it is parsed: members they
// don't read are skipped at every level, so an unknown member costs no memory however large.
const Json::Shape kValue;
const Json::Shape kProfileShape{{{"id", &kValue}, {"folder", &kValue}, {"display_name", &kValue}}};
const Json::Shape kTrackShape{{{"id", &kValue}, {"title", &kValue}, {"artist", &kValue}, {"source", &kValue},
                               {"filename", &kValue}, {"sha256", &kValue}, {"provider_id", &kValue},
                               {"relative_path", &kValue}, {"byte_size", &kValue}, {"download_url", &kValue}}};
const Json::Shape kTracksShape{{}, &kTrackShape, true};
const Json::Shape kManifestShape{
    {{"version", &kValue}, {"profile", &kProfileShape}, {"tracks", &kTracksShape}, {"generated_at", &kValue}}};
const Json::Shape kLoginShape{{{"token", &kValue}, {"device_id", &kValue}, {"display_name", &kValue}}};

json parseTopObject(QByteArray body, const std::string& document, const Json::Shape& kept,
                    Json::ElementSink* sink = nullptr) {
    json root;
    try {
        root = Json::parse(std::move(body), &kept, sink);
    } catch (const json::parse_error& error) {
        refuse(document, "it is not JSON (error at byte " + std::to_string(error.byte) + ")");
    } catch (const json::out_of_range&) {
        // The parser's other failure: a number beyond a double's range ("1e999").
        refuse(document, "it holds a number too large to read");
    }
    if (!root.is_object()) refuse(document, "expected a JSON object");
    return root;
}

// Field order is the records' key order: the first field in it that fails is the one reported.
Profile readProfile(const ObjectReader& in) {
    Profile profile;
    profile.id = in.integer("id");
    profile.folder = in.path("folder");
    profile.displayName = in.nameText("display_name");
    return profile;
}

Track readTrack(const ObjectReader& in) {
    Track track;
    track.id = in.integer("id");
    track.title = in.text("title");
    track.artist = in.text("artist");
    track.source = in.text("source");
    track.filename = in.text("filename");
    track.sha256 = in.text("sha256");
    track.providerId = in.text("provider_id");
    track.relativePath = in.path("relative_path");
    track.byteSize = in.integer("byte_size");
    track.downloadURL = in.text("download_url");
    return track;
}

// Decodes each track as the parser completes it, so that the manifest never exists as a document
// of all its tracks: the first track that fails ends decoding at once. The fields before "tracks"
// in reading order, when the reply has already given them, are checked first, so that their
// failure still wins.
class TrackSink final : public Json::ElementSink {
public:
    TrackSink(const std::string& document, QList<Track>& tracks, qsizetype expected)
        : document_(document), tracks_(tracks), expected_(expected) {}

    void begin() override {
        tracks_.clear();
        tracks_.reserve(expected_);
    }
    void element(std::size_t index, json& value, const json& root) override {
        const std::string place = "tracks[" + std::to_string(index) + "]";
        try {
            if (!value.is_object()) refuse(document_, place + " must be an object");
            tracks_.append(sharingRepeats(readTrack(ObjectReader(value, document_, place))));
        } catch (const PlatformError&) {
            const ObjectReader in(root, document_, "");
            if (root.contains("version")) in.integer("version");
            if (root.contains("profile")) readProfile(in.object("profile"));
            throw;
        }
    }

private:
    // A text that repeats the one before it in the list (the source, an artist's run of tracks)
    // is kept once, shared by both.
    Track sharingRepeats(Track track) const {
        if (tracks_.isEmpty()) return track;
        const Track& before = tracks_.constLast();
        for (QString Track::*text : {&Track::providerId, &Track::title, &Track::artist, &Track::source, &Track::filename,
                                     &Track::sha256, &Track::downloadURL})
            if (track.*text == before.*text) track.*text = before.*text;
        return track;
    }

    const std::string& document_;
    QList<Track>& tracks_;
    const qsizetype expected_;
};

}  // namespace

Manifest decodeManifest(QByteArray body) {
    const std::string document = "The server's manifest";
    Manifest manifest;
    // Room for as many tracks as the body could hold, reserved but untouched beyond those that
    // come, so that the list never grows by copying itself. No track is written in fewer bytes.
    constexpr qsizetype kSmallestTrack = 128;
    TrackSink sink(document, manifest.tracks, body.size() / kSmallestTrack + 1);
    const json root = parseTopObject(std::move(body), document, kManifestShape, &sink);
    const ObjectReader in(root, document, "");
    manifest.version = in.integer("version");
    manifest.profile = readProfile(in.object("profile"));
    in.array("tracks");
    manifest.generatedAt = in.text("generated_at");
    return manifest;
}

LoginResponse decodeLoginResponse(const QByteArray& body) {
    const std::string document = "The server's sign-in reply";
    const json root = parseTopObject(body, document, kLoginShape);
    const ObjectReader in(root, document, "");
    LoginResponse reply;
    reply.token = in.text("token");
    reply.deviceId = in.integer("device_id");
    reply.displayName = in.text("display_name");
    return reply;
}

}  // namespace spinforge
