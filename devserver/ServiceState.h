#pragma once
// Everything the request handlers share. Built once before the server listens; the members
// that change while it runs guard themselves.

#include "devserver/Counters.h"
#include "devserver/Faults.h"
#include "devserver/Library.h"
#include "devserver/Options.h"
#include "devserver/Reports.h"
#include "devserver/Sessions.h"
#include "devserver/StopSignal.h"

#include <string>

namespace spinforge::devserver {

struct ServiceState {
    ServiceState(const Options& given, Library loaded, const std::string& started)
        : options(given),
          library(std::move(loaded)),
          startedAt(started),
          sessions(given.accounts, given.tokens),
          reports(std::filesystem::path(given.stateDir) / "reports.jsonl") {
        for (const Fault& fault : given.faults) faults.add(fault);
    }

    const Options options;
    const Library library;
    const std::string startedAt;
    Sessions sessions;
    ReportLog reports;
    FaultTable faults;
    Counters counters;
    StopSignal stop;
};

}  // namespace spinforge::devserver
