// The agent's process killed (SIGKILL: no cleanup of any kind) at moments of a cycle, fifty times
// in a row with a fixed seed, while the library alternates between two versions so that every
// cycle replaces files. After each kill every file under a final name, on the drive and in the
// library, is missing, the old version or the new one, never partial; and a fresh process's cycle
// completes with every byte right.

#include "engine/RealDriveFixture.h"
#include "engine/Playlist.h"
#include "faults/ReliabilityTable.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <array>
#include <random>

using namespace testing_support;

namespace {

constexpr const char* kToken_ = "kill-test-token";
enum Moment { start, download, copy, rename, playlist, momentCount };
constexpr std::array<const char*, momentCount> kMoments{
    "while starting (0–40 ms after launch)", "during a download (at a random point of the stream)",
    "before a copy to the drive (the 1st, 2nd or 3rd)",
    "before a rename into place (the 2nd, 4th or 6th, library or drive)", "before the playlist write"};

class AgentKilled : public ::testing::Test {
protected:
    void SetUp() override {
        v1 = {{"House/a.mp3", noise(90 * 1024, 11)}, {"House/b.mp3", noise(60 * 1024, 12)},
              {"Techno/c.mp3", noise(40 * 1024, 13)}, {"Techno/d.mp3", noise(120 * 1024, 14)},
              {"Techno/e.mp3", noise(30 * 1024, 15)}};
        v2 = {{"House/a.mp3", noise(100 * 1024, 21)}, {"House/b.mp3", v1["House/b.mp3"]},
              {"Techno/c.mp3", v1["Techno/c.mp3"]}, {"Techno/d.mp3", noise(80 * 1024, 24)},
              {"Techno/f.mp3", noise(70 * 1024, 26)}};
        servers[0] = serve(v1, libraries[0]);
        servers[1] = serve(v2, libraries[1]);
        volume = scratch.filePath("media/DJSTICK");
        const spinforge::Profile profile{kProfileId, QStringLiteral("DJ Demo"), QStringLiteral("Demo Set")};
        writeBytes(volume + u'/' + spinforge::USBMarker::fileName, spinforge::USBMarker::forProfile(profile).encoded());
        marker = fileBytes(volume + u'/' + spinforge::USBMarker::fileName);
        writeBytes(scratch.filePath("mountinfo"), mountTableListing({volume}));
    }

    std::unique_ptr<DevServer> serve(const QMap<QString, QByteArray>& tracks, QTemporaryDir& folder) {
        for (auto track = tracks.begin(); track != tracks.end(); ++track)
            writeBytes(folder.filePath(track.key()), track.value());
        DevServerOptions options;
        options.tokens = {kToken_};
        options.library = folder.path().toStdString();
        // Downloads take a while, so that a kill can land in the middle of one.
        options.faults = {R"({"endpoint": "download", "bytes_per_second": 1000000})"};
        return std::make_unique<DevServer>(options);
    }

    QStringList runnerArguments(int version, const QString& killAt = {}) const {
        QStringList arguments{QString::fromStdString(servers[version]->baseUrl()), data.path(),
                              scratch.filePath("mountinfo"), scratch.filePath("media") + u'/'};
        if (!killAt.isEmpty()) arguments << killAt;
        return arguments;
    }

    // Runs a cycle to its end; its exit status and what it printed.
    std::pair<int, QString> runToEnd(int version, const QString& killAt = {}) {
        QProcess runner;
        runner.start(QStringLiteral(SPINFORGE_CYCLE_RUNNER_PATH), runnerArguments(version, killAt));
        runner.waitForFinished(60000);
        const int status = runner.exitStatus() == QProcess::CrashExit ? -1 : runner.exitCode();
        return {status, QString::fromUtf8(runner.readAllStandardOutput()).trimmed()};
    }

    // Starts a cycle and kills it `delay` after launch, or once a staged download has appeared
    // and then `delay` more. True when the kill landed before the cycle ended.
    bool killAfter(int version, std::chrono::milliseconds delay, bool waitForDownload) {
        QProcess runner;
        runner.start(QStringLiteral(SPINFORGE_CYCLE_RUNNER_PATH), runnerArguments(version));
        if (!runner.waitForStarted()) return false;
        if (waitForDownload) {
            QElapsedTimer waited;
            waited.start();
            while (!hasStagedDownload() && runner.state() == QProcess::Running && waited.elapsed() < 10000)
                QThread::msleep(2);
        }
        const bool landed = !runner.waitForFinished(int(delay.count()));
        if (landed) runner.kill();
        runner.waitForFinished(10000);
        return landed;
    }

