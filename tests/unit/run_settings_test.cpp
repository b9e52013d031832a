#include <gtest/gtest.h>

#include "app/run_settings.h"

using namespace plx;

TEST(RunSettings, FiveFieldsComeBackVerbatimInOrder) {
    const auto s = parseRunSettings("QLS-4100 Xe drivers standard/C:\\jobs/1/60/20");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->printer_name, "QLS-4100 Xe drivers standard");
    EXPECT_EQ(s->watch_folder, "C:\\jobs");
    EXPECT_EQ(s->print_mode, "1");
    EXPECT_EQ(s->offset_x, "60");
    EXPECT_EQ(s->offset_y, "20");
}

TEST(RunSettings, ExtraEmptyAndBlankFields) {
    const auto extra = parseRunSettings("name/dir/1/0/0/extra/more");
    ASSERT_TRUE(extra);
    EXPECT_EQ(extra->offset_y, "0");

    const auto empty = parseRunSettings("////");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->printer_name, "");
    EXPECT_EQ(empty->offset_y, "");

    const auto blanks = parseRunSettings("  p  / d / 1/10.5/-3");
    ASSERT_TRUE(blanks);
    EXPECT_EQ(blanks->printer_name, "  p  ");
    EXPECT_EQ(blanks->watch_folder, " d ");
    EXPECT_EQ(blanks->print_mode, " 1");
    EXPECT_EQ(blanks->offset_x, "10.5");
    EXPECT_EQ(blanks->offset_y, "-3");
}

TEST(RunSettings, FewerThanFiveFieldsDoNotStart) {
    EXPECT_FALSE(parseRunSettings(""));
    EXPECT_FALSE(parseRunSettings("a/b"));
    EXPECT_FALSE(parseRunSettings("a/b/c/d"));
    EXPECT_FALSE(parseRunSettings("///"));
    const std::string msg = runSettingsUsageError("a/b").text();
    EXPECT_NE(msg.find("printer/folder/mode/x/y"), std::string::npos);
}

TEST(RunSettings, SplitKeepsEmptyPieces) {
    EXPECT_EQ(splitFields("a//b", '/'), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(splitFields("/", '/'), (std::vector<std::string>{"", ""}));
    EXPECT_TRUE(splitFields("", '/').empty());
    EXPECT_EQ(splitFields("lot42_front_3.bmp", '_'),
              (std::vector<std::string>{"lot42", "front", "3.bmp"}));
}

TEST(RunSettings, ArgumentsJoinWithSingleBlanks) {
    const char* split[] = {"plixagram", "QLS-4100", "Xe", "drivers", "standard/jobs/1/60/20"};
    const char* whole[] = {"plixagram", "QLS-4100 Xe drivers standard/jobs/1/60/20"};
    EXPECT_EQ(joinArguments(5, split), joinArguments(2, whole));
    EXPECT_EQ(joinArguments(2, whole), "QLS-4100 Xe drivers standard/jobs/1/60/20");
    const char* none[] = {"plixagram"};
    EXPECT_EQ(joinArguments(1, none), "");
}

TEST(RunSettings, OnlyExactModesPrint) {
    EXPECT_TRUE(printModeWarning("1").empty());
    EXPECT_TRUE(printModeWarning("3").empty());
    for (const char* mode : {" 1", "1 ", "01", "4", "", "a"}) {
        const std::string w = printModeWarning(mode).text();
        ASSERT_FALSE(w.empty()) << '"' << mode << '"';
        EXPECT_NE(w.find("\"" + std::string(mode) + "\""), std::string::npos);
        EXPECT_NE(w.find("\"1\""), std::string::npos);
        EXPECT_NE(w.find("\"2\""), std::string::npos);
        EXPECT_NE(w.find("\"3\""), std::string::npos);
    }
}
