// The service's replies from any bytes: each decodes or fails with a one-line decoding failure; a
// decoded manifest holds no name that leaves its folder or holds a control character, so its
// playlist has one line per track; members the records don't read change nothing.
#include "engine/Playlist.h"
#include "fuzz/FuzzSupport.h"
#include "records/Decoding.h"
#include "records/Json.h"

#include <QStringList>

#include <algorithm>
#include <filesystem>
#include <set>
#include <variant>

using namespace spinforge;
using spinforge::fuzz::shown;
using spinforge::fuzz::violated;

namespace {

namespace fs = std::filesystem;

// Where the names end up: the account's folder on a drive with the tracks below it, the playlist at its root.
const fs::path kDriveRoot = "/media/kim/DJ USB";
const fs::path kMusicFolder = kDriveRoot / "DJ-Music";

// By the standard library's path rules, not PathSafety's, so that a mistake in those cannot hide here.
bool staysStrictlyBelow(const fs::path& folder, const QString& relative) {
    if (relative.contains(QChar(u'\0'))) return false;  // the system would cut the name there
    const fs::path joined = (folder / relative.toStdString()).lexically_normal();
    const fs::path inside = joined.lexically_relative(folder);
    return !inside.empty() && inside != "." && *inside.begin() != "..";
}

QStringList relativePaths(const Manifest& manifest) {
    QStringList paths;
    for (const Track& track : manifest.tracks) paths << track.relativePath.text();
    return paths;
}

// The playlist's name must be a file right in the drive's root.
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
    const QString& folder = profile.folder.text();
    if (!staysStrictlyBelow(kMusicFolder, folder)) violated("a decoded profile folder stays below DJ-Music/", shown(folder));
    if (!isOneNameInTheRoot(profile))
        violated("a decoded display name makes one playlist name in the drive's root", shown(profile.displayName));
    const fs::path accountFolder = kMusicFolder / folder.toStdString();
    for (const QString& path : relativePaths(manifest))
        if (!staysStrictlyBelow(accountFolder, path)) violated("a decoded track path stays below the account's folder", shown(path));
    for (const QString& name : QStringList{folder, profile.displayName} + relativePaths(manifest))
        if (holdsControlByte(name.toStdString())) violated("a decoded name holds no control character", shown(name));
    const QByteArray playlist = Playlist::text(manifest);
    if (playlist.count('\n') != manifest.tracks.size() + 1)
        violated("the playlist holds one line per track", shown(QString::fromUtf8(playlist)));
}

void checkFailure(const PlatformError& error) {
    if (error.kind() != PlatformError::Kind::decoding) violated("a reply that does not decode fails as one", shown(error.what()));
    if (holdsControlByte(error.what())) violated("a decoding failure's text is one line", shown(error.what()));
}

// The keys each record reads, written out here apart from the decoder's own tables.
using Keys = std::set<std::string>;
const Keys kManifestKeys{"version", "generated_at", "profile", "tracks"};
const Keys kProfileKeys{"id", "display_name", "folder"};
const Keys kTrackKeys{"id", "provider_id", "title", "artist", "source", "filename",
                      "relative_path", "sha256", "byte_size", "download_url"};
const Keys kLoginKeys{"device_id", "token", "display_name"};

void keepOnly(nlohmann::json& object, const Keys& keys) {
    if (!object.is_object()) return;
    for (auto member = object.begin(); member != object.end();)
        member = keys.count(member.key()) ? std::next(member) : object.erase(member);
}

// A fraction is not written out as it was read: where one is kept, the round trip would be judged.
bool holdsFraction(const nlohmann::json& value) {
    if (value.is_number_float()) return true;
    if (value.is_structured())
        for (const nlohmann::json& item : value)
            if (holdsFraction(item)) return true;
    return false;
}

// What decoding gives: the record, or the failure's text.
template <class Decode>
std::variant<std::string, decltype(std::declval<Decode>()(QByteArray()))> outcome(Decode decode, const QByteArray& body) {
    try {
        return decode(body);
    } catch (const PlatformError& error) {
        return std::string(error.what());
    }
}

// Whether some object of the document names a key twice. Written out again, such a document
// keeps only the last of each, while the decoder may have met (and refused) a track of the first.
struct RepeatedKeys : nlohmann::json_sax<nlohmann::json> {
    std::vector<std::set<std::string>> open;
    bool repeated = false;
    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool start_object(std::size_t) override { return open.emplace_back(), true; }
    bool key(string_t& name) override { return repeated |= !open.back().insert(name).second, true; }
    bool end_object() override { return open.pop_back(), true; }
    bool start_array(std::size_t) override { return true; }
    bool end_array() override { return true; }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }
};
bool repeatsAKey(const QByteArray& body) {
    RepeatedKeys keys;
    nlohmann::json::sax_parse(body.begin(), body.end(), &keys);
    return keys.repeated;
}

// The reply without its unknown members (removed with nlohmann's own operations) decodes as it does.
void checkUnknownMembersChangeNothing(const QByteArray& body) {
    nlohmann::json document;
    try {
        document = Json::parse(body);
    } catch (const nlohmann::json::exception&) {
        return;  // not JSON: nothing to take out
    }
    if (repeatsAKey(body)) return;
    nlohmann::json manifest = document, login = document;
    keepOnly(manifest, kManifestKeys);
    if (manifest.contains("profile")) keepOnly(manifest["profile"], kProfileKeys);
    if (manifest.contains("tracks") && manifest["tracks"].is_array())
        for (nlohmann::json& track : manifest["tracks"]) keepOnly(track, kTrackKeys);
    keepOnly(login, kLoginKeys);
    const auto dumped = [](const nlohmann::json& json) { return QByteArray::fromStdString(json.dump()); };
    if (!holdsFraction(manifest) && outcome(decodeManifest, body) != outcome(decodeManifest, dumped(manifest)))
        violated("a manifest decodes as it does without its unknown members", shown(QString::fromUtf8(body)));
    if (!holdsFraction(login) && outcome(decodeLoginResponse, body) != outcome(decodeLoginResponse, dumped(login)))
        violated("a sign-in reply decodes as it does without its unknown members", shown(QString::fromUtf8(body)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray body = spinforge::fuzz::bytesOf(data, size);
    try {
        checkManifest(decodeManifest(body));
    } catch (const PlatformError& error) {
        checkFailure(error);
    }
    try {
        decodeLoginResponse(body);
    } catch (const PlatformError& error) {
        checkFailure(error);
    }
    checkUnknownMembersChangeNothing(body);
    return 0;
}
