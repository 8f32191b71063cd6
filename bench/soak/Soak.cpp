// spinforge-soak: hundreds of sync cycles onto two drives through the fault matrix's rig, about
// every other one with a seeded fault. A cycle must fail exactly when its fault calls for it, and
// a success leaves every track exact; peak memory and open file descriptors are watched.

#include "support/EngineRig.h"

#include <QCoreApplication>

#include <cstdio>
#include <random>
#include <sys/resource.h>

using namespace testing_support;
using Op = FaultyFileSystem::Op;

namespace {

struct Fault {
    const char* name;
    bool fails;  // the cycle must fail; otherwise it must succeed anyway
    std::function<void(EngineRig&, const QString& track, const QString& drive)> inject;
};

void damage(const QString& file) {
    QByteArray bytes = fileBytes(file);
    if (!bytes.isEmpty()) bytes[0] = char(bytes[0] ^ 0x5a);
    writeBytes(file, bytes);
}
QString json(const char* format, const QString& track) { return QString::fromLatin1(format).arg(track); }

const std::vector<Fault> kFaults{
    {"manifest refused", true, [](EngineRig& r, auto&, auto&) { r.service().setFault(R"({"endpoint": "manifest", "status": 500})"); }},
    {"status report refused", false, [](EngineRig& r, auto&, auto&) { r.service().setFault(R"({"endpoint": "status", "status": 500})"); }},
    {"library file damaged", false, [](EngineRig& r, const QString& t, auto&) { damage(r.cached(t)); }},
    {"drive file damaged", false, [](EngineRig&, const QString& t, const QString& d) { damage(EngineRig::onDrive(d, t)); }},
    {"wrong bytes downloaded", true, [](EngineRig& r, const QString& t, auto&) {
         damage(r.cached(t));
         r.service().setFault(json(R"({"endpoint": "download", "wrong_bytes": true, "track": "%1"})", t).toStdString());
     }},
    {"download dropped", true, [](EngineRig& r, const QString& t, auto&) {
         damage(r.cached(t));
         r.service().setFault(json(R"({"endpoint": "download", "drop_after": 1000, "track": "%1"})", t).toStdString());
     }},
    {"drive full", true, [](EngineRig& r, const QString& t, const QString& d) {
         damage(EngineRig::onDrive(d, t));
         r.files.failOn(Op::copy, t, ENOSPC, 1);
     }},
    {"EIO renaming on the drive", true, [](EngineRig& r, const QString& t, const QString& d) {
         damage(EngineRig::onDrive(d, t));
         r.files.failOn(Op::commit, "DJ-Music/Demo Set/" + t, EIO, 1);
     }},
};

long peakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}
// Sockets apart: the network layer keeps up to its limit alive and closes idle ones when it likes.
struct Descriptors {
    int files = 0, sockets = 0;
};
Descriptors openDescriptors() {
    Descriptors open;
    const QDir listed("/proc/self/fd");
    for (const QString& name : listed.entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System))
        ++(QFile::symLinkTarget(listed.filePath(name)).contains(QLatin1String("socket:")) ? open.sockets : open.files);
    return open;
}
constexpr int kConnectionsPerHost = 1;  // the client keeps one connection to a server for its next request

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int cycles = args.value(1, "500").toInt(), trackCount = args.value(2, "2000").toInt();
    std::mt19937 random(args.value(3, "20261206").toUInt());

    EngineRig rig(whyUnavailable(Disk::tmpfs) ? Disk::folder : Disk::tmpfs);
    rig.timeouts.request = std::chrono::seconds(3);
    Tracks tracks;
    for (int i = 0; i < trackCount; ++i)
        tracks.append({QStringLiteral("Set %1/track-%2.mp3").arg(i % 20).arg(i, 4, 10, QChar(u'0')),
                       noise(std::uniform_int_distribution<int>(2, 100)(random) * 1024, quint32(i))});
    rig.serve(tracks);
    rig.tmpfsSize = QStringLiteral("size=%1k").arg(trackCount * 120 + 4096);
    const QStringList drives{rig.addDrive("DJSTICK"), rig.addDrive("BACKUP")};

    int injected = 0, unexpected = 0, dataErrors = 0;
    long baselinePeak = 0;
    Descriptors baseline;
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        const Fault* fault = nullptr;
        if (cycle > 1 && random() % 2) {
            fault = &kFaults[random() % kFaults.size()];
            fault->inject(rig, rig.served()[int(random() % rig.served().size())].first, drives[random() % 2]);
            ++injected;
        }
        rig.runCycle();
        rig.files.clearFaults();
        rig.service().reset();
        const State last = rig.states.last();
        rig.states.clear();  // a cycle publishes a state per track; kept, they would be the growth measured
        const bool succeeded = last.kind == Kind::success;
        if (succeeded == (fault && fault->fails)) {
            ++unexpected;
            std::printf("soak: cycle %d (%s) ended \"%s\"\n", cycle, fault ? fault->name : "no fault",
                        qUtf8Printable(last.message));
        }
        // What a failed cycle leaves is the fault matrix's to judge; a success must be whole.
        for (const QString& file : succeeded ? rig.offFromServed(drives, true) : QStringList()) {
            ++dataErrors;
            std::printf("soak: cycle %d: %s\n", cycle, qUtf8Printable(file));
        }
        if (cycle == 10) baselinePeak = peakKiB(), baseline = openDescriptors();
    }
    const double growth = baselinePeak ? 100.0 * double(peakKiB() - baselinePeak) / double(baselinePeak) : 0;
    const Descriptors end = openDescriptors();
    std::printf("soak cycles: %d\nsoak faults injected: %d\nsoak unexpected outcomes: %d\nsoak data errors: %d\n"
                "soak peak RSS growth after cycle 10: %.2f %% (%ld KiB)\n"
                "soak open file descriptors: %d after cycle 10, %d at the end; sockets to the service: %d (at most %d)\n",
                cycles, injected, unexpected, dataErrors, growth, peakKiB(), baseline.files, end.files, end.sockets,
                kConnectionsPerHost);
    const bool leaked = (baseline.files && end.files > baseline.files) || end.sockets > kConnectionsPerHost;
    return unexpected || dataErrors || growth > 5.0 || leaked ? 1 : 0;
}
