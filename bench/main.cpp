// spinforge-bench: runs the benchmarks named on the command line (see scripts/bench, which is
// how they are meant to be run). Missing a target is reported, not failed: the exit status is
// non-zero only when a benchmark could not run at all.

#include "Benchmarks.h"
#include "Measure.h"
#include "support/DevServer.h"

#include <QDir>
#include <QTemporaryDir>

#include <QCoreApplication>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>

namespace {

constexpr const char* kUsage =
    "usage: spinforge-bench [--runs N] [--work DIR] [--media NAME] BENCHMARK...\n"
    "  BENCHMARK: integrity, warm-cycle, usb-copy, cold-cycle, cycle-memory or all\n"
    "  --runs N      measured runs of each side after one warming run (default 5, at least 3)\n"
    "  --work DIR    where the data goes (default: a new folder below $TMPDIR, removed after)\n"
    "  --media NAME  as root, drives are tmpfs mounted below /media/NAME (default: DIR's name)\n";

using Benchmark = std::function<bool(const bench::Options&)>;

const std::map<std::string, Benchmark>& benchmarks() {
    static const std::map<std::string, Benchmark> all{{"integrity", bench::integrity},
                                                      {"warm-cycle", bench::warmCycle},
                                                      {"usb-copy", bench::usbCopy},
                                                      {"cold-cycle", bench::coldCycle},
                                                      {"cycle-memory", bench::cycleMemory}};
    return all;
}

struct Command {
    bench::Options options;
    std::vector<std::string> names;
};

Command parse(const std::vector<std::string>& args) {
    Command command;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == "--runs" && hasValue) command.options.runs = std::stoi(args[++i]);
        else if (args[i] == "--work" && hasValue) command.options.work = args[++i];
        else if (args[i] == "--media" && hasValue) command.options.mediaName = args[++i];
        else if (args[i] == "all") for (const auto& [name, run] : benchmarks()) command.names.push_back(name);
        else if (benchmarks().count(args[i])) command.names.push_back(args[i]);
        else throw std::invalid_argument("unknown argument " + args[i]);
    }
    if (command.names.empty() || command.options.runs < 3) throw std::invalid_argument("nothing to run");
    return command;
}

int runAll(Command command) {
    QTemporaryDir ownWork(QDir::tempPath() + QStringLiteral("/spinforge-bench-XXXXXX"));
    if (command.options.work.empty()) command.options.work = ownWork.path().toStdString();
    if (command.options.mediaName.empty())
        command.options.mediaName = std::filesystem::path(command.options.work).filename().string();
    for (const std::string& name : command.names) benchmarks().at(name)(command.options);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.size() == 4 && args[0] == "cold-cycle-engine")
            return bench::coldCycleEngine(args[1], args[2], std::stoi(args[3]));
        if (args.size() == 5 && args[0] == "cycle-memory-engine")
            return bench::cycleMemoryEngine(args[1], args[2], args[3], args[4]);
        return runAll(parse(args));
    } catch (const std::invalid_argument& error) {
        std::fprintf(stderr, "spinforge-bench: %s\n%s", error.what(), kUsage);
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "spinforge-bench: %s\n", error.what());
        return 1;
    }
}
