#pragma once
// A client wired to an in-memory keyring and a temporary settings file, plus a running
// development service on loopback with one demo account and a small library.

#include "credentials/Keychain.h"
#include "credentials/Settings.h"
#include "service/APIClient.h"
#include "support/Await.h"
#include "support/DevServer.h"
#include "support/MemoryKeyring.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

namespace testing_support {

inline constexpr const char* kDemoToken = "demo-token-123";

inline QByteArray readBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Names in `folder` other than `keep`: leftovers of a staged download.
inline QStringList strayFiles(const QString& folder, const QStringList& keep) {
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : keep) names.removeAll(name);
    return names;
}

class ClientFixture : public ::testing::Test {
protected:
    void SetUp() override {
        DevServerOptions options;
        options.tokens = {kDemoToken};
        options.library = library.path().toStdString();
        DevServer::writeFile(library.filePath("House/One.mp3").toStdString(), std::string(300000, 'a'));
        DevServer::writeFile(library.filePath("Techno/Two.mp3").toStdString(), std::string(70000, 'b'));
        server = std::make_unique<DevServer>(options);
        settings.setServerURL(base());
    }

    QString base() const { return QString::fromStdString(server->baseUrl()); }
    void signIn() { spinforge::Keychain::save(keyring, QString::fromLatin1(kDemoToken)); }
    spinforge::APIClient& client() { return *client_; }
    // A client whose idle timeouts are short, for stall tests.
    void useShortTimeouts(std::chrono::milliseconds idle) {
        client_ = std::make_unique<spinforge::APIClient>(keyring, settings, spinforge::APITimeouts{idle, idle});
    }

    QTemporaryDir library;
    QTemporaryDir scratch;
    MemoryKeyring keyring;
    spinforge::Settings settings{scratch.filePath("Spinforge.conf")};
    std::unique_ptr<DevServer> server;

private:
    std::unique_ptr<spinforge::APIClient> client_ = std::make_unique<spinforge::APIClient>(keyring, settings);
};

}  // namespace testing_support
