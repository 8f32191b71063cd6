#pragma once
// The reliability table: one row per injected fault, written by the fault tests as they run and
// turned into docs/reliability.md afterwards, so that the table is what the last run saw.

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

// `spinforge_tests --render-reliability ROWS DOCUMENT`: from rows of every fault test, all run on
// kernel drives (as root), rewrites a document that changed and returns 1, so that a stale copy
// fails the run; otherwise says why not and returns 0.
int renderReliabilityDocument(const std::string& rows, const std::string& document);

}  // namespace testing_support
