#pragma once
// The reliability table: one row per injected fault, written by the fault tests as they run and
// turned into docs/reliability.md afterwards, so that the published table is what the last run
// saw, not what somebody remembered.

#include <string>
#include <vector>

namespace testing_support {

struct ReliabilityRow {
    std::string test;       // the GoogleTest name of the test that wrote it
    std::string group;      // "Service", "Drive", …
    int order = 0;          // place in the group
    std::string fault;
    std::string userSees;
    std::string onDrive;
    std::string inLibrary;
    std::string recovered;  // "yes", "no", or why it did not run
    bool kernelDrives = true;  // false when the drive was a folder standing in for one
};

// Where rows go: $SPINFORGE_RELIABILITY_ROWS, or empty when the run keeps none.
std::string rowsFolder();
// Writes the row as one file of the rows folder; nothing when there is none.
void recordRow(const ReliabilityRow& row);
std::vector<ReliabilityRow> readRows(const std::string& folder);
// The Markdown document: the groups in their fixed order, rows by their order in the group.
std::string renderTable(std::vector<ReliabilityRow> rows);

// The command-line mode of the fault tests' executable that writes the document:
//   spinforge_fault_tests --render-reliability ROWS_FOLDER DOCUMENT
// It renders only when the rows cover every test of this executable and their drives were file
// systems the kernel mounted (a run as root with no other drive mounted); otherwise it says why
// and leaves the document alone. When the
// document changes it is rewritten and the exit status is 1, so that a stale copy in the
// repository fails the run that noticed. Returns the exit status.
int renderReliabilityDocument(const std::string& rows, const std::string& document);

}  // namespace testing_support
