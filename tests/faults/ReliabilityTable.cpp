#include "faults/ReliabilityTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <vector>

namespace testing_support {
namespace {

namespace fs = std::filesystem;

constexpr std::array<const char*, 5> kGroups{"Service", "Drive", "Local", "Registration", "Process"};

int groupIndex(const std::string& group) { return int(std::find(kGroups.begin(), kGroups.end(), group) - kGroups.begin()); }

// A table cell: one line, and no "|" that would split the cell.
std::string cell(const std::string& text) {
    std::string out;
    for (const char c : text) out += c == '|' ? "\\|" : c == '\n' ? "<br>" : std::string(1, c);
    return out;
}

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool isFaultTest(const std::string& suite) { return suite.ends_with("Faults/Faults") || suite == "AgentKilled"; }

}  // namespace

// A row is one line of tab-separated fields; the texts hold no tab or line break.
void recordRow(const ReliabilityRow& row) {
    const char* folder = std::getenv("SPINFORGE_RELIABILITY_ROWS");
    if (!folder) return;
    fs::create_directories(folder);
    std::ofstream(fs::path(folder) / std::to_string(std::hash<std::string>{}(row.test + row.fault)))
        << row.test << '\t' << row.group << '\t' << row.order << '\t' << row.fault << '\t' << row.userSees << '\t'
        << row.onDrive << '\t' << row.inLibrary << '\t' << row.recovered << '\t' << row.kernelDrives << '\n';
}

int renderReliabilityDocument(const std::string& rowsFolder, const std::string& document) {
    std::vector<ReliabilityRow> rows;
    if (fs::is_directory(rowsFolder))
        for (const fs::directory_entry& entry : fs::directory_iterator(rowsFolder)) {
            std::istringstream line(readText(entry.path()));
            ReliabilityRow row;
            std::string order, kernel;
            for (std::string* field : {&row.test, &row.group, &order, &row.fault, &row.userSees, &row.onDrive,
                                       &row.inLibrary, &row.recovered, &kernel})
                std::getline(line, *field, field == &kernel ? '\n' : '\t');
            row.order = std::stoi(order);
            row.kernelDrives = kernel == "1";
            rows.push_back(row);
        }
    std::set<std::string> covered;
    bool kernelDrives = true;
    for (const ReliabilityRow& row : rows) {
        covered.insert(row.test);
        kernelDrives = kernelDrives && row.kernelDrives;
    }
    const ::testing::UnitTest& unit = *::testing::UnitTest::GetInstance();
    std::vector<std::string> missing;
    for (int s = 0; s < unit.total_test_suite_count(); ++s) {
        const ::testing::TestSuite& suite = *unit.GetTestSuite(s);
        for (int t = 0; t < suite.total_test_count() && isFaultTest(suite.name()); ++t)
            if (!covered.count(std::string(suite.name()) + '.' + suite.GetTestInfo(t)->name()))
                missing.push_back(std::string(suite.name()) + '.' + suite.GetTestInfo(t)->name());
    }
    if (!missing.empty() || !kernelDrives) {
        std::cout << "reliability: " << (missing.empty() ? "a row ran on a folder standing in for a drive"
                                                         : std::to_string(missing.size()) + " fault tests did not run (first: " + missing.front() + ")")
                  << "; " << document << " left as it is\n";
        return 0;
    }
    std::sort(rows.begin(), rows.end(), [](const ReliabilityRow& a, const ReliabilityRow& b) {
        return std::tuple(groupIndex(a.group), a.order, a.fault) < std::tuple(groupIndex(b.group), b.order, b.fault);
    });
    // The document's introduction stays as it is; the tables after it are this run's.
    const std::string before = readText(document);
    std::ostringstream out;
    out << before.substr(0, before.find("\n## "));
    std::string group;
    for (const ReliabilityRow& row : rows) {
        if (row.group != group) {
            group = row.group;
            out << "\n## " << group << "\n\n| Fault | What the user sees | On the drive | In the library | Recovered |\n"
                << "|---|---|---|---|---|\n";
        }
        out << "| " << cell(row.fault) << " | " << cell(row.userSees) << " | " << cell(row.onDrive) << " | "
            << cell(row.inLibrary) << " | " << cell(row.recovered) << " |\n";
    }
    if (before == out.str()) {
        std::cout << "reliability: " << document << " is current (" << rows.size() << " rows)\n";
        return 0;
    }
    std::ofstream(document, std::ios::binary | std::ios::trunc) << out.str();
    std::cout << "reliability: " << document << " was out of date and has been rewritten from this run ("
              << rows.size() << " rows); commit it\n";
    return 1;
}

}  // namespace testing_support
