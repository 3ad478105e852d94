#include "harness.h"

#include <gtest/gtest.h>

#include <string>

// "--stage" lays out the installation trees (a fixture step run once before
// the suite); anything else runs the tests.
int main(int argc, char** argv)
{
    if (argc == 2 && std::string(argv[1]) == "--stage")
        return harness::stage() ? 0 : 1;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
