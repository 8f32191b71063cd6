// The strict decoder of the service's replies and of a drive's marker: what it accepts, what it
// refuses, and which place it names when it refuses.
#include "engine/USBMarker.h"
#include "records/Decoding.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstring>
#include <functional>
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
    return {{"version", 7}, {"generated_at", "not a date"},
            {"profile", {{"id", 42}, {"display_name", "AC/DC Tribute"}, {"folder", "Nova/Sets"}}},
            {"tracks", {validTrack(1), validTrack(2), validTrack(3)}}, {"extra", {{"ignored", true}}}};
}

// What decoding `body` fails with, or "" when it decodes.
std::string manifestFailure(const std::string& body) {
    try {
        decodeManifest(QByteArray::fromStdString(body));
    } catch (const PlatformError& error) {
        return error.what();
    }
    return {};
}
std::string manifestFailure(const json& document) { return manifestFailure(document.dump()); }

TEST(Decoding, AValidManifestCarriesEveryFieldAndIgnoresUnknownKeys) {
    const Manifest manifest = decodeManifest(QByteArray::fromStdString(validManifest().dump()));
    EXPECT_EQ(manifest.version, 7);
    EXPECT_EQ(manifest.generatedAt, "not a date");
    EXPECT_EQ(manifest.profile, (Profile{42, "AC/DC Tribute", testing_support::pathOf("Nova/Sets")}));
    ASSERT_EQ(manifest.tracks.size(), 3);
    EXPECT_EQ(manifest.tracks[1], (Track{2, "prov-2", "Title 2", "Artist 2", "upload", "track2.mp3",
                                         testing_support::pathOf("Artist 2/track2.mp3"), "ABCdef2", 1002, "/files/2"}));
    EXPECT_EQ(decodeLoginResponse(R"({"device_id": 9, "token": "t", "display_name": "DJ", "x": 1})"),
              (LoginResponse{9, "t", "DJ"}));
}

// Every field is required, may not be null, and must have its own JSON type; the message names
// the first field in reading order that fails, in the first track that does.
TEST(Decoding, EveryFieldIsRequiredNonNullAndTyped) {
    struct Field {
        std::string pointer, place;
        json wrongType;
    };
    const std::vector<Field> fields = {
        {"/version", "version", "7"}, {"/generated_at", "generated_at", 20240501},
        {"/profile", "profile", json::array()}, {"/profile/id", "profile.id", 42.5},
        {"/profile/folder", "profile.folder", true}, {"/profile/display_name", "profile.display_name", 5},
        {"/tracks", "tracks", json::object()}, {"/tracks/1/id", "tracks[1].id", "2"},
        {"/tracks/1/title", "tracks[1].title", 1}, {"/tracks/1/provider_id", "tracks[1].provider_id", 123},
        {"/tracks/1/relative_path", "tracks[1].relative_path", json::array()},
        {"/tracks/1/byte_size", "tracks[1].byte_size", "1002"},
        {"/tracks/1/download_url", "tracks[1].download_url", json::object()},
    };
    for (const Field& field : fields) {
        SCOPED_TRACE(field.pointer);
        const json::json_pointer at(field.pointer);
        json missing = validManifest(), null = validManifest(), wrong = validManifest();
        missing.at(at.parent_pointer()).erase(at.back());
        null[at] = nullptr;
        wrong[at] = field.wrongType;
        EXPECT_EQ(manifestFailure(missing), kManifestInvalid + field.place + " is missing");
        EXPECT_EQ(manifestFailure(null).rfind(kManifestInvalid + field.place + " is null", 0), 0u) << manifestFailure(null);
        EXPECT_EQ(manifestFailure(wrong).rfind(kManifestInvalid + field.place + " must be", 0), 0u) << manifestFailure(wrong);
    }
    json twoBroken = validManifest();
    twoBroken["tracks"][2]["title"] = nullptr;
    twoBroken["tracks"][1]["sha256"] = 1;
    EXPECT_EQ(manifestFailure(twoBroken), kManifestInvalid + "tracks[1].sha256 must be a string");
    EXPECT_EQ(manifestFailure(std::string("[]")), kManifestInvalid + "expected a JSON object");
    EXPECT_EQ(manifestFailure(std::string("<html>502 Bad Gateway</html>")), kManifestInvalid + "it is not JSON (error at byte 1)");
}