    bool hasStagedDownload() const {
        for (const QString& file : filesBelow(cacheRoot()))
            if (file.endsWith(".spinforge-partial")) return true;
        return false;
    }

    QString cacheRoot() const { return data.filePath("Spinforge/Library"); }
    QString onDrive(const QString& path) const { return volume + "/DJ-Music/Demo Set/" + path; }
    QString playlistPath() const { return volume + QStringLiteral("/Spinforge \u2014 DJ Demo.m3u8"); }
    static QByteArray playlistOf(const QMap<QString, QByteArray>& tracks) {
        QByteArray text = "#EXTM3U\n";
        for (const QString& path : tracks.keys()) text += "DJ-Music/Demo Set/" + path.toUtf8() + '\n';
        return text;
    }

    // Every final file missing, or one version of it whole. Returns what is wrong.
    QStringList partialOrWrong() const {
        QStringList wrong;
        const auto check = [&](const QString& file, const QList<QByteArray>& allowed) {
            if (QFileInfo(file).isFile() && !allowed.contains(fileBytes(file))) wrong << file;
        };
        QSet<QString> paths;
        for (const QString& path : v1.keys() + v2.keys()) paths.insert(path);
        for (const QString& path : paths) {
            QList<QByteArray> allowed;
            if (v1.contains(path)) allowed << v1[path];
            if (v2.contains(path)) allowed << v2[path];
            check(cacheRoot() + u'/' + path, allowed);
            check(onDrive(path), allowed);
        }
        check(playlistPath(), {playlistOf(v1), playlistOf(v2)});
        if (fileBytes(volume + u'/' + spinforge::USBMarker::fileName) != marker) wrong << "the marker";
        return wrong;
    }

    // After a completed cycle towards `version`: all of it, exactly, and no staging file.
    QStringList notExactly(int version) const {
        const QMap<QString, QByteArray>& tracks = version == 0 ? v1 : v2;
        QStringList wrong;
        for (auto track = tracks.begin(); track != tracks.end(); ++track) {
            if (fileBytes(cacheRoot() + u'/' + track.key()) != track.value()) wrong << "library " + track.key();
            if (fileBytes(onDrive(track.key())) != track.value()) wrong << "drive " + track.key();
        }
        if (fileBytes(playlistPath()) != playlistOf(tracks)) wrong << "the playlist";
        for (const QString& file : filesBelow(cacheRoot()) + filesBelow(volume))
            if (file.endsWith(".spinforge-partial") || file.contains(".spinforge-")) wrong << "left over: " + file;
        return wrong;
    }

    QMap<QString, QByteArray> v1, v2;
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
        case rename: hit = runToEnd(version, QStringLiteral("move:%1").arg(nth * 2)).first == -1; break;
        case playlist: hit = runToEnd(version, QStringLiteral("writeAtomically:1")).first == -1; break;
        default: break;
        }
        ++kills[moment];
        landed[moment] += hit;
        const QStringList wrong = partialOrWrong();
        EXPECT_EQ(wrong, QStringList()) << "round " << round << ", killed at " << kMoments[moment];
        damaged[moment] += !wrong.isEmpty();

        const auto [status, message] = runToEnd(version);
        const QStringList off = notExactly(version);
        EXPECT_EQ(status, 0) << "round " << round << ": " << message.toStdString();
        EXPECT_EQ(off, QStringList()) << "round " << round << " after the fresh cycle";
        unrecovered[moment] += status != 0 || !off.isEmpty();
    }
    for (int moment = 0; moment < momentCount; ++moment) {
        std::cout << "killed at " << kMoments[moment] << ": " << kills[moment] << " times, " << landed[moment]
                  << " before the cycle ended\n";
        recordRow({"AgentKilled.FiftyTimesInARowNeverLeavesAPartialFileAndTheNextCycleCompletes", "Process", moment + 1,
                   std::string("SIGKILL ") + kMoments[moment] + " \u2014 " + std::to_string(kills[moment]) +
                       " of 50 kills (fixed seed)",
                   "nothing: the process is gone; the next agent's cycle ends in success",
                   damaged[moment] ? "a partial or wrong file" : "every file missing, old or new; never partial",
                   damaged[moment] ? "a partial or wrong file" : "every file missing, old or new; never partial",
                   unrecovered[moment] ? "no" : "yes, every time"});
    }
}

}  // namespace
