#include <gtest/gtest.h>

#include <string_view>

#include "printing/print_modes.h"

namespace plx {
namespace {

// The modes that print are exactly those the settings call printing modes, each with a
// procedure of its own; any other text, however near, prints nothing.
TEST(PrintModes, EachPrintingModeHasItsOwnProcedureAndNoOtherTextHasOne) {
    const ModeProcedure one = procedureForMode("1");
    const ModeProcedure two = procedureForMode("2");
    ASSERT_NE(one, nullptr);
    ASSERT_NE(two, nullptr);
    EXPECT_NE(one, two);
    EXPECT_EQ(procedureForMode("3"), &printScaledImage);
    for (const std::string_view mode : {"1", "2", "3", "0", "4", "", " 1", "1 ", "01", "1.0"}) {
        EXPECT_EQ(procedureForMode(mode) != nullptr, isPrintingMode(mode)) << "\"" << mode << "\"";
    }
}

}  // namespace
}  // namespace plx
