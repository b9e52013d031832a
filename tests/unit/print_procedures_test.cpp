#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "printing/print_procedures.h"
#include "tests/support/recording_surface.h"

using namespace plx;
using plx::test::MemoryImageArea;
using plx::test::RecordedDot;
using plx::test::RecordingHost;
using plx::test::RecordingSurface;

namespace {

struct Rig {
    RecordingSurface surface;
    RecordingHost host{surface.ops};
    MemoryImageArea area;
    PrintJob job{"QLS-4100 Xe drivers standard", "0", "0", "job.bmp"};

    Result<JobRef> dots(std::int16_t copies, DotMode mode = DotMode::Full) {
        return printDotReplication(surface, area, host, job, copies, mode);
    }
    Result<JobRef> scaled(std::int16_t copies) {
        return printScaledImage(surface, area, host, job, copies);
    }
    Result<JobRef> test() { return printTestPage(surface, area, host, "test"); }
    const std::vector<RecordedDot>& printed() const { return surface.documents.at(0).dots; }
};

std::vector<RecordedDot> sorted(std::vector<RecordedDot> v) {
    std::sort(v.begin(), v.end(), [](const RecordedDot& a, const RecordedDot& b) {
        return std::tie(a.y, a.x, a.color) < std::tie(b.y, b.x, b.color);
    });
    return v;
}

}  // namespace

TEST(DotReplication, BothModesPrintTheirDotsWithTheCopiesOnTheNamedPrinter) {
    for (const DotMode mode : {DotMode::Full, DotMode::FirstRows}) {
        Rig r;
        r.area.reset(3, 2);
        r.area.set(1, 1, kBlack);
        ASSERT_TRUE(r.dots(2, mode));
        const auto& doc = r.surface.documents.at(0);
        EXPECT_EQ(std::tie(doc.printer, doc.copies, doc.unit, doc.jobName),
                  std::tuple("QLS-4100-Xe", 2, "pixel", "job.bmp"));
        EXPECT_EQ(doc.dots, (std::vector<RecordedDot>{{1, 1, kBlack}}));
        EXPECT_EQ(r.area.clears, 1);
        EXPECT_FALSE(r.host.timerEnabled);
        EXPECT_EQ(r.host.dialogSetting, mode == DotMode::FirstRows ? 5 : 0);
    }
}

TEST(DotReplication, OnlyTheFourPureColoursBecomeDots) {
    Rig r;
    r.area.reset(8, 2, 0xFFFFFF);
    const ColorValue row0[] = {kBlack,   kPureRed, kPureGreen, kPureBlue,
                               0x0000FE, 0x00FF01, 0xFE0000,   0x808080};
    for (int x = 0; x < 8; ++x) r.area.set(x, 0, row0[x]);
    r.area.set(0, 1, 0xC0C0C0);
    ASSERT_TRUE(r.dots(1));
    EXPECT_EQ(sorted(r.printed()),
              (std::vector<RecordedDot>{
                  {0, 0, kBlack}, {1, 0, kPureRed}, {2, 0, kPureGreen}, {3, 0, kPureBlue}}));

    Rig grey;
    grey.area.reset(20, 10, 0xFFFFFF);
    for (int x = 0; x < 20; ++x) grey.area.set(x, x % 10, 0x7F7F7F);
    const auto blank = grey.dots(1);
    ASSERT_TRUE(blank);
    EXPECT_FALSE(blank->submitted());  // no blank label
    EXPECT_TRUE(grey.surface.documents.empty());
}

TEST(DotReplication, OffsetsShiftDotsAndRoundHalvesToEven) {
    const struct {
        const char* x;
        const char* y;
        float ex;
        float ey;
    } cases[] = {{"10", "20", 10, 20},
                 {"-3", "-7", -3, -7},
                 {"2.5", "3.5", 2, 4},
                 {" 1 0", "x", 10, 0},
                 {"", "&H10", 0, 16}};
    for (const auto& c : cases) {
        Rig r;
        r.area.reset(2, 2);
        r.area.set(0, 0, kBlack);
        r.area.set(1, 1, kPureBlue);
        r.job.offsetX = c.x;
        r.job.offsetY = c.y;
        ASSERT_TRUE(r.dots(1));
        EXPECT_EQ(sorted(r.printed()),
                  (std::vector<RecordedDot>{{c.ex, c.ey, kBlack}, {c.ex + 1, c.ey + 1, kPureBlue}}))
            << c.x << " / " << c.y;
    }
}

TEST(DotReplication, OutOfRangeOffsetSendsNoDocument) {
    for (const char* bad : {"3000000000", "-2147483649", "1e99"}) {
        Rig r;
        r.area.reset(2, 2, kBlack);
        r.job.offsetY = bad;
        const auto result = r.dots(1);
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().kind, ErrorKind::OutOfRange);
        EXPECT_NE(result.error().message.find(bad), std::string::npos);
        EXPECT_TRUE(r.surface.documents.empty());
        EXPECT_TRUE(r.surface.dots.empty());
        EXPECT_EQ(std::count(r.surface.ops.begin(), r.surface.ops.end(), "end document"), 0);
    }
}

