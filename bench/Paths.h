#pragma once
// File names cross between the benchmarks' std::string paths and the engine's QString ones in
// the local 8-bit encoding, as the engine itself converts them.

#include <QFile>
#include <QString>

#include <string>

namespace bench {

inline QString toQt(const std::string& path) {
    return QFile::decodeName(path.c_str());
}

inline std::string fromQt(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

}  // namespace bench
