#include "EngineRig.h"

#include "Paths.h"

#include "credentials/Keychain.h"
#include "service/APIClient.h"
#include "support/Await.h"

#include <stdexcept>

namespace bench {

EngineRig::EngineRig(const std::string& work, spinforge::VolumeSource volumes)
    : settings_(toQt(work + "/Spinforge.conf")),
      engine_(spinforge::EngineSeams{keyring_, settings_, files_, notifier_, mountEvents_, volumes, toQt(work + "/data")}),
      api_(keyring_, settings_),
      library_(files_, api_, toQt(work + "/data")),
      drives_(files_, volumes) {}

spinforge::Folder EngineRig::openFolder(const std::string& path) {
    spinforge::FileResult<spinforge::Folder> folder = files_.openFolder(toQt(path), spinforge::Reach::anywhere);
    if (!folder.ok()) throw std::runtime_error(folder.status().description().toStdString());
    return std::move(*folder);
}

void EngineRig::signIn(const std::string& serverURL, const std::string& token) {
    settings_.setServerURL(QString::fromStdString(serverURL));
    spinforge::Keychain::save(keyring_, QString::fromStdString(token));
}

std::string EngineRig::cacheRoot() const {
    return fromQt(engine_.cacheRoot());
}

spinforge::Manifest EngineRig::manifest() {
    spinforge::APIClient client(keyring_, settings_);
    return testing_support::await(client.manifest());
}

void EngineRig::syncExpecting(const QString& expectedMessage) {
    testing_support::await(engine_.sync(QStringLiteral("benchmark")));
    const spinforge::SyncEngine::State expected = spinforge::SyncEngine::State::success(expectedMessage);
    if (engine_.state() != expected)
        throw std::runtime_error("the cycle ended with \"" + engine_.state().message.toStdString() + "\", not \"" +
                                 expectedMessage.toStdString() + "\"");
}

std::unique_ptr<testing_support::DevServer> serveLibrary(const std::string& library) {
    testing_support::DevServerOptions options;
    options.tokens = {kToken};
    options.library = library;
    options.startSeconds = 300;  // it hashes the whole library first: 200,000 tracks take a while
    return std::make_unique<testing_support::DevServer>(options);
}

}  // namespace bench
