// The service's replies go through one strict decoder: these tests pin down what it accepts,
// what it refuses, and which place it names when it refuses.
#include "records/Decoding.h"
#include "records/PathSafety.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

using nlohmann::json;
using namespace spinforge;

namespace {

const std::string kManifestInvalid = "The server's manifest is invalid: ";
const std::string kLoginInvalid = "The server's sign-in reply is invalid: ";

json validTrack(int id) {
    const std::string n = std::to_string(id);
    return {{"id", id}, {"provider_id", "prov-" + n}, {"title", "Title " + n}, {"artist", "Artist " + n},
            {"source", "upload"}, {"filename", "track" + n + ".mp3"},
            {"relative_path", "Artist " + n + "/track" + n + ".mp3"}, {"sha256", "ABCdef" + n},
            {"byte_size", 1000 + id}, {"download_url", "/files/" + n}};
}

json validManifest() {
    return {{"version", 7},
            {"generated_at", "2024-05-01T10:00:00Z"},
            {"profile", {{"id", 42}, {"display_name", "DJ Nova"}, {"folder", "Nova/Sets"}}},
            {"tracks", {validTrack(1), validTrack(2), validTrack(3)}}};
}

json validLogin() { return {{"device_id", 9}, {"token", "tok-123"}, {"display_name", "DJ Nova"}}; }

QByteArray bytes(const json& document) { return QByteArray::fromStdString(document.dump()); }

// The message decoding `body` fails with, or "" when it decodes.
template <typename Decode>
std::string failureOf(Decode decode, const QByteArray& body) {
    try {
        decode(body);
    } catch (const DecodingError& error) {
        return error.what();
    }
    return {};
}
std::string manifestFailure(const json& document) { return failureOf(decodeManifest, bytes(document)); }
std::string loginFailure(const json& document) { return failureOf(decodeLoginResponse, bytes(document)); }

// The message must name `place` as the one at fault ("tracks[1].title is missing").
void expectNames(const std::string& message, const std::string& prefix, const std::string& place) {
    EXPECT_EQ(message.rfind(prefix + place + " ", 0), 0u) << "message: \"" << message << "\"";
}

// One field of a document, addressed both as a JSON pointer and as the place the message names.
struct Field {
    std::string pointer;
    std::string place;
    json wrongType;
    json otherWrongType;
};

const std::vector<Field> kManifestFields = {
    {"/version", "version", "7", 1.5},
    {"/generated_at", "generated_at", 20240501, json::array()},
    {"/profile", "profile", json::array(), "DJ Nova"},
    {"/tracks", "tracks", json::object(), "[]"},
    {"/profile/id", "profile.id", "42", 42.0},
    {"/profile/display_name", "profile.display_name", 5, json::object()},
    {"/profile/folder", "profile.folder", true, json::array({"Nova"})},
    {"/tracks/1/id", "tracks[1].id", "2", 2.0},
    {"/tracks/1/provider_id", "tracks[1].provider_id", 123, false},
    {"/tracks/1/title", "tracks[1].title", 1, json::array()},
    {"/tracks/1/artist", "tracks[1].artist", 1, json::object()},
    {"/tracks/1/source", "tracks[1].source", 1, true},
    {"/tracks/1/filename", "tracks[1].filename", 1, json::array()},
    {"/tracks/1/relative_path", "tracks[1].relative_path", 1, json::array()},
    {"/tracks/1/sha256", "tracks[1].sha256", 1, json::object()},
    {"/tracks/1/byte_size", "tracks[1].byte_size", "1002", 1002.0},
    {"/tracks/1/download_url", "tracks[1].download_url", 1, json::object()},
};

const std::vector<Field> kLoginFields = {
    {"/device_id", "device_id", "9", 9.0},
    {"/token", "token", 123, json::array()},
    {"/display_name", "display_name", 1, json::object()},
};

void erase(json& document, const std::string& pointer) {
    const json::json_pointer at(pointer);
    document.at(at.parent_pointer()).erase(at.back());
}

}  // namespace

TEST(Decoding, ValidManifestCarriesEveryField) {
    const Manifest manifest = decodeManifest(bytes(validManifest()));
    EXPECT_EQ(manifest.version, 7);
    EXPECT_EQ(manifest.generatedAt, "2024-05-01T10:00:00Z");
    EXPECT_EQ(manifest.profile, (Profile{42, "DJ Nova", "Nova/Sets"}));
    ASSERT_EQ(manifest.tracks.size(), 3);
    EXPECT_EQ(manifest.tracks[1], (Track{2, "prov-2", "Title 2", "Artist 2", "upload", "track2.mp3",
                                         "Artist 2/track2.mp3", "ABCdef2", 1002, "/files/2"}));
}

