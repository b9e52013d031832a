#include <gtest/gtest.h>
#include "common/number.h"
TEST(Placeholder, Builds) { EXPECT_EQ(plx::leadingNumber("3"), 3.0); }
