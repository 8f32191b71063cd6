#pragma once
// The reliability table: one row per injected fault, written by the fault tests as they run and
// turned into docs/reliability.md afterwards, so that the published table is what the last run
// saw, not what somebody remembered.

#include <string>

namespace testing_support {

struct ReliabilityRow {
    std::string test;   // the GoogleTest name of the test that wrote it
    std::string group;  // "Service", "Drive", "Local", "Registration", "Process"
    int order = 0;      // place in the group
    std::string fault;
    std::string userSees;
    std::string onDrive;
    std::string inLibrary;
    std::string recovered;     // "yes", "no", or why it did not run
    bool kernelDrives = true;  // false when the drive was a folder standing in for one
};

// Writes the row as one file of $SPINFORGE_RELIABILITY_ROWS; nothing when that is not set.
void recordRow(const ReliabilityRow& row);

// `spinforge_tests --render-reliability ROWS DOCUMENT`: writes the document from the rows when they
// cover every fault test and were all run on file systems the kernel mounted (a run as root);
// otherwise says why and leaves it alone. A document that changes is rewritten and the status is 1,
// so that a stale copy in the repository fails the run that noticed. Returns the exit status.
int renderReliabilityDocument(const std::string& rows, const std::string& document);

}  // namespace testing_support