TEST(Decoding, ValidLoginReplyCarriesEveryField) {
    EXPECT_EQ(decodeLoginResponse(bytes(validLogin())), (LoginResponse{9, "tok-123", "DJ Nova"}));
}

TEST(Decoding, TheExampleMessageIsTheUserFacingText) {
    json document = validManifest();
    document["tracks"] = {validTrack(0), validTrack(1), validTrack(2), validTrack(3), validTrack(4)};
    document["tracks"][4]["provider_id"] = 77;
    EXPECT_EQ(manifestFailure(document), kManifestInvalid + "tracks[4].provider_id must be a string");
}

// Every field is required, may not be null and must have its own JSON type.
TEST(Decoding, EveryFieldIsRequiredNonNullAndTyped) {
    const auto check = [](const json& valid, const std::vector<Field>& fields, const std::string& prefix,
                          auto failure) {
        for (const Field& field : fields) {
            SCOPED_TRACE(field.pointer);
            json missing = valid, null = valid, wrong = valid, otherWrong = valid;
            erase(missing, field.pointer);
            null[json::json_pointer(field.pointer)] = nullptr;
            wrong[json::json_pointer(field.pointer)] = field.wrongType;
            otherWrong[json::json_pointer(field.pointer)] = field.otherWrongType;
            for (const json* broken : {&missing, &null, &wrong, &otherWrong})
                expectNames(failure(*broken), prefix, field.place);
        }
    };
    check(validManifest(), kManifestFields, kManifestInvalid, manifestFailure);
    check(validLogin(), kLoginFields, kLoginInvalid, loginFailure);
}

TEST(Decoding, BodiesThatAreNotAJsonObjectFail) {
    const std::string full = validManifest().dump();
    const std::vector<std::string> bodies = {
        "", "   ", "<html>502 Bad Gateway</html>", full.substr(0, full.size() / 2), full.substr(0, full.size() - 1),
        "[]", "null", "\"manifest\"", "42", "[" + full + "]"};
    for (const std::string& body : bodies) {
        SCOPED_TRACE(body);
        EXPECT_EQ(failureOf(decodeManifest, QByteArray::fromStdString(body)).rfind(kManifestInvalid, 0), 0u);
        EXPECT_EQ(failureOf(decodeLoginResponse, QByteArray::fromStdString(body)).rfind(kLoginInvalid, 0), 0u);
    }
}

// A number the JSON reader can't hold is the service's fault like any other, not a crash.
TEST(Decoding, NumbersTooLargeToReadAreDecodingErrors) {
    EXPECT_EQ(failureOf(decodeLoginResponse, QByteArray(R"({"token": "t", "profile_id": 1e999})")),
              kLoginInvalid + "it holds a number too large to read");
    EXPECT_EQ(failureOf(decodeManifest, QByteArray(R"({"profile": {"id": -1e999}})")).rfind(kManifestInvalid, 0), 0u);
}

TEST(Decoding, IntegersAreSigned64Bit) {
    struct Case { std::string literal; bool decodes; qint64 value; };
    const std::vector<Case> cases = {
        {"0", true, 0},
        {"4294967296", true, 4294967296LL},
        {"9223372036854775807", true, std::numeric_limits<qint64>::max()},
        {"-1", true, -1},
        {"-9223372036854775808", true, std::numeric_limits<qint64>::min()},
        {"9223372036854775808", false, 0},
        {"18446744073709551615", false, 0},
        {"18446744073709551616", false, 0},
        {"-9223372036854775809", false, 0},
        {"1.0", false, 0},
        {"1.5", false, 0},
        {"1e3", false, 0},
        {"true", false, 0},
    };
    // Each integer field in turn holds the literal, written into the body exactly as given.
    const std::vector<std::pair<std::string, std::string>> fields = {
        {"/version", "version"}, {"/profile/id", "profile.id"},
        {"/tracks/1/id", "tracks[1].id"}, {"/tracks/1/byte_size", "tracks[1].byte_size"}};
    for (const auto& [pointer, place] : fields) {
        for (const Case& c : cases) {
            SCOPED_TRACE(place + " = " + c.literal);
            json document = validManifest();
            document[json::json_pointer(pointer)] = "@INTEGER@";
            std::string body = document.dump();
            body.replace(body.find("\"@INTEGER@\""), 11, c.literal);
            if (!c.decodes) {
                expectNames(failureOf(decodeManifest, QByteArray::fromStdString(body)), kManifestInvalid, place);
                continue;
            }
            const Manifest manifest = decodeManifest(QByteArray::fromStdString(body));
            const qint64 decoded = pointer == "/version"      ? manifest.version
                                   : pointer == "/profile/id" ? manifest.profile.id
                                   : pointer == "/tracks/1/id" ? manifest.tracks[1].id
                                                               : manifest.tracks[1].byteSize;
            EXPECT_EQ(decoded, c.value);
        }
    }
    json login = validLogin();
    login["device_id"] = std::numeric_limits<qint64>::min();
    EXPECT_EQ(decodeLoginResponse(bytes(login)).deviceId, std::numeric_limits<qint64>::min());
    login["device_id"] = 9223372036854775808ULL;
    expectNames(loginFailure(login), kLoginInvalid, "device_id");
}

