#pragma once
// Small helpers every suite uses: files and their bytes, track data, what a failure says, and
// how failures print.

#include "engine/SyncEngine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

namespace testing_support {

using State = spinforge::SyncEngine::State;
using Kind = State::Kind;

inline constexpr const char* kToken = "engine-test-token";
inline constexpr qint64 kProfileId = 7;  // the development service's first account: "Demo Set", "DJ Demo"

// The lower-case hexadecimal SHA-256 of `bytes`.
QString digestOf(const QByteArray& bytes);

// Bytes that no other seed gives, so that a track copied under the wrong name shows.
QByteArray noise(qsizetype size, quint32 seed);

// `text` as a relative path, for tracks and profiles a test makes; throws when it is not one.
spinforge::RelativePath pathOf(const QString& text);

// A track as the service would describe these bytes.
spinforge::Track trackOf(const QString& relativePath, const QByteArray& bytes);

QByteArray fileBytes(const QString& path);
void writeBytes(const QString& path, const QByteArray& bytes);
// Every file below `folder`, as sorted relative paths, hidden ones included.
QStringList filesBelow(const QString& folder);

// A mount table in the kernel's format: the computer's own disk, and `volumes` (existing folders)
// as drives on the mounts they really are on, their paths escaped as the kernel escapes them.
QByteArray mountTableListing(const QStringList& volumes);

// Whether this build's resident memory tells what the product holds: a sanitizer's allocator keeps
// freed memory and pads what it hands out.
#ifdef __SANITIZE_ADDRESS__
inline constexpr bool kMemoryMeasured = false;
#else
inline constexpr bool kMemoryMeasured = true;
#endif

// What running `action` added to this process's resident memory at its peak, in MiB, and how
// many seconds it took.
struct Cost {
    double peakMiB = 0;
    double seconds = 0;
};
Cost costOf(const std::function<void()>& action);

// The text of what `run` threw, or "no failure": what the DJ would read.
inline std::string failureOf(const std::function<void()>& run) {
    try {
        run();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "no failure";
}

}  // namespace testing_support

// Failures show texts as text, and long bytes as their size and digest.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QStringList& texts, std::ostream* out) { *out << '{' << texts.join(", ").toStdString() << '}'; }
inline void PrintTo(const QByteArray& bytes, std::ostream* out) {
    if (bytes.size() <= 80) *out << '"' << bytes.toStdString() << '"';
    else *out << bytes.size() << " bytes, SHA-256 " << testing_support::digestOf(bytes).toStdString();
}
namespace spinforge {
inline void PrintTo(const SyncEngine::State& state, std::ostream* out) {
    static const char* const kinds[] = {"working", "success", "failed", "idle"};
    *out << kinds[int(state.kind)] << ": \"" << state.message.toStdString() << '"';
}
}  // namespace spinforge
