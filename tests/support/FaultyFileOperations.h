#pragma once
// The real file operations with failures injected where a test asks for them: one errno at one
// operation on matching paths, the refusals of a FAT drive below a folder, and a hook that runs
// before every operation (to pull a drive out mid-cycle, or kill the process).

#include "platform/PosixFileOperations.h"

#include <QFileInfo>
#include <QList>
#include <QRegularExpression>
#include <QString>

#include <cerrno>
#include <functional>

namespace testing_support {

class FaultyFileOperations final : public spinforge::FileOperations {
public:
    enum class Op { fileSize, openForReading, readFile, isWritable, isLink, isSameFile, createFolders, remove, copy, move, writeAtomically };

    // The next `times` calls of `op` whose path contains `pathPart` fail with `errnum`
    // (times < 0: every call). For queries a failure means "nothing there".
    void failOn(Op op, const QString& pathPart, int errnum, int times = -1) { rules_.append({op, pathPart, errnum, times, false}); }
    // The same, but the operation is carried out first and then reported failed, as when the
    // bytes were written but flushing them (fsync) failed. For copy, move and writeAtomically.
    void failAfterDoing(Op op, const QString& pathPart, int errnum, int times = -1) {
        rules_.append({op, pathPart, errnum, times, true});
    }
    // Below `root`, behave as a FAT drive does: names holding : * ? " < > | or \ are refused with
    // EINVAL, a copy of a file larger than `maxFileSize` with EFBIG, and names that differ only
    // in letter case lead to the same file. An empty root ends it.
    void emulateFat(const QString& root, qint64 maxFileSize = (qint64(1) << 32) - 1) {
        fatRoot_ = root;
        fatMaxFileSize_ = maxFileSize;
    }
    // Forgets every failure asked for; the FAT behaviour and the hook stay.
    void clearFaults() { rules_.clear(); }
    std::function<void(Op, const QString&)> beforeEach;

    std::optional<qint64> fileSize(const QString& path) override {
        return fails(Op::fileSize, path) ? std::nullopt : real_.fileSize(path);
    }
    int openForReading(const QString& path) override {
        if (const int error = fails(Op::openForReading, path)) return errno = error, -1;
        return real_.openForReading(path);
    }
    std::optional<QByteArray> readFile(const QString& path, qint64 maxBytes) override {
        return fails(Op::readFile, path) ? std::nullopt : real_.readFile(path, maxBytes);
    }
    bool isWritable(const QString& path) override { return !fails(Op::isWritable, path) && real_.isWritable(path); }
    bool isLink(const QString& path) override { return !fails(Op::isLink, path) && real_.isLink(path); }
    bool isSameFile(const QString& first, const QString& second) override {
        if (fails(Op::isSameFile, first)) return false;
        if (isOnFat(first) && isOnFat(second))
            return logical(first).toCaseFolded() == logical(second).toCaseFolded() &&
                   (QFileInfo::exists(logical(first)) || QFileInfo::exists(logical(second)));
        return real_.isSameFile(first, second);
    }
    int createFolders(const QString& folder) override {
        if (const int error = refusal(Op::createFolders, folder)) return error;
        return real_.createFolders(folder);
    }
    int remove(const QString& path) override {
        if (const int error = fails(Op::remove, path)) return error;
        return real_.remove(path);
    }
    int copy(const QString& source, const QString& target) override {
        if (const int error = refusal(Op::copy, target)) return error;
        if (isOnFat(target) && real_.fileSize(source).value_or(0) > fatMaxFileSize_) return EFBIG;
        return afterDoing(Op::copy, target, real_.copy(source, target));
    }
    int move(const QString& source, const QString& target) override {
        if (const int error = refusal(Op::move, target)) return error;
        return afterDoing(Op::move, target, real_.move(source, target));
    }
    int writeAtomically(const QString& target, const QByteArray& bytes) override {
        if (const int error = refusal(Op::writeAtomically, target)) return error;
        return afterDoing(Op::writeAtomically, target, real_.writeAtomically(target, bytes));
    }

private:
    struct Rule {
        Op op;
        QString pathPart;
        int errnum;
        int times;
        bool afterDoing;
    };

    // The engine reaches a drive through a handle on its root ("/proc/self/fd/7/DJ-Music/…");
    // tests name places by the drive's own path.
    static QString logical(const QString& path) {
        static const QRegularExpression handle(QStringLiteral("^/proc/self/fd/\\d+"));
        const QRegularExpressionMatch match = handle.match(path);
        if (!match.hasMatch()) return path;
        return QFileInfo(match.captured(0)).symLinkTarget() + path.mid(match.capturedLength());
    }

    int fails(Op op, const QString& physicalPath) {
        const QString path = logical(physicalPath);
        if (beforeEach) beforeEach(op, path);
        return take(op, path, false);
    }
    // The failure of a rule that lets the operation happen first, once it has: `result`.
    int afterDoing(Op op, const QString& physicalPath, int result) {
        return result != 0 ? result : take(op, logical(physicalPath), true);
    }
    int take(Op op, const QString& path, bool afterDoing) {
        for (Rule& rule : rules_) {
            if (rule.op != op || rule.afterDoing != afterDoing || rule.times == 0 || !path.contains(rule.pathPart)) continue;
            if (rule.times > 0) --rule.times;
            return rule.errnum;
        }
        return 0;
    }
    // An injected failure, else what a FAT drive would say about the name.
    int refusal(Op op, const QString& path) {
        if (const int error = fails(op, path)) return error;
        if (!isOnFat(path)) return 0;
        for (QChar c : logical(path).mid(fatRoot_.size()))
            if (QStringLiteral(":*?\"<>|\\").contains(c)) return EINVAL;
        return 0;
    }
    bool isOnFat(const QString& path) const { return !fatRoot_.isEmpty() && logical(path).startsWith(fatRoot_ + u'/'); }

    spinforge::PosixFileOperations real_;
    QList<Rule> rules_;
    QString fatRoot_;
    qint64 fatMaxFileSize_ = 0;
};

}  // namespace testing_support