TEST(Decoding, UnknownKeysAreIgnoredAtEveryLevel) {
    json extra = validManifest();
    extra["schema"] = "v2";
    extra["tracks_count"] = 3;
    extra["profile"]["displayName"] = "Someone Else";
    extra["profile"]["plan"] = {{"tier", "pro"}};
    for (json& track : extra["tracks"]) {
        track["providerId"] = 999;
        track["bpm"] = nullptr;
    }
    EXPECT_EQ(decodeManifest(bytes(extra)), decodeManifest(bytes(validManifest())));

    json login = validLogin();
    login["expires_at"] = nullptr;
    login["deviceId"] = "x";
    EXPECT_EQ(decodeLoginResponse(bytes(login)), decodeLoginResponse(bytes(validLogin())));
}

TEST(Decoding, CamelCaseKeysDoNotStandInForTheRealOnes) {
    json manifest = validManifest();
    manifest["profile"]["displayName"] = manifest["profile"]["display_name"];
    manifest["profile"].erase("display_name");
    expectNames(manifestFailure(manifest), kManifestInvalid, "profile.display_name");

    json login = validLogin();
    login["displayName"] = login["display_name"];
    login.erase("display_name");
    expectNames(loginFailure(login), kLoginInvalid, "display_name");
}

// Fields are read in a fixed order; when two are broken the earlier one is reported.
TEST(Decoding, TheFirstFailingFieldInReadingOrderIsReported) {
    struct Order {
        json valid;
        std::string prefix, base, place;
        std::vector<std::string> keys;
    };
    const std::vector<Order> orders = {
        {validManifest(), kManifestInvalid, "", "", {"version", "profile", "tracks", "generated_at"}},
        {validManifest(), kManifestInvalid, "/profile", "profile.", {"id", "folder", "display_name"}},
        {validManifest(), kManifestInvalid, "/tracks/0", "tracks[0].",
         {"id", "title", "artist", "source", "filename", "sha256", "provider_id", "relative_path", "byte_size",
          "download_url"}},
        {validLogin(), kLoginInvalid, "", "", {"token", "device_id", "display_name"}},
    };
    for (const Order& order : orders) {
        for (std::size_t first = 0; first < order.keys.size(); ++first) {
            for (std::size_t later = first + 1; later < order.keys.size(); ++later) {
                SCOPED_TRACE(order.place + order.keys[first] + " before " + order.keys[later]);
                // Null out one of the pair and drop the other, then the other way round.
                for (bool swap : {false, true}) {
                    json broken = order.valid;
                    const std::string a = order.base + "/" + order.keys[first];
                    const std::string b = order.base + "/" + order.keys[later];
                    broken[json::json_pointer(swap ? a : b)] = nullptr;
                    erase(broken, swap ? b : a);
                    const std::string message = order.prefix == kLoginInvalid
                        ? failureOf(decodeLoginResponse, bytes(broken)) : failureOf(decodeManifest, bytes(broken));
                    expectNames(message, order.prefix, order.place + order.keys[first]);
                }
            }
        }
    }
}

TEST(Decoding, TheFirstBrokenTrackIsReportedAndFailsTheWholeManifest) {
    json document = validManifest();
    document["tracks"] = json::array();
    for (int i = 0; i < 7; ++i) document["tracks"].push_back(validTrack(i));
    document["tracks"][5]["id"] = "five";
    document["tracks"][2]["download_url"] = nullptr;
    document.erase("generated_at");
    expectNames(manifestFailure(document), kManifestInvalid, "tracks[2].download_url");

    json notObject = validManifest();
    notObject["tracks"][1] = "track";
    expectNames(manifestFailure(notObject), kManifestInvalid, "tracks[1]");
}

