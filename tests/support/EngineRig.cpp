#include "support/EngineRig.h"

#include "credentials/Keychain.h"
#include "engine/USBMarker.h"
#include "support/Await.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace testing_support {

EngineRig::EngineRig(QString dataHome, spinforge::VolumeSource volumes)
    : settings(scratch_.filePath("Spinforge.conf")), disk_(Disk::folder), dataHome_(std::move(dataHome)), keepStates_(false),
      volumes_(std::move(volumes)) {
    if (!scratch_.isValid()) throw std::runtime_error("no temporary folder");
}

EngineRig::EngineRig(Disk disk) : settings(scratch_.filePath("Spinforge.conf")), disk_(disk), dataHome_(scratch_.filePath("data")) {
    if (!scratch_.isValid()) throw std::runtime_error("no temporary folder");
    if (disk_ == Disk::folder) {
        media_ = scratch_.filePath("media");
        QDir().mkpath(media_);
        writeMountTable();
        return;
    }
    ::mkdir("/media", 0755);
    char pattern[] = "/media/spinforge-test-XXXXXX";
    if (!::mkdtemp(pattern)) throw std::runtime_error(std::string("cannot create a folder below /media: ") + std::strerror(errno));
    media_ = QString::fromLocal8Bit(pattern);
}

EngineRig::~EngineRig() {
    strangers_.clear();
    engine_.reset();
    library_.reset();
    api_.reset();
    drives_.clear();
    if (disk_ == Disk::folder) return;
    // Never remove what could still be a mounted drive.
    const QStringList mounted = kernelMountPoints();
    if (std::none_of(mounted.begin(), mounted.end(), [&](const QString& point) { return point.startsWith(media_ + u'/'); }))
        QDir(media_).removeRecursively();
}

