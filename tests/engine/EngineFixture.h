#pragma once
// An engine wired to test stand-ins: an in-memory keyring, a settings file, file operations that
// can fail on request, a notifier that records, a mount table of its own listing drives that are
// plain folders, and the development service on loopback serving a library the test chooses.

#include "credentials/Keychain.h"
#include "credentials/Settings.h"
#include "engine/SyncEngine.h"
#include "engine/USBMarker.h"
#include "support/Await.h"
#include "support/DevServer.h"
#include "support/FaultyFileOperations.h"
#include "support/MemoryKeyring.h"
#include "support/RecordingNotifier.h"

#include <openssl/sha.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

using State = spinforge::SyncEngine::State;
using Kind = State::Kind;
using LibraryFiles = std::vector<std::pair<std::string, std::string>>;  // relative path, content

inline constexpr const char* kToken = "engine-test-token";
inline constexpr qint64 kProfileId = 7;  // the development service's first account

inline QString digestOf(const QByteArray& bytes) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(bytes.constData()), size_t(bytes.size()), digest);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest), SHA256_DIGEST_LENGTH).toHex());
}

// A track as the service would describe these bytes.
inline spinforge::Track trackOf(const QString& relativePath, const QByteArray& bytes) {
    spinforge::Track track;
    track.relativePath = relativePath;
    track.filename = QFileInfo(relativePath).fileName();
    track.sha256 = digestOf(bytes);
    track.byteSize = bytes.size();
    track.downloadURL = QStringLiteral("/unused/") + relativePath;
    return track;
}

// The text of what `run` threw, or "no failure": what the DJ would read.
inline std::string failureOf(const std::function<void()>& run) {
    try {
        run();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "no failure";
}

inline QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void writeBytes(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes);
}

// Every file below `folder`, as sorted relative paths (hidden ones included).
inline QStringList filesBelow(const QString& folder) {
    QStringList names;
    QDir dir(folder);
    for (const QString& entry : dir.entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot)) names << entry;
    for (const QString& sub : dir.entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot))
        for (const QString& entry : filesBelow(dir.filePath(sub))) names << sub + u'/' + entry;
    names.sort();
    return names;
}

// A mount table in the kernel's format with the computer's own disk and `volumes` mounted as
// drives: the mount point is the fifth field, with spaces and the like escaped.
inline QByteArray mountTableListing(const QStringList& volumes) {
    QByteArray table = "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n";
    int id = 100;
    for (const QString& volume : volumes) {
        QByteArray point = QFile::encodeName(volume);
        point.replace('\\', "\\134").replace(' ', "\\040").replace('\t', "\\011").replace('\n', "\\012");
        ++id;
        table += QByteArray::number(id) + " 22 0:" + QByteArray::number(id) + " / " + point +
                 " rw,nosuid,nodev,relatime shared:9 - vfat /dev/sdb1 rw,uid=1000\n";
    }
    return table;
}

// Starts the development service on the tracks of `library` with the engine's token issued, and
// signs `settings` and `keyring` in to it, as a finished sign-in would have.
inline std::unique_ptr<DevServer> startSignedIn(const QString& library, spinforge::Settings& settings,
                                                spinforge::Keyring& keyring, DevServerOptions options = {}) {
    options.tokens = {kToken};
    options.library = library.toStdString();
    auto server = std::make_unique<DevServer>(options);
    settings.setServerURL(QString::fromStdString(server->baseUrl()));
    spinforge::Keychain::save(keyring, QString::fromLatin1(kToken));
    return server;
}

class EngineFixture : public ::testing::Test {
protected:
    void TearDown() override { engine_.reset(); }

    // Starts the service with these tracks (served in path order) and signs the engine in.
    void serve(const LibraryFiles& files, std::vector<std::string> faults = {}, std::vector<std::string> accounts = {}) {
        for (const auto& [path, bytes] : files) DevServer::writeFile(library.filePath(QString::fromStdString(path)).toStdString(), bytes);
        DevServerOptions options;
        options.faults = std::move(faults);
        if (!accounts.empty()) options.accounts = std::move(accounts);
        server = startSignedIn(library.path(), settings, *keyringInUse, std::move(options));
    }

    spinforge::SyncEngine& engine() {
        if (!engine_) {
            engine_ = std::make_unique<spinforge::SyncEngine>(spinforge::EngineSeams{
                *keyringInUse, settings, files, *notifierInUse, mountEvents,
                {root.filePath("mountinfo"), {root.filePath("media") + u'/'}}, root.filePath("data"), timeouts});
            engine_->onStateChange = [this](const State& state) { states.append(state); };
            writeMountTable();
        }
        return *engine_;
    }

    QString cacheRoot() const { return root.filePath("data/Spinforge/Library"); }
    QString cached(const QString& relativePath) const { return cacheRoot() + u'/' + relativePath; }
    // Puts the service's copy of a track into the cache, as an earlier cycle would have.
    void preCache(const QString& relativePath) { writeBytes(cached(relativePath), fileBytes(library.filePath(relativePath))); }

    // A drive: a folder below the fixture's media folder, listed in its mount table, registered
    // for `profile` unless that is nullopt.
    QString addDrive(const QString& name, std::optional<qint64> profile = kProfileId) {
        const QString volume = root.filePath("media/" + name);
        QDir().mkpath(volume);
        if (profile) {
            spinforge::USBMarker marker{1, *profile, QStringLiteral("DJ Demo"), QStringLiteral("DJ-Music/Demo Set"),
                                        QStringLiteral("2026-12-06T19:45:06Z")};
            writeBytes(volume + "/.dj-sync.json", marker.encoded());
        }
        mounted.append(volume);
        writeMountTable();
        return volume;
    }
    void unmount(const QString& volume) {
        mounted.removeAll(volume);
        writeMountTable();
    }
    QString onDrive(const QString& volume, const QString& relativePath) const {
        return volume + "/DJ-Music/Demo Set/" + relativePath;
    }

    spinforge::Manifest fetchManifest() {
        spinforge::APIClient client(*keyringInUse, settings);
        return await(client.manifest());
    }
    const spinforge::Track& track(const spinforge::Manifest& manifest, const QString& relativePath) {
        for (const spinforge::Track& each : manifest.tracks)
            if (each.relativePath == relativePath) return each;
        throw std::runtime_error("no such track");
    }

    QStringList messages() const {
        QStringList texts;
        for (const State& state : states) texts << state.message;
        return texts;
    }

    QTemporaryDir root;
    QTemporaryDir library;
    MemoryKeyring keyring;
    spinforge::Settings settings{root.filePath("Spinforge.conf")};
    FaultyFileOperations files;
    RecordingNotifier notifier;
    spinforge::MountEvents mountEvents;
    // What the engine is given; tests may point these at the real keyring or notifier before
    // the engine is made.
    spinforge::Keyring* keyringInUse = &keyring;
    spinforge::Notifier* notifierInUse = &notifier;
    spinforge::APITimeouts timeouts;
    std::unique_ptr<DevServer> server;
    QList<State> states;
    QStringList mounted;

protected:
    void writeMountTable() { writeBytes(root.filePath("mountinfo"), mountTableListing(mounted)); }

private:
    std::unique_ptr<spinforge::SyncEngine> engine_;
};

}  // namespace testing_support
