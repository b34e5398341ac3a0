#include "support/TestApplication.h"

#include <gtest/gtest.h>

// The application object exists before any test builds a network manager, a server or a bus
// connection.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    korvo::test::testApp();
    return RUN_ALL_TESTS();
}
