#include "credentials/Settings.h"

#include <QDir>
#include <QStandardPaths>

namespace spinforge {

QString Settings::defaultFilePath() {
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QDir(config).filePath(QStringLiteral("Spinforge/Spinforge.conf"));
}

Settings::Settings() : Settings(defaultFilePath()) {}

Settings::Settings(const QString& filePath) : settings_(filePath, QSettings::IniFormat) {}

std::optional<QString> Settings::text(const QString& key) const {
    const QVariant value = settings_.value(key);
    if (!value.isValid()) return std::nullopt;
    return value.toString();
}

std::optional<qint64> Settings::deviceId() const {
    bool ok = false;
    const qint64 value = settings_.value(QStringLiteral("deviceId")).toLongLong(&ok);
    return ok ? std::optional(value) : std::nullopt;
}

void Settings::write(const QString& key, const QVariant& value) {
    settings_.setValue(key, value);
    settings_.sync();
}

}  // namespace spinforge
