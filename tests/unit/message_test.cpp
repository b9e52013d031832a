#include <gtest/gtest.h>

#include "common/message.h"

using namespace plx;

// File names and server messages are arguments: a "%1" inside one is text, never a placeholder.
TEST(Message, ArgumentsAreFilledOnceAndNestedMessagesKeepTheirOwn) {
    const Message inner(PLX_TR("Station", "waiting: %1"), {std::string("100%1 done")});
    const Message outer(PLX_TR("Station", "%1: %2 (%3)"), {std::string("a%2_b_1.bmp"), inner});
    EXPECT_EQ(outer.text(), "a%2_b_1.bmp: waiting: 100%1 done (%3)");
    EXPECT_EQ(fillArguments("50% of %1", {"x"}), "50% of x");
    EXPECT_TRUE(Message().empty());
    EXPECT_FALSE(Message(std::string("literal")).empty());
}