// Integers are signed 64-bit, whether written as integers or, as JavaScript and Python services
// send them, as whole numbers with a fraction or an exponent.
TEST(Decoding, IntegerFieldsTakeEveryWholeNumberThatFits64Bits) {
    struct Case {
        std::string literal;
        std::optional<qint64> value;  // nullopt: refused
    };
    const std::vector<Case> cases = {
        {"4294967296", 4294967296}, {"9223372036854775807", INT64_MAX}, {"-9223372036854775808", INT64_MIN},
        {"9223372036854775808", std::nullopt},
        {"1024.0", 1024}, {"1e3", 1000}, {"1.5E2", 150}, {"-2.000e1", -20}, {"100e-2", 1}, {"0.0e5", 0},
        {"9.223372036854775807e18", INT64_MAX}, {"-9.223372036854775808e18", INT64_MIN},
        {"9.223372036854775808e18", std::nullopt}, {"1e19", std::nullopt}, {"1.5", std::nullopt},
        {"1e-1", std::nullopt}, {"1e999", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.literal);
        std::string body = validManifest().dump();
        body.replace(body.find("\"byte_size\":1001"), 16, "\"byte_size\":" + c.literal);
        if (c.value) {
            EXPECT_EQ(decodeManifest(QByteArray::fromStdString(body)).tracks[0].byteSize, *c.value);
            const std::string marker = R"({"version":1,"profile_id":)" + c.literal +
                                       R"(,"profile_name":"n","library_folder":"DJ-Music/f","registered_at":"t"})";
            EXPECT_EQ(USBMarker::decode(QByteArray::fromStdString(marker))->profileId, *c.value);
        } else {
            EXPECT_NE(manifestFailure(body), "");
        }
    }
}

// Names from the service become file names: none may leave its folder.
TEST(Decoding, PathsThatCouldLeaveTheirFolderAreRefused) {
    const std::vector<std::pair<std::string, std::string>> unsafe = {
        {"", "is empty"},          {"/etc/passwd", "is absolute"},     {"a//b.mp3", "has an empty component"},
        {"a/./b.mp3", "has a '.' component"}, {"../../.profile", "has a '..' component"},
        {"a/..", "has a '..' component"}};
    for (const auto& [path, problem] : unsafe) {
        json document = validManifest();
        document["tracks"][0]["relative_path"] = path;
        EXPECT_EQ(manifestFailure(document), kManifestInvalid + "tracks[0].relative_path \"" + path + "\" " + problem);
        document = validManifest();
        document["profile"]["folder"] = path;
        EXPECT_NE(manifestFailure(document), "") << path;
    }
    json ordinary = validManifest();
    ordinary["tracks"][0]["relative_path"] = "..hidden/.. two dots../a b.mp3";
    EXPECT_EQ(manifestFailure(ordinary), "");
}

// Names also become playlist lines: a character that breaks a line is refused, and the text shows
// the name escaped, never cut short where it is read as a C string.
TEST(Decoding, NamesHoldingAControlCharacterAreRefusedAndShownEscaped) {
    struct Case {
        std::string character, shown;
        const char* problem;
    };
    const std::vector<Case> cases = {
        {std::string(1, '\0'), "\\u0000", "contains a NUL character"},
        {"\n", "\\n", "contains a control character"},
        {"\r", "\\r", "contains a control character"},
        {"\t", "\\t", "contains a control character"},
        {"\x1b", "\\u001b", "contains a control character"},
        {"\x7f", "\\u007f", "contains a control character"},
        // Line breaks to Unicode-aware readers: NEXT LINE (a C1 control), LINE and PARAGRAPH SEPARATOR.
        {"\u0085", "\\u0085", "contains a control character"},
        {"\u2028", "\\u2028", "contains a line separator"},
        {"\u2029", "\\u2029", "contains a line separator"},
    };
    const std::pair<const char*, const char*> places[] = {
        {"/tracks/1/relative_path", "tracks[1].relative_path"},
        {"/profile/folder", "profile.folder"},
        {"/profile/display_name", "profile.display_name"},
    };
    for (const Case& c : cases) {
        for (const auto& [pointer, place] : places) {
            SCOPED_TRACE(std::string(place) + " " + c.shown);
            json document = validManifest();
            document[json::json_pointer(pointer)] = "A" + c.character + "B\"\\.mp3";
            EXPECT_EQ(manifestFailure(document),
                      kManifestInvalid + place + " \"A" + c.shown + "B\\\"\\\\.mp3\" " + c.problem);
        }
    }
}

