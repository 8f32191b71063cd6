#include "support/TestSupport.h"

#include "platform/FileNames.h"

#include <openssl/sha.h>

#include <chrono>
#include <stdexcept>

#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testing_support {

QString digestOf(const QByteArray& bytes) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(bytes.constData()), size_t(bytes.size()), digest);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest), SHA256_DIGEST_LENGTH).toHex());
}

QByteArray noise(qsizetype size, quint32 seed) {
    QByteArray bytes(size, '\0');
    quint32 state = seed * 2654435761u + 1;
    for (char& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = char(state >> 24);
    }
    return bytes;
}

spinforge::RelativePath pathOf(const QString& text) {
    std::optional<spinforge::RelativePath> path = spinforge::RelativePath::from(text);
    if (!path) throw std::invalid_argument("not a relative path: " + text.toStdString());
    return *path;
}

spinforge::Track trackOf(const QString& relativePath, const QByteArray& bytes) {
    spinforge::Track track;
    track.relativePath = pathOf(relativePath);
    track.filename = QFileInfo(relativePath).fileName();
    track.sha256 = digestOf(bytes);
    track.byteSize = bytes.size();
    track.downloadURL = QStringLiteral("/unused/") + relativePath;
    return track;
}

QByteArray fileBytes(const QString& path) {
    // Never waits: a FIFO or a device put where a file was reads as nothing.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (fd >= 0) ::close(fd);
        return {};
    }
    QFile file;
    file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    return file.readAll();
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes);
}

namespace {

// "VmRSS" (now) or "VmHWM" (the peak) of this process, in KiB.
long residentKiB(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(QByteArray(field) + ':')) return line.mid(qstrlen(field) + 1).trimmed().split(' ').value(0).toLong();
    return -1;
}

}  // namespace

Cost costOf(const std::function<void()>& action) {
    ::malloc_trim(0);  // memory freed before, kept by the allocator, would hide what the action takes
    QFile peak(QStringLiteral("/proc/self/clear_refs"));
    if (peak.open(QIODevice::WriteOnly)) peak.write("5");  // the peak starts again from what is resident now
    peak.close();
    const long before = residentKiB("VmRSS");
    const auto started = std::chrono::steady_clock::now();
    action();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return {double(residentKiB("VmHWM") - before) / 1024.0, seconds};
}

QStringList filesBelow(const QString& folder) {
    QStringList names;
    const QDir dir(folder);
    const auto all = QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    for (const QString& entry : dir.entryList(QDir::Files | all)) names << entry;
    for (const QString& sub : dir.entryList(QDir::Dirs | QDir::NoSymLinks | all))
        for (const QString& entry : filesBelow(dir.filePath(sub))) names << sub + u'/' + entry;
    names.sort();
    return names;
}

QByteArray mountTableListing(const QStringList& volumes) {
    QByteArray table = "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n";
    for (const QString& volume : volumes) {
        QByteArray point = spinforge::FileNames::encode(volume);
        point.replace('\\', "\\134").replace(' ', "\\040").replace('\t', "\\011").replace('\n', "\\012");
        // The engine checks that the root it holds is on the mount the table lists.
        struct statx status {};
        ::statx(AT_FDCWD, spinforge::FileNames::encode(volume).constData(), 0, STATX_MNT_ID, &status);
        table += QByteArray::number(quint64(status.stx_mnt_id)) + " 22 " + QByteArray::number(status.stx_dev_major) + ':' +
                 QByteArray::number(status.stx_dev_minor) + " / " + point +
                 " rw,nosuid,nodev,relatime shared:9 - vfat /dev/sdb1 rw,uid=1000\n";
    }
    return table;
}

}  // namespace testing_support