TEST(Decoding, TracksKeepTheServiceOrderWithoutDeduplication) {
    json document = validManifest();
    document["tracks"] = {validTrack(9), validTrack(3), validTrack(9), validTrack(1)};
    const Manifest manifest = decodeManifest(bytes(document));
    ASSERT_EQ(manifest.tracks.size(), 4);
    const std::vector<qint64> ids = {manifest.tracks[0].id, manifest.tracks[1].id, manifest.tracks[2].id,
                                     manifest.tracks[3].id};
    EXPECT_EQ(ids, (std::vector<qint64>{9, 3, 9, 1}));
    EXPECT_EQ(manifest.tracks[0], manifest.tracks[2]);

    document["tracks"] = json::array();
    EXPECT_TRUE(decodeManifest(bytes(document)).tracks.isEmpty());
}

TEST(Decoding, StringsAreCarriedExactly) {
    const std::vector<std::string> values = {"", "  padded \t", "Café Ünïcode – 東京 🎧", "line\nbreak",
                                             "\"quoted\"\\"};
    for (const std::string& value : values) {
        SCOPED_TRACE(value);
        json document = validManifest();
        document["generated_at"] = value;
        document["tracks"][0]["title"] = value;
        document["tracks"][0]["sha256"] = value;
        document["tracks"][0]["download_url"] = value;
        const Manifest manifest = decodeManifest(bytes(document));
        const QString expected = QString::fromStdString(value);
        EXPECT_EQ(manifest.generatedAt, expected);
        EXPECT_EQ(manifest.tracks[0].title, expected);
        EXPECT_EQ(manifest.tracks[0].sha256, expected);
        EXPECT_EQ(manifest.tracks[0].downloadURL, expected);

        json login = validLogin();
        login["token"] = value;
        EXPECT_EQ(decodeLoginResponse(bytes(login)).token, expected);
    }
}

TEST(Decoding, PathsThatCouldEscapeTheirFolderFail) {
    const std::vector<std::string> unsafe = {"a/../b", "/abs", "", "a//b", "a/", "./a", "..", ".", "a/./b",
                                             "../a", "a/..", "//", std::string("a\0b", 3)};
    for (const std::string& path : unsafe) {
        SCOPED_TRACE(path);
        json track = validManifest(), folder = validManifest();
        track["tracks"][1]["relative_path"] = path;
        folder["profile"]["folder"] = path;
        expectNames(manifestFailure(track), kManifestInvalid, "tracks[1].relative_path");
        expectNames(manifestFailure(folder), kManifestInvalid, "profile.folder");
        EXPECT_THROW(PathSafety::requireSafeRelativePath(QString::fromStdString(path)), std::invalid_argument);
    }
}

TEST(Decoding, OrdinaryNamesArePathSafe) {
    const std::vector<std::string> safe = {"Café/Ünïcode – x.mp3", "a/b/c.mp3", "..a/b..c", "My Sets/Live Set 1.mp3",
                                           "x", "...", ".hidden/a"};
    for (const std::string& path : safe) {
        SCOPED_TRACE(path);
        json document = validManifest();
        document["tracks"][1]["relative_path"] = path;
        document["profile"]["folder"] = path;
        const Manifest manifest = decodeManifest(bytes(document));
        EXPECT_EQ(manifest.tracks[1].relativePath, QString::fromStdString(path));
        EXPECT_EQ(manifest.profile.folder, QString::fromStdString(path));
        EXPECT_NO_THROW(PathSafety::requireSafeRelativePath(QString::fromStdString(path)));
    }
}

TEST(Decoding, ProfileDisplayNameMustFitInOneFileName) {
    struct Case { std::string name; bool decodes; };
    const std::vector<Case> cases = {{"", true},       {"DJ Café – Ünï", true}, {"D.J. Nova", true},
                                     {"A/B", false},   {"/", false},            {std::string("a\0b", 3), false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        json document = validManifest();
        document["profile"]["display_name"] = c.name;
        if (c.decodes)
            EXPECT_EQ(decodeManifest(bytes(document)).profile.displayName, QString::fromStdString(c.name));
        else
            expectNames(manifestFailure(document), kManifestInvalid, "profile.display_name");
    }
}
