#include "Cycles.h"

#include "Paths.h"

#include "service/APIClient.h"
#include "support/Await.h"

#include <stdexcept>

namespace bench {

std::unique_ptr<testing_support::DevServer> serveLibrary(const std::string& library) {
    testing_support::DevServerOptions options;
    options.tokens = {kToken};
    options.library = library;
    options.startSeconds = 300;  // it hashes the whole library first: 200,000 tracks take a while
    return std::make_unique<testing_support::DevServer>(options);
}

spinforge::Folder openFolder(testing_support::EngineRig& rig, const std::string& path) {
    spinforge::FileResult<spinforge::Folder> folder = rig.files.openFolder(toQt(path), spinforge::Reach::anywhere);
    if (!folder.ok()) throw std::runtime_error(folder.status().description().toStdString());
    return std::move(*folder);
}

spinforge::Manifest manifestOf(testing_support::EngineRig& rig) {
    spinforge::APIClient client(rig.keyring, rig.settings);
    return testing_support::await(client.manifest());
}

void syncExpecting(testing_support::EngineRig& rig, const QString& expectedMessage) {
    rig.runCycle();
    const spinforge::SyncEngine::State expected = spinforge::SyncEngine::State::success(expectedMessage);
    if (rig.engine().state() != expected)
        throw std::runtime_error("the cycle ended with \"" + rig.engine().state().message.toStdString() + "\", not \"" +
                                 expectedMessage.toStdString() + "\"");
}

}  // namespace bench
