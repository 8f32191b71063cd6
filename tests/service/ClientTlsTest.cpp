// HTTPS: a service whose certificate the system does not trust is refused; once trusted, the
// same service works.
#include "service/ClientFixture.h"

#include "service/TransportError.h"
#include "support/Certificates.h"

#include <QSslCertificate>
#include <QSslConfiguration>

using namespace spinforge;
using namespace testing_support;

namespace {

TEST(ClientTls, UntrustedCertificateIsRefusedTrustedOneWorks) {
    QTemporaryDir certificates, library, scratch;
    ASSERT_TRUE(makeCertificate(certificates.path()));
    DevServerOptions options;
    options.tokens = {kDemoToken};
    options.library = library.path().toStdString();
    options.tlsCert = certificates.filePath(QStringLiteral("cert.pem")).toStdString();
    options.tlsKey = certificates.filePath(QStringLiteral("key.pem")).toStdString();
    DevServer::writeFile(library.filePath(QStringLiteral("a.mp3")).toStdString(), "bytes");
    DevServer server(options);
    const QString base = QString::fromStdString(server.baseUrl());
    ASSERT_TRUE(base.startsWith(QStringLiteral("https://")));

    MemoryKeyring keyring;
    Settings settings(scratch.filePath(QStringLiteral("Spinforge.conf")));
    APIClient client(keyring, settings);
    try {
        await(client.login(base, QStringLiteral("dj@example.com"), QStringLiteral("secret")));
        FAIL() << "an untrusted certificate was accepted";
    } catch (const TransportError& error) {
        EXPECT_TRUE(QString::fromUtf8(error.what()).contains(QStringLiteral("secure connection"))) << error.what();
    }

    const QSslConfiguration original = QSslConfiguration::defaultConfiguration();
    QSslConfiguration trusting = original;
    trusting.addCaCertificates(QSslCertificate::fromPath(certificates.filePath(QStringLiteral("cert.pem"))));
    QSslConfiguration::setDefaultConfiguration(trusting);
    APIClient trustingClient(keyring, settings);
    const LoginResponse reply = await(trustingClient.login(base, QStringLiteral("dj@example.com"), QStringLiteral("secret")));
    Keychain::save(keyring, reply.token);
    EXPECT_EQ(await(trustingClient.manifest()).tracks.size(), 1);
    QSslConfiguration::setDefaultConfiguration(original);
}

}  // namespace
