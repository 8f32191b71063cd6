#pragma once
// A self-signed certificate for 127.0.0.1, made fresh for a test that needs HTTPS.

#include <QProcess>
#include <QString>

namespace testing_support {

// Writes cert.pem and key.pem into `folder`; false when openssl fails.
inline bool makeCertificate(const QString& folder) {
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                   QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("1"), QStringLiteral("-subj"),
                   QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1"),
                   QStringLiteral("-keyout"), folder + QStringLiteral("/key.pem"), QStringLiteral("-out"),
                   folder + QStringLiteral("/cert.pem")});
    return openssl.waitForFinished(60000) && openssl.exitCode() == 0;
}

}  // namespace testing_support