// Members the decoder does not read are skipped as they are parsed, at every level: kept whole,
// their small objects would cost many times their text.
TEST(Decoding, UnknownMembersAreNotKept) {
    std::string filler = "[";
    for (int i = 0; filler.size() < 6'000'000; ++i) filler += R"({"k":[1,2],"v":"abc"},)";
    filler.back() = ']';
    std::string text = validManifest().dump();
    for (const char* place : {"{", R"("profile":{)", R"("filename":"track2.mp3",)"}) {
        const std::size_t at = text.find(place) + std::strlen(place);
        text.insert(at, R"("waveform":)" + filler + (text[at] == '}' ? "" : ","));
    }
    const QByteArray body = QByteArray::fromStdString(text);
    text = {};
    filler = {};
    Manifest manifest;
    const testing_support::Cost cost = testing_support::costOf([&] { manifest = decodeManifest(body); });
    EXPECT_EQ(manifest, decodeManifest(QByteArray::fromStdString(validManifest().dump())));
    if (testing_support::kMemoryMeasured) {
        EXPECT_LT(cost.peakMiB * double(1 << 20), body.size() / 4) << "decoding a " << body.size() << "-byte manifest added " << cost.peakMiB << " MiB";
    }
}

// The tracks are decoded one by one as the parser meets them: what a manifest costs is what its
// tracks decode to, and the first that fails ends decoding at once, however many follow.
TEST(Decoding, TracksAreDecodedAsTheyArriveAndNeverHeldAsADocument) {
    struct Case {
        std::function<std::string(int)> element;  // the element at each place of "tracks"
        std::string failure;
        double mostAdded;  // resident memory decoding may add, in bodies
        bool handedOver;   // the decoder gets the only copy of the body, which it gives back as it goes
    };
    const auto track = [](int i) { return validTrack(i).dump(); };
    const Case cases[] = {
        {track, "", 3.0, false},
        {track, "", 2.0, true},
        {[](int) { return "{}"; }, kManifestInvalid + "tracks[0].id is missing", 0.25, false},
        {[](int) { return "0"; }, kManifestInvalid + "tracks[0] must be an object", 0.25, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.element(1));
        std::string text = R"({"version":1,"generated_at":"g","profile":{"id":1,"display_name":"D","folder":"F"},"tracks":[)";
        // Large enough to measure; where memory is not measured, large enough for many tracks.
        for (int i = 1; text.size() < (testing_support::kMemoryMeasured ? 12'000'000 : 2'000'000); ++i) text += c.element(i) + ',';
        text.back() = ']';
        QByteArray body = QByteArray::fromStdString(text + '}');
        text = {};
        const double size = double(body.size());
        std::string failure;
        // The body is resident before: what decoding adds is its own.
        const testing_support::Cost cost = testing_support::costOf([&] {
            try {
                EXPECT_GT(decodeManifest(c.handedOver ? std::move(body) : body).tracks.size(), 5'000);
            } catch (const PlatformError& error) {
                failure = error.what();
            }
        });
        EXPECT_EQ(failure, c.failure);
        if (testing_support::kMemoryMeasured) {
            EXPECT_LT(cost.peakMiB * double(1 << 20), c.mostAdded * size);
        }
    }
}

TEST(Decoding, AMarkerIsReadOnlyWithAllItsFieldsOfTheirTypes) {
    const USBMarker marker{1, 7, "DJ Demo", "DJ-Music/Demo Set", "2026-12-06T19:45:06Z"};
    EXPECT_EQ(marker.encoded(), R"({"version":1,"profile_id":7,"profile_name":"DJ Demo","library_folder":"DJ-Music/Demo Set","registered_at":"2026-12-06T19:45:06Z"})");
    EXPECT_EQ(USBMarker::decode(marker.encoded()), marker);
    EXPECT_EQ(USBMarker::decode(R"({"version":1,"profile_id":7,"profile_name":"DJ Demo","library_folder":"DJ-Music\/Demo Set","registered_at":"2026-12-06T19:45:06Z","x":[]})"),
              marker);
    for (const char* broken : {R"({"version":1,"profile_id":"7","profile_name":"n","library_folder":"f","registered_at":"t"})",
                               R"({"version":1,"profile_id":7,"profile_name":"n","library_folder":"f"})", "{", ""})
        EXPECT_FALSE(USBMarker::decode(broken)) << broken;
}

}  // namespace