TEST(DotReplication, FirstRowsModeScansRowsZeroTo180Only) {
    Rig tall;
    tall.area.reset(2, 300);
    for (int y = 0; y < 300; ++y) tall.area.set(0, y, kBlack);
    ASSERT_TRUE(tall.dots(1, DotMode::FirstRows));
    EXPECT_EQ(tall.printed().size(), 181u);
    EXPECT_EQ(tall.printed().back().y, 180);
    EXPECT_EQ(tall.host.title, "180/300");  // the total stays the picture's height

    Rig shortPic;
    shortPic.area.reset(2, 100);
    for (int y = 0; y < 100; ++y) shortPic.area.set(1, y, kPureGreen);
    ASSERT_TRUE(shortPic.dots(1, DotMode::FirstRows));
    EXPECT_EQ(shortPic.printed().size(), 100u);
    EXPECT_EQ(shortPic.host.titles.size(), 46u);  // rows 0, 4, ..., 180
    EXPECT_EQ(shortPic.host.title, "180/100");
}

TEST(DotReplication, ProgressEveryFourthRowAfterAYield) {
    Rig r;
    r.area.reset(5, 943);
    ASSERT_TRUE(r.dots(1));
    EXPECT_EQ(r.host.title, "940/943");
    EXPECT_EQ(r.host.titles.front(), "0/943");
    EXPECT_EQ(r.host.titles.size(), 236u);  // rows 0..943 step 4
    EXPECT_EQ(r.host.yields, 236);
}

// Mode 3 yields while its document is built, as the dot modes do between rows.
TEST(PrintProcedures, AbortDuringAYieldSendsNothingAndKeepsThePicture) {
    for (const bool scaled : {false, true}) {
        Rig r;
        r.area.reset(100, 40, kBlack);
        r.host.abortAfterYields = scaled ? 1 : 3;
        const auto result = scaled ? r.scaled(1) : r.dots(1);
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().kind, ErrorKind::Aborted);
        EXPECT_TRUE(r.surface.documents.empty());
        EXPECT_EQ(r.surface.aborted, 1);
        EXPECT_EQ(r.area.clears, 0);
    }
}

TEST(DotReplication, PrintServerFailureIsReturned) {
    Rig r;
    r.area.reset(2, 2, kBlack);
    r.surface.failEndDocument = makeError(ErrorKind::PrintServer, "server gone");
    const auto result = r.dots(3);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, ErrorKind::PrintServer);
}

TEST(DotReplication, UnmatchedPrinterKeepsTheCurrentOne) {
    Rig r;
    r.job.printerName = "no such printer";
    r.area.reset(1, 1, kBlack);
    ASSERT_TRUE(r.dots(1));
    EXPECT_EQ(r.surface.documents.at(0).printer, "Office");
}

TEST(ScaledImage, StepsAndInchOffsetsWithFractions) {
    Rig r;
    r.area.reset(100, 40, 0x123456);
    r.job.offsetX = "0.5";
    r.job.offsetY = "0.25";
    ASSERT_TRUE(r.scaled(3));
    const auto& doc = r.surface.documents.at(0);
    EXPECT_EQ(std::tie(doc.printer, doc.copies, doc.unit, doc.quality),
              std::tuple("QLS-4100-Xe", 3, "inch", 1200));
    EXPECT_EQ(doc.drawn, (std::vector<std::string>{"100x40 at 0.5,0.25 size 3.15x3.95"}));
    EXPECT_EQ(r.area.clears, 1);
    EXPECT_TRUE(r.host.titles.empty());
    EXPECT_GE(r.host.yields, 1);       // the window runs while the document is built
    EXPECT_TRUE(r.host.timerEnabled);  // untouched

    Rig none;
    none.area.reset(10, 10);
    none.job.offsetX = "x";
    none.job.offsetY = "";
    ASSERT_TRUE(none.scaled(1));
    EXPECT_EQ(none.surface.documents.at(0).drawn.at(0), "10x10 at 0,0 size 3.15x3.95");

    Rig huge;
    huge.area.reset(10, 10);
    huge.job.offsetX = "1e300";
    const auto result = huge.scaled(1);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, ErrorKind::OutOfRange);
    EXPECT_TRUE(huge.surface.documents.empty());
}

