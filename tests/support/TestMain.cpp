// A core application for the whole run (tests run coroutines on its event loop); given
// --render-reliability, the program writes docs/reliability.md from the fault tests' rows.
#include "faults/ReliabilityTable.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <cstring>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    if (argc == 4 && std::strcmp(argv[1], "--render-reliability") == 0)
        return testing_support::renderReliabilityDocument(argv[2], argv[3]);
    return RUN_ALL_TESTS();
}
