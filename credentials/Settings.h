#pragma once
// The agent's three persisted settings, in an INI file at
// $XDG_CONFIG_HOME/Spinforge/Spinforge.conf. Every write reaches the file at once.
// Main thread. Nothing else is persisted; the device token lives in the keyring.

#include <QSettings>
#include <QString>
#include <optional>

namespace spinforge {

class Settings {
public:
    // The user's settings file.
    Settings();
    // A settings file at `filePath` (tests).
    explicit Settings(const QString& filePath);
    Q_DISABLE_COPY_MOVE(Settings)

    static QString defaultFilePath();

    std::optional<QString> serverURL() const { return text(QStringLiteral("serverURL")); }
    std::optional<QString> displayName() const { return text(QStringLiteral("displayName")); }
    std::optional<qint64> deviceId() const;

    void setServerURL(const QString& value) { write(QStringLiteral("serverURL"), value); }
    void setDisplayName(const QString& value) { write(QStringLiteral("displayName"), value); }
    void setDeviceId(qint64 value) { write(QStringLiteral("deviceId"), value); }

private:
    std::optional<QString> text(const QString& key) const;
    void write(const QString& key, const QVariant& value);

    mutable QSettings settings_;
};

}  // namespace spinforge
