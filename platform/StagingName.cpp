#include "platform/StagingName.h"

#include <QCryptographicHash>

namespace spinforge::StagingName {
namespace {

const QByteArray kSuffix = ".spinforge-partial";
constexpr qsizetype kDigestHexDigits = 8;

bool isContinuationByte(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// At most `bytes` bytes of `name`, never ending inside a character.
QByteArray cutAtCharacter(const QByteArray& name, qsizetype bytes) {
    qsizetype end = std::min(bytes, name.size());
    while (end > 0 && end < name.size() && isContinuationByte(name[end])) --end;
    return name.left(end);
}

}  // namespace

QByteArray of(const QByteArray& finalName) {
    if (finalName.size() + kSuffix.size() <= maxBytes) return finalName + kSuffix;
    const QByteArray digest = QCryptographicHash::hash(finalName, QCryptographicHash::Sha256).toHex().left(kDigestHexDigits);
    const qsizetype room = maxBytes - kSuffix.size() - kDigestHexDigits - 1;
    return cutAtCharacter(finalName, room) + '~' + digest + kSuffix;
}

}  // namespace spinforge::StagingName
