#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "ui/application.h"

int main(int argc, char** argv) {
    // Test discovery runs this binary without the test environment.
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::testing::InitGoogleTest(&argc, argv);
    // Options the framework would act on if it were given them; the application must not be.
    std::vector<char*> args{argv[0], const_cast<char*>("-reverse"), const_cast<char*>("-style"),
                            const_cast<char*>("windows"), nullptr};
    int count = 4;
    TApplication app(count, args.data());
    return RUN_ALL_TESTS();
}
