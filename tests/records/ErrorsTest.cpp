// The sentences the user reads for each failure, and that every exception carries them in what().
#include "records/Decoding.h"
#include "records/PathSafety.h"
#include "records/SpinforgeError.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <stdexcept>
#include <vector>

using namespace spinforge;

namespace {

struct Case {
    const char* label;
    std::function<SpinforgeError()> make;
    SpinforgeError::Kind kind;
    QString text;
};

const QString kNonAscii = QStringLiteral("Café – Ünïcode 東京 🎧.mp3");

std::vector<Case> cases() {
    using K = SpinforgeError::Kind;
    return {
        {"server", [] { return SpinforgeError::server("Your account is suspended."); }, K::server,
         "Your account is suspended."},
        {"server empty", [] { return SpinforgeError::server(QString()); }, K::server, ""},
        {"server untouched", [] { return SpinforgeError::server("  no full stop  "); }, K::server, "  no full stop  "},
        {"server non-ASCII", [] { return SpinforgeError::server(kNonAscii); }, K::server, kNonAscii},
        {"checksum", [] { return SpinforgeError::checksum("track 01.mp3"); }, K::checksum,
         "Integrity check failed for track 01.mp3."},
        {"checksum empty", [] { return SpinforgeError::checksum(QString()); }, K::checksum,
         "Integrity check failed for ."},
        {"checksum non-ASCII", [] { return SpinforgeError::checksum(kNonAscii); }, K::checksum,
         "Integrity check failed for " + kNonAscii + "."},
        {"invalidServer", [] { return SpinforgeError::invalidServer(); }, K::invalidServer,
         "Enter a valid Spinforge server URL."},
        {"signedOut", [] { return SpinforgeError::signedOut(); }, K::signedOut, "Sign in to this Mac first."},
        {"invalidResponse", [] { return SpinforgeError::invalidResponse(); }, K::invalidResponse,
         "The server returned an invalid response."},
        {"invalidUSB", [] { return SpinforgeError::invalidUSB(); }, K::invalidUSB,
         "Choose a removable drive mounted under /Volumes."},
    };
}

// Throws `error` and returns what a catch site that only knows std::exception shows the user.
template <typename E>
QString shownWhenThrown(const E& error) {
    try {
        throw error;
    } catch (const std::exception& caught) {
        return userDescription(caught);
    }
}

}  // namespace

TEST(SpinforgeError, EachCaseCarriesItsSentenceInEveryForm) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.label);
        const SpinforgeError error = c.make();
        EXPECT_EQ(error.kind(), c.kind);
        EXPECT_EQ(error.errorDescription(), c.text);
        EXPECT_EQ(QByteArray(error.what()), c.text.toUtf8());
        EXPECT_EQ(QString::fromUtf8(error.what()), error.errorDescription());
        EXPECT_EQ(userDescription(error), c.text);
        EXPECT_EQ(shownWhenThrown(error), c.text);
    }
}

TEST(SpinforgeError, CopiesKeepTheirTextAfterTheOriginalIsGone) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.label);
        std::optional<SpinforgeError> original(c.make());
        const SpinforgeError copy = *original;
        std::optional<SpinforgeError> assigned(SpinforgeError::signedOut());
        *assigned = *original;
        original.reset();
        EXPECT_EQ(QString::fromUtf8(copy.what()), c.text);
        EXPECT_EQ(QString::fromUtf8(assigned->what()), c.text);
        EXPECT_EQ(assigned->kind(), c.kind);
    }
}

// A decoding failure names the offending value, which may be any text the service sent.
TEST(SpinforgeError, DecodingAndPathFailuresKeepNonAsciiText) {
    const QByteArray body = QStringLiteral(
        R"({"version":1,"generated_at":"now","tracks":[],
            "profile":{"id":1,"display_name":"x","folder":"../Café 東京"}})").toUtf8();
    try {
        decodeManifest(body);
        FAIL() << "an escaping folder was accepted";
    } catch (const std::exception& error) {
        const QString shown = userDescription(error);
        EXPECT_TRUE(shown.startsWith("The server's manifest is invalid: profile.folder ")) << error.what();
        EXPECT_TRUE(shown.contains(QStringLiteral("../Café 東京"))) << error.what();
    }
    try {
        PathSafety::requireSafeRelativePath(QStringLiteral("Ünï/../../x"));
        FAIL() << "an escaping path was accepted";
    } catch (const std::exception& error) {
        EXPECT_TRUE(userDescription(error).contains(QStringLiteral("Ünï/../../x"))) << error.what();
    }
}
