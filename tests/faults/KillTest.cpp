// The agent's process killed (SIGKILL: no cleanup of any kind) at moments of a cycle, fifty times
// with a fixed seed, while the library alternates between two versions so that every cycle
// replaces files; and stopped by SIGTERM in the middle of a large track.

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

// A drive registered in a mount table of its own, and the stand-in for the agent run against it.
struct RunnerDrive {
    RunnerDrive() {
        EngineRig::registerDrive(volume);
        writeBytes(scratch.filePath("mountinfo"), mountTableListing({volume}));
    }
    void start(QProcess& runner, const DevServer& server, const QString& dataHome, const QString& at = {}) const {
        runner.start(QStringLiteral(SPINFORGE_CYCLE_RUNNER_PATH),
                     {QString::fromStdString(server.baseUrl()), dataHome, scratch.filePath("mountinfo"),
                      scratch.filePath("media") + u'/', at});
    }
    QTemporaryDir scratch;
    const QString volume = scratch.filePath("media/DJSTICK");
};

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
        marker = fileBytes(volume + u'/' + spinforge::USBMarker::fileName);
    }

    // Runs a cycle to its end: its exit status (-1 when killed) and what it printed.
    std::pair<int, QString> runToEnd(int version, const QString& killAt = {}) {
        QProcess runner;
        drive.start(runner, *servers[version], data.path(), killAt);
        runner.waitForFinished(60000);
        const int status = runner.exitStatus() == QProcess::CrashExit ? -1 : runner.exitCode();
        return {status, QString::fromUtf8(runner.readAllStandardOutput()).trimmed()};
    }

    // Kills a cycle `delay` after launch or after a download began; true when it landed in time.
    bool killAfter(int version, std::chrono::milliseconds delay, bool duringDownload) {
        QProcess runner;
        drive.start(runner, *servers[version], data.path());
        if (!runner.waitForStarted()) return false;
        QElapsedTimer waited;
        waited.start();
        while (duringDownload && !staging(cacheRoot()).size() && runner.state() == QProcess::Running && waited.elapsed() < 10000)
            QThread::msleep(2);
        const bool landed = !runner.waitForFinished(int(delay.count()));
        if (landed) runner.kill();
        runner.waitForFinished(10000);
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

    // Every final file missing or one version of it whole, and nothing but staging files besides.
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
        const QRegularExpression ours(
            QStringLiteral("^(DJ-Music/Demo Set/)?(House|Techno)/[a-f]\\.mp3(\\.spinforge-partial)?$|"
                           "^Spinforge \u2014 DJ Demo\\.m3u8(\\.spinforge-partial)?$|^\\.dj-sync\\.json$"));
        for (const QString& folder : {cacheRoot(), volume})
            for (const QString& file : filesBelow(folder))
                if (!ours.match(file).hasMatch()) wrong << "left over: " + file;
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
    QTemporaryDir data;
    RunnerDrive drive;
    const QString& volume = drive.volume;
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

// Waits for a runner's "SIGNAL", then for its end: the milliseconds that took.
qint64 endAfterSignal(QProcess& runner) {
    QByteArray printed;
    while (!printed.contains("SIGNAL") && runner.waitForReadyRead(60000)) printed += runner.readAllStandardOutput();
    EXPECT_TRUE(printed.contains("SIGNAL")) << "the moment never came: " << printed.toStdString();
    QElapsedTimer sinceSignal;
    sinceSignal.start();
    EXPECT_TRUE(runner.waitForFinished(40000));
    EXPECT_EQ(runner.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(runner.exitCode(), 0);
    return sinceSignal.elapsed();
}

// A logout (SIGTERM, or SIGHUP from a closing terminal, or Ctrl-C's SIGINT) in the middle of hashing
// or copying a 1 GiB track, which takes longer than a second: the agent ends within one, status 0,
// nothing half-written or staged, nothing reported.
TEST(AgentStopped, WithinASecondInTheMiddleOfAHashOrACopy) {
    QTemporaryDir library, data;
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
    const RunnerDrive drive;

    for (const char* moment : {"TERM:read:Library/Big/huge.mp3", "TERM:copy", "INT:copy", "HUP:copy"}) {
        SCOPED_TRACE(moment);
        QProcess runner;
        drive.start(runner, server, data.path(), QString::fromLatin1(moment));
        EXPECT_LT(endAfterSignal(runner), 1000);
        EXPECT_EQ(filesBelow(data.filePath("Spinforge/Library")), QStringList{track});
        EXPECT_EQ(QFileInfo(cached).size(), qint64(1) << 30);
        EXPECT_EQ(filesBelow(drive.volume), QStringList{".dj-sync.json"}) << "a staging file or a partial track was left";
        EXPECT_EQ(server.reports().size(), 0u);
    }
}

// A stick whose writes stall for half a minute, and which lets the kernel interrupt a stalled write
// (a FUSE file system that heeds interruptions): a logout during the copy ends the agent within a
// few seconds instead of starting the stalled write over.
TEST(AgentStopped, AtOnceWhenAStickThatHeedsInterruptionsStalls) {
    if (const std::optional<std::string> why = whyUnavailable(Disk::stallingStick)) GTEST_SKIP() << *why;
    QTemporaryDir library, data, media;
    writeBytes(library.filePath("a.mp3"), noise(256 * 1024, 41));
    DevServer server({.tokens = {"kill-test-token"}, .library = library.path().toStdString()});
    const QString volume = media.filePath("STALLING");
    const KernelDrive stick(Disk::stallingStick, volume, {});
    EngineRig::registerDrive(volume);
    QProcess runner;
    runner.start(QStringLiteral(SPINFORGE_CYCLE_RUNNER_PATH),
                 {QString::fromStdString(server.baseUrl()), data.path(), QStringLiteral("/proc/self/mountinfo"),
                  media.path() + u'/', QStringLiteral("TERM:copy")});
    EXPECT_LT(endAfterSignal(runner), 5000);
    EXPECT_EQ(filesBelow(volume), QStringList{".dj-sync.json"}) << "a staging file or a partial track was left";
    EXPECT_EQ(server.reports().size(), 0u);
}

}  // namespace
