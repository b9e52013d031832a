#include <gtest/gtest.h>

#include "tests/support/cups_test_server.h"

namespace plx::test {
namespace {

TEST(CupsTestSupport, ParseJobIdTakesTheNumberAfterTheLastDash) {
    EXPECT_EQ(parseJobId("QLS-4100-Xe-123"), 123);
    EXPECT_EQ(parseJobId("Office-1"), 1);
    EXPECT_EQ(parseJobId("Office"), -1);
    EXPECT_EQ(parseJobId("Office-"), -1);
    EXPECT_EQ(parseJobId("Office-12a"), -1);
    EXPECT_EQ(parseJobId("Office- 12"), -1);
    EXPECT_EQ(parseJobId("Office-0"), -1);
    EXPECT_EQ(parseJobId("-5"), -1);
    EXPECT_EQ(parseJobId("Office-99999999999999"), -1);
}

}  // namespace
}  // namespace plx::test
