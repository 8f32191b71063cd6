// The agent's process killed (SIGKILL: no cleanup of any kind) at moments of a cycle, fifty times
// in a row with a fixed seed, while the library alternates between two versions so that every
// cycle replaces files. After each kill every file under a final name, on the drive and in the
// library, is missing, the old version or the new one, never partial, and nothing else is left but
// one staging file per final name at most; a fresh process's cycle then completes with every byte
// right and nothing left over.

#include "engine/USBMarker.h"
#include "faults/ReliabilityTable.h"
#include "support/DevServer.h"
#include "support/EngineRig.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <array>
#include <iostream>
#include <random>
#include <unistd.h>

using namespace testing_support;

namespace {

enum Moment { start, download, copy, rename, playlist, momentCount };
constexpr std::array<const char*, momentCount> kMoments{
    "while starting (0–40 ms after launch)", "during a download (at a random point of the stream)",
    "before a copy to the drive (the 1st, 2nd or 3rd)",
    "before a rename into place (the 2nd, 4th or 6th, library or drive)", "before the playlist write"};
using Version = QMap<QString, QByteArray>;

class AgentKilled : public ::testing::Test {
protected:
    void SetUp() override {
        versions[0] = {{"House/a.mp3", noise(90 * 1024, 11)}, {"House/b.mp3", noise(60 * 1024, 12)},
                       {"Techno/c.mp3", noise(40 * 1024, 13)}, {"Techno/d.mp3", noise(120 * 1024, 14)},
                       {"Techno/e.mp3", noise(30 * 1024, 15)}};
        versions[1] = {{"House/a.mp3", noise(100 * 1024, 21)}, {"House/b.mp3", versions[0]["House/b.mp3"]},
                       {"Techno/c.mp3", versions[0]["Techno/c.mp3"]}, {"Techno/d.mp3", noise(80 * 1024, 24)},
                       {"Techno/f.mp3", noise(70 * 1024, 26)}};
        for (int v = 0; v < 2; ++v) {
            for (auto track = versions[v].begin(); track != versions[v].end(); ++track)
                writeBytes(libraries[v].filePath(track.key()), track.value());
            // Downloads take a while, so that a kill can land in the middle of one.
            servers[v] = std::make_unique<DevServer>(DevServerOptions{
                .tokens = {"kill-test-token"}, .library = libraries[v].path().toStdString(),
                .faults = {R"({"endpoint": "download", "bytes_per_second": 1000000})"}});
        }
        volume = scratch.filePath("media/DJSTICK");
        EngineRig::registerDrive(volume);
        marker = fileBytes(volume + u'/' + spinforge::USBMarker::fileName);
        writeBytes(scratch.filePath("mountinfo"), mountTableListing({volume}));
    }

    std::unique_ptr<QProcess> startRunner(int version, const QString& killAt = {}) {
        auto runner = std::make_unique<QProcess>();
        runner->start(QStringLiteral(SPINFORGE_CYCLE_RUNNER_PATH),
                      QStringList{QString::fromStdString(servers[version]->baseUrl()), data.path(),
                                  scratch.filePath("mountinfo"), scratch.filePath("media") + u'/', killAt});
        return runner;
    }

    // Runs a cycle to its end: its exit status (-1 when killed) and what it printed.
    std::pair<int, QString> runToEnd(int version, const QString& killAt = {}) {
        const std::unique_ptr<QProcess> runner = startRunner(version, killAt);
        runner->waitForFinished(60000);
        const int status = runner->exitStatus() == QProcess::CrashExit ? -1 : runner->exitCode();
        return {status, QString::fromUtf8(runner->readAllStandardOutput()).trimmed()};
    }

    // Kills a cycle `delay` after launch, or `delay` after a download began. True when the kill
    // landed before the cycle ended.
    bool killAfter(int version, std::chrono::milliseconds delay, bool duringDownload) {
        const std::unique_ptr<QProcess> runner = startRunner(version);
        if (!runner->waitForStarted()) return false;
        QElapsedTimer waited;
        waited.start();
        while (duringDownload && !staging(cacheRoot()).size() && runner->state() == QProcess::Running && waited.elapsed() < 10000)
            QThread::msleep(2);
        const bool landed = !runner->waitForFinished(int(delay.count()));
        if (landed) runner->kill();
        runner->waitForFinished(10000);
        return landed;
    }

