#include "engine/USBMarker.h"

#include "engine/Playlist.h"
#include "records/Json.h"

#include <nlohmann/json.hpp>

namespace spinforge {
namespace {

using nlohmann::json;

std::optional<qint64> integerAt(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_number_integer()) return std::nullopt;
    if (found->is_number_unsigned() && found->get<std::uint64_t>() > std::uint64_t(INT64_MAX)) return std::nullopt;
    return found->get<qint64>();
}

std::optional<QString> textAt(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_string()) return std::nullopt;
    return QString::fromStdString(found->get<std::string>());
}

}  // namespace

USBMarker USBMarker::forProfile(const Profile& profile, const QDateTime& now) {
    return {1, profile.id, profile.displayName, Playlist::driveFolder(profile), timestamp(now)};
}

QString USBMarker::timestamp(const QDateTime& now) {
    return now.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
}

QByteArray USBMarker::encoded() const {
    nlohmann::ordered_json object;
    object["version"] = version;
    object["profile_id"] = profileId;
    object["profile_name"] = profileName.toStdString();
    object["library_folder"] = libraryFolder.toStdString();
    object["registered_at"] = registeredAt.toStdString();
    return QByteArray::fromStdString(object.dump(-1, ' ', false, json::error_handler_t::replace));
}

std::optional<USBMarker> USBMarker::decode(const QByteArray& bytes) {
    json object;
    try {
        object = Json::parse(bytes);
    } catch (const json::exception&) {
        return std::nullopt;
    }
    if (!object.is_object()) return std::nullopt;
    const auto version = integerAt(object, "version");
    const auto profileId = integerAt(object, "profile_id");
    const auto profileName = textAt(object, "profile_name");
    const auto libraryFolder = textAt(object, "library_folder");
    const auto registeredAt = textAt(object, "registered_at");
    if (!version || !profileId || !profileName || !libraryFolder || !registeredAt) return std::nullopt;
    return USBMarker{*version, *profileId, *profileName, *libraryFolder, *registeredAt};
}

}  // namespace spinforge
