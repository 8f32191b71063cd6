#include "ProcessStats.h"

#include <dirent.h>
#include <fstream>
#include <stdexcept>
#include <string>

namespace bench::soak {
namespace {

// A "Name:   12345 kB" line of /proc/self/status, in MiB.
double statusMiB(const std::string& field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field + ':', 0) == 0) return std::stod(line.substr(field.size() + 1)) / 1024.0;
    throw std::runtime_error("no " + field + " line in /proc/self/status");
}

}  // namespace

double peakResidentMiB() { return statusMiB("VmHWM"); }

double residentMiB() { return statusMiB("VmRSS"); }

int openFileDescriptors() {
    DIR* folder = ::opendir("/proc/self/fd");
    if (!folder) throw std::runtime_error("cannot list /proc/self/fd");
    int count = 0;
    while (const dirent* entry = ::readdir(folder))
        if (entry->d_name[0] != '.') ++count;
    ::closedir(folder);
    return count - 1;  // the listing's own
}

}  // namespace bench::soak
