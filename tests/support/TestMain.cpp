// Tests run coroutines on a Qt event loop, so a core application exists for the whole run. Given
// --render-reliability, the program writes docs/reliability.md from the rows the fault tests left.
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