TEST(TestPrint, ExtendedColoursFixedOffsetsAndWiderBlack) {
    Rig r;
    r.job.printerName = "ignored";
    r.area.reset(8, 1, 0xFFFFFF);
    const ColorValue row0[] = {kBlack,   kPureRed,  0x0000FE, kPureGreen,
                               0x00FF01, kPureBlue, 0xFE0000, 0x0000FD};
    for (int x = 0; x < 8; ++x) r.area.set(x, 0, row0[x]);
    ASSERT_TRUE(r.test());
    EXPECT_EQ(r.printed(), (std::vector<RecordedDot>{{60, 20, kBlack},
                                                     {59, 20, kBlack},
                                                     {61, 20, kPureRed},
                                                     {62, 20, 0x0000FE},
                                                     {63, 20, kPureGreen},
                                                     {64, 20, 0x00FF01},
                                                     {65, 20, kPureBlue},
                                                     {66, 20, 0xFE0000}}));
    const auto& doc = r.surface.documents.at(0);
    EXPECT_EQ(std::tie(doc.printer, doc.copies, doc.unit), std::tuple("QLS-4100-Xe", 1, "pixel"));
    EXPECT_EQ(r.host.dialogSetting, 5);
    EXPECT_EQ(r.area.clears, 0);  // the picture is kept
    EXPECT_TRUE(r.host.timerEnabled);
}

TEST(TestPrint, SinglePixelsAndProgressAfterEveryRow) {
    Rig black;
    black.area.reset(1, 1, kBlack);
    ASSERT_TRUE(black.test());
    EXPECT_EQ(sorted(black.printed()),
              (std::vector<RecordedDot>{{59, 20, kBlack}, {60, 20, kBlack}}));

    Rig red;
    red.area.reset(1, 1, kPureRed);
    ASSERT_TRUE(red.test());
    EXPECT_EQ(red.printed(), (std::vector<RecordedDot>{{60, 20, kPureRed}}));

    Rig tall;
    tall.area.reset(3, 943);
    ASSERT_TRUE(tall.test());
    EXPECT_EQ(tall.host.title, "943/943");
    EXPECT_EQ(tall.host.titles.size(), 944u);
}

TEST(TestPrint, NoPictureMeansNoDotsAndNoJob) {
    Rig r;
    const auto job = r.test();
    ASSERT_TRUE(job);
    EXPECT_FALSE(job->submitted());
    EXPECT_TRUE(r.surface.documents.empty());
    EXPECT_EQ(r.host.title, "0/0");
}

TEST(TestPrint, FixedPrinterStaysCurrentForLaterJobs) {
    Rig r;
    r.area.reset(1, 1, kBlack);
    ASSERT_TRUE(r.test());
    r.job.printerName = "matches nothing";
    r.area.reset(1, 1, kBlack);
    ASSERT_TRUE(r.dots(1));
    EXPECT_EQ(r.surface.documents.at(1).printer, "QLS-4100-Xe");
}

TEST(PrinterSelection, TrimsBlanksAndIgnoresCaseOnQueueAndDescription) {
    RecordingSurface s;
    s.installed.push_back({"Etiquettes", "Étiquettes couleur \xFF"});
    EXPECT_TRUE(selectPrinterByName(s, " étiquettes COULEUR \xFF")->matched);  // not only ASCII
    EXPECT_TRUE(selectPrinterByName(s, "  qls-4100 xe drivers standard ")->matched);
    EXPECT_EQ(s.currentPrinter->queue, "QLS-4100-Xe");
    EXPECT_TRUE(selectPrinterByName(s, "office")->matched);
    EXPECT_EQ(s.currentPrinter->queue, "Office");
    EXPECT_FALSE(selectPrinterByName(s, "\tOffice")->matched);  // only blanks are trimmed
    const auto none = selectPrinterByName(s, "QLS-4100  Xe drivers standard");
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->matched);
    EXPECT_EQ(none->current->queue, "Office");  // where the job goes instead
    EXPECT_EQ(none->installed.size(), 3u);
    EXPECT_EQ(s.currentPrinter->queue, "Office");
}

// Asking how the printer a job would go to stands selects nothing: until a job selects a
// printer, a test print whose fixed printer is missing goes to the server's default.
TEST(PrinterSelection, CheckingThePrinterLeavesTheCurrentOne) {
    Rig r;
    r.surface.installed = {{"Office", "Office colour printer"}, {"Label-300", "Label 300"}};
    const auto check = checkPrinter(r.surface, "label 300");
    ASSERT_TRUE(check);
    EXPECT_EQ(check->choice.current->queue, "Label-300");
    r.area.reset(1, 1, kBlack);
    ASSERT_TRUE(r.test());
    EXPECT_EQ(r.surface.documents.at(0).printer, "Office");
}

TEST(PrinterSelection, PrintersThatCannotBeListedStopTheJobInsteadOfMisdirectingIt) {
    Rig r;
    r.area.reset(2, 2, kBlack);
    r.surface.failPrinters = makeError(ErrorKind::PrintServer, "server gone");
    const auto job = r.dots(1);
    ASSERT_FALSE(job);
    EXPECT_EQ(job.error().kind, ErrorKind::PrintServer);
    EXPECT_TRUE(r.surface.documents.empty());
    EXPECT_EQ(std::count(r.surface.ops.begin(), r.surface.ops.end(), "plot"), 0);
}