    QString cacheRoot() const { return data.filePath("Spinforge/Library"); }
    QString playlistPath() const { return EngineRig::playlistOn(volume); }
    static QStringList staging(const QString& folder) {
        return filesBelow(folder).filter(QRegularExpression(QStringLiteral("\\.spinforge-partial$")));
    }
    static QByteArray playlistOf(const Version& tracks) {
        QByteArray text = "#EXTM3U\n";
        for (const QString& path : tracks.keys()) text += "DJ-Music/Demo Set/" + path.toUtf8() + '\n';
        return text;
    }

    // Every final file missing or one version of it whole, and at most one staging file per final
    // name (each write removes its own first). Returns what is wrong.
    QStringList partialOrWrong() const {
        QStringList wrong;
        const auto check = [&](const QString& file, const QList<QByteArray>& allowed) {
            if (QFileInfo(file).isFile() && !allowed.contains(fileBytes(file))) wrong << file;
        };
        for (const QString& path : versions[0].keys() + versions[1].keys()) {
            const QList<QByteArray> allowed{versions[0].value(path), versions[1].value(path)};
            check(cacheRoot() + u'/' + path, allowed);
            check(EngineRig::onDrive(volume, path), allowed);
        }
        check(playlistPath(), {playlistOf(versions[0]), playlistOf(versions[1])});
        if (fileBytes(volume + u'/' + spinforge::USBMarker::fileName) != marker) wrong << "the marker";
        for (const QString& folder : {cacheRoot(), volume})
            for (const QString& file : filesBelow(folder))
                if (!QRegularExpression(QStringLiteral("^(DJ-Music/Demo Set/)?(House|Techno)/[a-f]\\.mp3(\\.spinforge-partial)?$|"
                                                       "^Spinforge \u2014 DJ Demo\\.m3u8(\\.spinforge-partial)?$|^\\.dj-sync\\.json$"))
                         .match(file)
                         .hasMatch())
                    wrong << "left over: " + file;
        return wrong;
    }

    // After a completed cycle towards `version`: all of it, exactly, and no staging file.
    QStringList notExactly(int version) const {
        QStringList wrong;
        for (auto track = versions[version].begin(); track != versions[version].end(); ++track) {
            if (fileBytes(cacheRoot() + u'/' + track.key()) != track.value()) wrong << "library " + track.key();
            if (fileBytes(EngineRig::onDrive(volume, track.key())) != track.value()) wrong << "drive " + track.key();
        }
        if (fileBytes(playlistPath()) != playlistOf(versions[version])) wrong << "the playlist";
        for (const QString& file : staging(cacheRoot()) + staging(volume)) wrong << "left over: " + file;
        return wrong;
    }

    std::array<Version, 2> versions;
    std::array<QTemporaryDir, 2> libraries;
    std::array<std::unique_ptr<DevServer>, 2> servers;
    QTemporaryDir data, scratch;
    QString volume;
    QByteArray marker;
};

TEST_F(AgentKilled, FiftyTimesInARowNeverLeavesAPartialFileAndTheNextCycleCompletes) {
    ASSERT_EQ(runToEnd(0).first, 0) << "the first fill";
    std::mt19937 random(20261206);
    std::array<int, momentCount> kills{}, landed{}, damaged{}, unrecovered{};
    for (int round = 0; round < 50; ++round) {
        const int version = (round + 1) % 2;  // every round replaces what the last one wrote
        const auto moment = Moment(std::uniform_int_distribution<int>(0, momentCount - 1)(random));
        const int nth = std::uniform_int_distribution<int>(1, 3)(random);
        const auto delay = std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 40)(random));
        bool hit = true;
        switch (moment) {
        case start: hit = killAfter(version, delay, false); break;
        case download: hit = killAfter(version, delay * 3, true); break;
        case copy: hit = runToEnd(version, QStringLiteral("copy:%1").arg(nth)).first == -1; break;
        case rename: hit = runToEnd(version, QStringLiteral("commit:%1").arg(nth * 2)).first == -1; break;
        default: hit = runToEnd(version, QStringLiteral("playlist:1")).first == -1; break;
        }
        ++kills[moment];
        landed[moment] += hit;
        const QStringList wrong = partialOrWrong();
        EXPECT_EQ(wrong, QStringList()) << "round " << round << ", killed " << kMoments[moment];
        damaged[moment] += !wrong.isEmpty();

