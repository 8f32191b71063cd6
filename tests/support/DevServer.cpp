#include "support/DevServer.h"

#include <httplib.h>

#include <QDeadlineTimer>
#include <QFile>

#include <csignal>
#include <stdexcept>
#include <sys/prctl.h>

#ifndef SPINFORGE_DEVSERVER_PATH
#error "Define SPINFORGE_DEVSERVER_PATH as the path of the spinforge-devserver executable"
#endif

namespace testing_support {

DevServer::DevServer(DevServerOptions options) {
    // The server may close a connection while a control call still writes: no reason to end.
    std::signal(SIGPIPE, SIG_IGN);
    const QString library = options.library.empty() ? work_.filePath("library") : QString::fromStdString(options.library);
    QDir().mkpath(library);
    QStringList arguments{"--port", "0", "--library", library, "--state", work_.filePath("state")};
    const auto add = [&](const char* flag, const std::vector<std::string>& values) {
        for (const std::string& value : values) arguments << flag << QString::fromStdString(value);
    };
    add("--account", options.accounts);
    add("--token", options.tokens);
    add("--fault", options.faults);
    if (!options.tlsCert.empty()) add("--tls-cert", {options.tlsCert}), add("--tls-key", {options.tlsKey});
    if (options.preferHttp2) arguments << QStringLiteral("--prefer-h2");
    scheme_ = options.tlsCert.empty() ? "http" : "https";
    // The request log goes to a file: a pipe nobody reads would fill and stall the server mid-reply.
    process_.setStandardErrorFile(work_.filePath("stderr.log"));
    // A test that dies must not leave servers behind.
    process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process_.start(QStringLiteral(SPINFORGE_DEVSERVER_PATH), arguments);
    QDeadlineTimer started(std::chrono::seconds(options.startSeconds));
    while (!process_.canReadLine() && process_.waitForReadyRead(int(started.remainingTime()))) {
    }
    const QByteArray line = process_.readLine().trimmed();  // "listening on 127.0.0.1:PORT"
    port_ = line.mid(line.lastIndexOf(':') + 1).toInt();
    if (!line.startsWith("listening on ") || port_ <= 0)
        throw std::runtime_error("spinforge-devserver did not start: " + standardError());
}

DevServer::~DevServer() {
    process_.terminate();
    if (!process_.waitForFinished(5000)) process_.kill(), process_.waitForFinished(5000);
}

std::string DevServer::standardError() const {
    QFile log(work_.filePath("stderr.log"));
    return log.open(QIODevice::ReadOnly) ? log.readAll().toStdString() : std::string();
}

std::string DevServer::baseUrl() const { return scheme_ + "://127.0.0.1:" + std::to_string(port_); }

std::string DevServer::control(const std::string& method, const std::string& path, const std::string& body,
                               const std::string& token) {
    httplib::Client client(baseUrl());
    if (!token.empty()) client.set_bearer_token_auth(token);
    client.enable_server_certificate_verification(false);  // test certificates are self-signed
    client.set_read_timeout(std::chrono::seconds(5));
    const httplib::Result result = method == "GET" ? client.Get(path) : client.Post(path, body, "application/json");
    if (!result || result->status != 200)
        throw std::runtime_error(method + " " + path + " failed: " + (result ? result->body : httplib::to_string(result.error())));
    return result->body;
}

void DevServer::setFault(const std::string& json) { control("POST", "/_dev/fault", json); }
void DevServer::reset() { control("POST", "/_dev/reset"); }
nlohmann::json DevServer::counters() { return nlohmann::json::parse(control("GET", "/_dev/counters")); }
nlohmann::json DevServer::reports() { return nlohmann::json::parse(control("GET", "/_dev/reports")); }
std::string DevServer::manifest(const std::string& token) { return control("GET", "/api/client/manifest", {}, token); }

}  // namespace testing_support
