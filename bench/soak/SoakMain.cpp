// spinforge-soak: hundreds of sync cycles with random faults against the development service,
// the data checked after each (see scripts/soak, which is how it is meant to be run).

#include "SoakRun.h"

#include "support/DevServer.h"

#include <QCoreApplication>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr const char* kUsage =
    "usage: spinforge-soak [--cycles N] [--tracks N] [--seed N] [--min-kib N] [--max-kib N] [--work DIR] [--media NAME]\n"
    "  --cycles N    sync cycles (default 500)\n"
    "  --tracks N    tracks in the service's library (default 2000)\n"
    "  --seed N      picks the track sizes and the faults (default 20261206)\n"
    "  --min-kib N, --max-kib N   track sizes (default 2 and 100 KiB)\n"
    "  --work DIR    where the data goes (default: a new folder below $TMPDIR, removed after)\n"
    "  --media NAME  as root, drives are tmpfs mounted below /media/NAME (default: DIR's name)\n";

int positive(const std::string& text) {
    std::size_t used = 0;
    const long long value = std::stoll(text, &used);
    if (used != text.size() || value < 1 || value > 1'000'000'000) throw std::invalid_argument("not a count: " + text);
    return int(value);
}

bench::soak::SoakOptions parse(const std::vector<std::string>& args) {
    bench::soak::SoakOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i + 1 >= args.size()) throw std::invalid_argument("unknown argument " + args[i]);
        const std::string& value = args[i + 1];
        if (args[i] == "--cycles") options.cycles = positive(value);
        else if (args[i] == "--tracks") options.tracks = positive(value);
        else if (args[i] == "--seed") options.seed = std::stoull(value);
        else if (args[i] == "--min-kib") options.minKiB = positive(value);
        else if (args[i] == "--max-kib") options.maxKiB = positive(value);
        else if (args[i] == "--work") options.work = value;
        else if (args[i] == "--media") options.mediaName = value;
        else throw std::invalid_argument("unknown argument " + args[i]);
        ++i;
    }
    if (options.minKiB > options.maxKiB) throw std::invalid_argument("--min-kib is above --max-kib");
    return options;
}

int run(bench::soak::SoakOptions options) {
    std::unique_ptr<testing_support::TempDir> ownWork;
    if (options.work.empty()) {
        ownWork = std::make_unique<testing_support::TempDir>("spinforge-soak");
        options.work = ownWork->path();
    }
    if (options.mediaName.empty()) options.mediaName = std::filesystem::path(options.work).filename().string();
    return bench::soak::runSoak(options);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    try {
        return run(parse(std::vector<std::string>(argv + 1, argv + argc)));
    } catch (const std::invalid_argument& error) {
        std::fprintf(stderr, "spinforge-soak: %s\n%s", error.what(), kUsage);
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "spinforge-soak: %s\n", error.what());
        return 1;
    }
}