        const auto [status, message] = runToEnd(version);
        const QStringList off = notExactly(version);
        EXPECT_EQ(status, 0) << "round " << round << ": " << message.toStdString();
        EXPECT_EQ(off, QStringList()) << "round " << round << " after the fresh cycle";
        unrecovered[moment] += status != 0 || !off.isEmpty();
    }
    for (int moment = 0; moment < momentCount; ++moment) {
        std::cout << "killed " << kMoments[moment] << ": " << kills[moment] << " times, " << landed[moment] << " in time\n";
        const char* files = damaged[moment] ? "a partial or wrong file" : "every file missing, old or new; never partial";
        recordRow({"AgentKilled.FiftyTimesInARowNeverLeavesAPartialFileAndTheNextCycleCompletes", "Process", moment + 1,
                   std::string("SIGKILL ") + kMoments[moment] + " \u2014 " + std::to_string(kills[moment]) +
                       " of 50 kills (fixed seed)",
                   "nothing: the process is gone; the next agent's cycle ends in success", files, files,
                   unrecovered[moment] ? "no" : "yes, every time"});
    }
}

// A logout (SIGTERM) in the middle of hashing or copying a large track: the agent ends within a
// second, exit status 0, with nothing half-written under a final name, its staging file gone and
// nothing reported. The track is 1 GiB, which takes longer than that to hash or to copy.
TEST(AgentStopped, WithinASecondInTheMiddleOfAHashOrACopy) {
    QTemporaryDir library, data, scratch;
    const QString track = QStringLiteral("Big/huge.mp3");
    QDir().mkpath(library.filePath("Big"));
    QFile huge(library.filePath(track));
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(1) << 30));
    huge.close();
    // The library already holds it: the same file, linked.
    const QString cached = data.filePath("Spinforge/Library/" + track);
    QDir().mkpath(QFileInfo(cached).path());
    ASSERT_EQ(::link(QFile::encodeName(library.filePath(track)).constData(), QFile::encodeName(cached).constData()), 0);
    DevServer server({.tokens = {"kill-test-token"}, .library = library.path().toStdString()});
    const QString volume = scratch.filePath("media/DJSTICK");
    EngineRig::registerDrive(volume);
    writeBytes(scratch.filePath("mountinfo"), mountTableListing({volume}));

    for (const char* moment : {"sigterm:read:Library/Big/huge.mp3", "sigterm:copy"}) {
        SCOPED_TRACE(moment);
        QProcess runner;
        runner.start(QStringLiteral(SPINFORGE_CYCLE_RUNNER_PATH),
                     {QString::fromStdString(server.baseUrl()), data.path(), scratch.filePath("mountinfo"),
                      scratch.filePath("media") + u'/', QString::fromLatin1(moment)});
        QByteArray printed;
        while (!printed.contains("SIGTERM") && runner.waitForReadyRead(60000)) printed += runner.readAllStandardOutput();
        ASSERT_TRUE(printed.contains("SIGTERM")) << "the moment never came: " << printed.toStdString();
        QElapsedTimer sinceSignal;
        sinceSignal.start();
        ASSERT_TRUE(runner.waitForFinished(10000));
        EXPECT_LT(sinceSignal.elapsed(), 1000);
        EXPECT_EQ(runner.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(runner.exitCode(), 0);
        EXPECT_EQ(filesBelow(data.filePath("Spinforge/Library")), QStringList{track});
        EXPECT_EQ(QFileInfo(cached).size(), qint64(1) << 30);
        EXPECT_EQ(filesBelow(volume), QStringList{".dj-sync.json"}) << "a staging file or a partial track was left";
        EXPECT_EQ(server.reports().size(), 0u);
    }
}

}  // namespace
