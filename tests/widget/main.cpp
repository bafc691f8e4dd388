#include <gtest/gtest.h>

#include <cstdlib>

#include "ui/application.h"

int main(int argc, char** argv) {
    // Test discovery runs this binary without the test environment.
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::testing::InitGoogleTest(&argc, argv);
    TApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
