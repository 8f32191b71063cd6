#pragma once
// File names as the kernel has them: bytes. They are UTF-8 on any sane system, but a stick's label
// need not be ("/media/kim/DJ\xff"), and a drive mounted under such a name is still the user's
// drive. Decoding keeps every byte: one that is not part of valid UTF-8 becomes the lone surrogate
// U+DC00 + byte, which no valid UTF-8 text can hold, and encodes back to that same byte, so a name
// read from the mount table reaches the kernel again exactly as it was. Stateless; any thread.

#include <QByteArray>
#include <QString>

namespace spinforge::FileNames {

QString decode(const QByteArray& bytes);
QByteArray encode(const QString& name);
// A decoded name for people to read: each byte that was not valid UTF-8 shown as U+FFFD.
QString readable(const QString& name);

}  // namespace spinforge::FileNames