DevServer& EngineRig::serve(const Tracks& tracks, DevServerOptions options) {
    const QString library = scratch_.filePath("served");
    QDir(library).removeRecursively();
    for (const auto& [path, bytes] : tracks) writeBytes(library + u'/' + path, bytes);
    served_ = tracks;
    std::sort(served_.begin(), served_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    options.tokens = {kToken};
    if (options.accounts == DevServerOptions().accounts)
        options.accounts = {"dj@example.com:secret:7:Demo Set:" + displayName.toStdString()};
    options.library = library.toStdString();
    server_ = std::make_unique<DevServer>(options);
    signInTo(server_->baseUrl(), QString::fromLatin1(kToken));
    return *server_;
}

void EngineRig::signInTo(const std::string& serverURL, const QString& token) {
    settings.setServerURL(QString::fromStdString(serverURL));
    spinforge::Keychain::save(keyring, token);
}

QString EngineRig::addDrive(const QString& label, std::optional<qint64> profile) {
    const QString volume = media_ + u'/' + label;
    if (disk_ == Disk::folder) {
        QDir().mkpath(volume);
        listed_ << volume;
        writeMountTable();
    } else {
        drives_.push_back(std::make_unique<KernelDrive>(disk_, volume, scratch_.filePath(label + ".img"), tmpfsSize));
    }
    if (profile) registerDrive(volume, *profile);
    return volume;
}

void EngineRig::registerDrive(const QString& volume, qint64 profile) {
    const spinforge::Profile demo{profile, QStringLiteral("DJ Demo"), pathOf("Demo Set")};
    writeBytes(volume + u'/' + spinforge::USBMarker::fileName, spinforge::USBMarker::forProfile(demo).encoded());
}

QString EngineRig::mountAlsoAt(const QString& volume, const QString& label) {
    if (disk_ != Disk::folder) throw std::runtime_error("a second mount point is made for folder drives only");
    const QString second = media_ + u'/' + label;
    QFile::link(volume, second);
    listed_ << second;
    writeMountTable();
    return second;
}

void EngineRig::mountStrangerAt(const QString& volume) {
    if (disk_ == Disk::folder) {
        QDir().mkpath(volume);
        listed_ << volume;
        writeMountTable();
        return;
    }
    strangers_[volume] = std::make_unique<KernelDrive>(Disk::tmpfs, volume, QString(), tmpfsSize);
}

void EngineRig::removeStranger(const QString& volume) {
    if (disk_ != Disk::folder) {
        strangers_.erase(volume);
        return;
    }
    listed_.removeAll(volume);
    writeMountTable();
    QDir(volume).removeRecursively();
}

KernelDrive* EngineRig::kernelDrive(const QString& volume) const {
    for (const auto& drive : drives_)
        if (drive->path() == volume) return drive.get();
    return nullptr;
}

void EngineRig::takeDriveAway(const QString& volume) {
    if (KernelDrive* drive = kernelDrive(volume)) return drive->detachLazily();
    listed_.removeAll(volume);
    writeMountTable();
    QDir().rename(volume, volume + QStringLiteral(".away"));
}

void EngineRig::bringDriveBack(const QString& volume) {
    if (KernelDrive* drive = kernelDrive(volume)) return drive->mountAgain();
    QDir().rename(volume + QStringLiteral(".away"), volume);
    listed_ << volume;
    writeMountTable();
}

spinforge::EngineSeams EngineRig::seams() {
    const spinforge::VolumeSource volumes =
        volumes_.value_or(spinforge::VolumeSource{disk_ == Disk::folder ? scratch_.filePath("mountinfo")
                                                                         : QStringLiteral("/proc/self/mountinfo"),
                                                  {media_ + u'/'}});
    return {keyring, settings, files, notifier, mountEvents, volumes, dataHome_, scratch_.filePath("config"), timeouts};
}

spinforge::LibraryCache& EngineRig::library() {
    if (!library_) {
        api_ = std::make_unique<spinforge::APIClient>(keyring, settings, timeouts);
        library_ = std::make_unique<spinforge::LibraryCache>(files, *api_, dataHome_);
    }
    return *library_;
}

spinforge::SyncEngine& EngineRig::engine() {
    if (!engine_) {
        engine_ = std::make_unique<spinforge::SyncEngine>(seams());
        if (keepStates_) engine_->onStateChange = [this](const State& state) { states.append(state); };
    }
    return *engine_;
}

void EngineRig::runCycle() { await(engine().sync(QStringLiteral("test"))); }

QStringList EngineRig::messages() const {
    QStringList texts;
    for (const State& state : states) texts << state.message;
    return texts;
}

QString EngineRig::cacheRoot() const { return dataHome_ + QStringLiteral("/Spinforge/Library"); }

QByteArray EngineRig::servedPlaylist() const {
    QByteArray text = "#EXTM3U\n";
    for (const auto& track : served_) text += "DJ-Music/Demo Set/" + track.first.toUtf8() + '\n';
    return text;
}

QStringList EngineRig::offFromServed(const QStringList& roots, bool complete, const QStringList& others) const {
    QStringList off;
    const auto check = [&](const QString& folder, const QString& prefix, QStringList ours) {
        for (const auto& [path, bytes] : served_) {
            ours << prefix + path;
            const QString file = folder + u'/' + prefix + path;
            if (QFileInfo::exists(file) ? fileBytes(file) != bytes : complete) off << file;
        }
        for (const QString& file : complete ? filesBelow(folder) : QStringList())
            if (!ours.contains(file) && !others.contains(folder + u'/' + file)) off << "left over: " + folder + u'/' + file;
    };
    check(cacheRoot(), {}, {});
    for (const QString& root : roots) {
        const QString playlist = playlistOf(root);
        if (QFileInfo::exists(playlist) ? fileBytes(playlist) != servedPlaylist() : complete) off << playlist;
        check(root, QStringLiteral("DJ-Music/Demo Set/"), {QFileInfo(playlist).fileName(), QStringLiteral(".dj-sync.json")});
    }
    return off;
}

void EngineRig::writeMountTable() { writeBytes(scratch_.filePath("mountinfo"), mountTableListing(listed_)); }

}  // namespace testing_support
