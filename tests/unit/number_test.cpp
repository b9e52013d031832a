#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>

#include "common/number.h"

using plx::leadingNumber;
using plx::toInt16;
using plx::toInt32;

TEST(LeadingNumber, ReadsPlainAndSignedDecimals) {
    EXPECT_EQ(leadingNumber("3"), 3);
    EXPECT_EQ(leadingNumber("3.bmp"), 3);
    EXPECT_EQ(leadingNumber("2_x.bmp"), 2);
    EXPECT_EQ(leadingNumber("-3"), -3);
    EXPECT_EQ(leadingNumber("+7"), 7);
    EXPECT_EQ(leadingNumber("10.5"), 10.5);
    EXPECT_EQ(leadingNumber(".25"), 0.25);
    EXPECT_EQ(leadingNumber("1.2.3"), 1.2);
    EXPECT_EQ(leadingNumber("007"), 7);
}

TEST(LeadingNumber, SkipsBlanksTabsAndLineFeedsAnywhere) {
    EXPECT_EQ(leadingNumber(" 1"), 1);
    EXPECT_EQ(leadingNumber("1 2 3"), 123);
    EXPECT_EQ(leadingNumber("\t- 4\n2"), -42);
    EXPECT_EQ(leadingNumber("1 . 5"), 1.5);
    EXPECT_EQ(leadingNumber("2 e 2"), 200);
    // A carriage return is not skipped: reading stops there.
    EXPECT_EQ(leadingNumber("1\r2"), 1);
}

TEST(LeadingNumber, TextWithoutNumberReadsZero) {
    EXPECT_EQ(leadingNumber(""), 0);
    EXPECT_EQ(leadingNumber("x"), 0);
    EXPECT_EQ(leadingNumber("c.bmp"), 0);
    EXPECT_EQ(leadingNumber("-"), 0);
    EXPECT_EQ(leadingNumber("."), 0);
    EXPECT_EQ(leadingNumber("-.e5"), 0);
    EXPECT_EQ(leadingNumber("e5"), 0);
    EXPECT_EQ(leadingNumber("   "), 0);
}

TEST(LeadingNumber, ExponentsWithEOrD) {
    EXPECT_EQ(leadingNumber("1E3"), 1000);
    EXPECT_EQ(leadingNumber("1e3"), 1000);
    EXPECT_EQ(leadingNumber("25D-1"), 2.5);
    EXPECT_EQ(leadingNumber("1.5d+2x"), 150);
    // An exponent letter without digits is not part of the number.
    EXPECT_EQ(leadingNumber("4E"), 4);
    EXPECT_EQ(leadingNumber("4E+"), 4);
    EXPECT_EQ(leadingNumber("3.bmp"), 3);  // 'b' cannot continue a number
    EXPECT_TRUE(std::isinf(leadingNumber("1e999")));
    EXPECT_EQ(leadingNumber("1e-999"), 0);
}

TEST(LeadingNumber, HexAndOctalPrefixes) {
    EXPECT_EQ(leadingNumber("&H1F"), 31);
    EXPECT_EQ(leadingNumber("&hff"), 255);
    EXPECT_EQ(leadingNumber("&O17"), 15);
    EXPECT_EQ(leadingNumber("&o 1 7"), 15);
    EXPECT_EQ(leadingNumber("&O19"), 1);  // 9 is not an octal digit
    EXPECT_EQ(leadingNumber("&HG"), 0);
    EXPECT_EQ(leadingNumber("&X1"), 0);
    EXPECT_EQ(leadingNumber("&"), 0);
}

TEST(LeadingNumber, OnlyDotSeparatesDecimalsWhateverTheLocale) {
    const char* previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    // A locale whose decimal separator is a comma, where the machine has one.
    const bool switched = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr ||
                          std::setlocale(LC_ALL, "fr_FR.UTF-8") != nullptr;
    EXPECT_EQ(leadingNumber("2.5"), 2.5);
    EXPECT_EQ(leadingNumber("2,5"), 2);
    std::setlocale(LC_ALL, saved.c_str());
    if (!switched) GTEST_LOG_(INFO) << "no comma locale installed; checked in the C locale only";
}

TEST(IntegerConversion, RoundsHalvesToEven) {
    EXPECT_EQ(*toInt16(2.5), 2);
    EXPECT_EQ(*toInt16(3.5), 4);
    EXPECT_EQ(*toInt16(-2.5), -2);
    EXPECT_EQ(*toInt16(-3.5), -4);
    EXPECT_EQ(*toInt16(0.5), 0);
    EXPECT_EQ(*toInt16(1.5), 2);
    EXPECT_EQ(*toInt16(2.4999), 2);
    EXPECT_EQ(*toInt16(2.5001), 3);
    EXPECT_EQ(*toInt32(-0.5), 0);
    EXPECT_EQ(*toInt32(1e9 + 0.5), 1000000000);
}

TEST(IntegerConversion, OutOfRangeIsAFailureNotAWrap) {
    EXPECT_EQ(*toInt16(32767), 32767);
    EXPECT_EQ(*toInt16(-32768), -32768);
    EXPECT_EQ(*toInt16(32767.4), 32767);
    EXPECT_FALSE(toInt16(32767.5));  // rounds to 32768
    EXPECT_FALSE(toInt16(32768));
    EXPECT_FALSE(toInt16(-32769));
    EXPECT_EQ(*toInt16(-32768.5), -32768);  // even
    EXPECT_EQ(*toInt32(2147483647.0), 2147483647);
    EXPECT_FALSE(toInt32(2147483648.0));
    EXPECT_FALSE(toInt32(-2147483649.0));
    EXPECT_FALSE(toInt32(std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(toInt32(std::numeric_limits<double>::quiet_NaN()));
    const auto r = toInt16(70000);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind, plx::ErrorKind::OutOfRange);
    EXPECT_FALSE(r.error().message.empty());
}

TEST(IntegerConversion, ComposesWithLeadingNumber) {
    EXPECT_EQ(*toInt16(leadingNumber("3.bmp")), 3);
    EXPECT_EQ(*toInt16(leadingNumber("2.5.bmp")), 2);
    EXPECT_EQ(*toInt16(leadingNumber("3.5.bmp")), 4);
    EXPECT_EQ(*toInt16(leadingNumber("&H7FFF")), 32767);
    EXPECT_FALSE(toInt16(leadingNumber("&H8000")));
    EXPECT_FALSE(toInt32(leadingNumber("1e10")));
}
