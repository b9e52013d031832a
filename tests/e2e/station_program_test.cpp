// The built plixagram program, started as a process on the private print server: job files
// dropped into its folder come out of the captured printer dot for dot, and are deleted.
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/bmp_writer.h"
#include "tests/support/cups_test_server.h"
#include "tests/support/raster_capture.h"
#include "tests/support/station_process.h"

namespace plx::test {
namespace {

// The raster of the job a station line names, once the printer has it.
std::vector<RasterPage> rasterOfLine(const std::string& line) {
    return captureJob(kQueue, printedJobId(line)).pages;
}

// Mode 1 at the real 10-second tick: two pictures, one of them in two copies.
TEST(StationProgram, ModeOneAtTheRealTickPrintsExactDotsAndCopiesThenDeletes) {
    JobFolder folder("mode1");
    constexpr int w = 48, h = 40, ox = 60, oy = 20;
    const auto front = mixedPicture(w, h, 1);
    const auto back = mixedPicture(w, h, 2);
    folder.put("e2em1_front_1.bmp", encodeBmp(w, h, front));
    folder.put("e2em1_back_2.bmp", encodeBmp(w, h, back, {BmpFormat::Rgb32}));

    StationProcess station;
    ASSERT_TRUE(station.start(stationRun(folder.settings("1", "60/20")))) << station.startError();
    ASSERT_GE(station.waitForLine("watching", kStationStartMs), 0);
    // The first look into the folder comes one tick after start, not at once.
    EXPECT_LT(station.waitForLine(": sent to", 4000), 0);
    EXPECT_TRUE(folder.exists("e2em1_front_1.bmp"));

    const std::string frontLine = station.lineWith("e2em1_front_1.bmp: " + sentTo(kQueue), 30000);
    const std::string backLine = station.lineWith("e2em1_back_2.bmp: " + sentTo(kQueue), 30000);
    ASSERT_FALSE(frontLine.empty());
    ASSERT_FALSE(backLine.empty());
    EXPECT_NE(frontLine.find("(mode 1, 1 copy, printer \"QLS-4100 Xe drivers standard\""),
              std::string::npos);
    EXPECT_NE(backLine.find("(mode 1, 2 copies"), std::string::npos);
    // Deleted once the printer has the job, at the next tick.
    ASSERT_FALSE(station.lineWith("e2em1_back_2.bmp: " + printedOn(kQueue), 30000).empty());
    ASSERT_FALSE(station.lineWith("e2em1_front_1.bmp: " + printedOn(kQueue), 30000).empty());
    EXPECT_TRUE(folder.names().empty()) << "printed files are deleted";

    const auto frontPages = rasterOfLine(frontLine);
    ASSERT_EQ(frontPages.size(), 1u);
    EXPECT_EQ(frontPages[0].resX, 600u);
    expectExactDots(frontPages[0], expectedDots(front, w, {ox, oy}));

    const auto backPages = rasterOfLine(backLine);
    ASSERT_EQ(backPages.size(), 2u) << "two copies are two pages";
    for (const RasterPage& p : backPages) expectExactDots(p, expectedDots(back, w, {ox, oy}));
    const auto info = readJobInfo(kQueue, printedJobId(backLine));
    // Both copies are in the raster: a backend handed the file must not send it twice more.
    EXPECT_EQ(info.count("copies") ? info.at("copies") : "", "1");
    EXPECT_EQ(info.count("title") ? info.at("title") : "", "e2em1_back_2.bmp");

    stopWithSigterm(station);
}

// Mode 2 prints rows 0..180 only.
TEST(StationProgram, ModeTwoPrintsOnlyTheFirstRows) {
    JobFolder folder("mode2");
    constexpr int w = 30, h = 200, ox = 7, oy = 3;
    const auto px = mixedPicture(w, h, 3);
    folder.put("e2em2_tall_3.bmp", encodeBmp(w, h, px));

    StationProcess station;
    ASSERT_TRUE(station.start(stationRun(folder.settings("2", "7/3"), kFastTickMs)))
        << station.startError();
    const std::string line = station.lineWith("e2em2_tall_3.bmp: " + sentTo(kQueue), kJobTimeoutMs);
    ASSERT_NE(line.find("(mode 2, 3 copies"), std::string::npos) << line;
    EXPECT_FALSE(folder.exists("e2em2_tall_3.bmp"));
    const auto pages = rasterOfLine(line);
    ASSERT_EQ(pages.size(), 3u);
    const auto want = expectedDots(px, w, {ox, oy, 180});
    ASSERT_LT(want.size(), expectedDots(px, w, {ox, oy}).size())
        << "the picture must have print colours below row 180 for this test to mean anything";
    for (const RasterPage& p : pages) expectExactDots(p, want);
    stopWithSigterm(station);
}

// Mode 3 stretches the picture over 3.15 x 3.95 inches at 1200 dpi at the inch offsets.
TEST(StationProgram, ModeThreeStretchesThePictureOntoTheLabelAt1200Dpi) {
    JobFolder folder("mode3");
    // 63 x 79 pixels: each becomes a block of 60 x 60 device dots (3780 x 4740 in all).
    constexpr int w = 63, h = 79, cell = 60, left = 600, top = 300;
    std::vector<ColorValue> px(std::size_t(w) * h);
    static const ColorValue colours[] = {kBlack,   kPureRed, kPureGreen, kPureBlue, 0x336699,
                                         0x808080, 0x00FFFF, 0xFF00FF,   0x102030};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) px[std::size_t(y) * w + x] = colours[(x * 7 + y * 3) % 9];
    folder.put("e2em3_big_2.bmp", encodeBmp(w, h, px));

    StationProcess station;
    ASSERT_TRUE(station.start(stationRun(folder.settings("3", "0.5/0.25"), kFastTickMs)))
        << station.startError();
    const std::string line = station.lineWith("e2em3_big_2.bmp: " + sentTo(kQueue), kJobTimeoutMs);
    ASSERT_NE(line.find("(mode 3, 2 copies"), std::string::npos) << line;
    const auto pages = rasterOfLine(line);
    ASSERT_EQ(pages.size(), 2u);
    for (const RasterPage& page : pages) {
        ASSERT_EQ(page.resX, 1200u);
        ASSERT_EQ(page.resY, 1200u);
        ASSERT_EQ(page.width, 4800u);
        expectStretchedPicture(page, px, w, h, left, top, cell);
    }
    stopWithSigterm(station);
}

// A queue stopped with a reason gets no job: the files stay, the station says why once, and
// each file prints once when the queue is started again.
TEST(StationProgram, StoppedQueueKeepsTheFilesAndPrintsEachOnceWhenStarted) {
    PrintServerRestorer restore;
    JobFolder folder("stopped");
    ASSERT_EQ(cupsDisable(kQueue, "out of labels").exitCode, 0);
    const std::vector<std::string> names{"e2estop_a_1.bmp", "e2estop_b_2.bmp", "e2estop_c_1.bmp"};
    for (const std::string& n : names) folder.put(n, encodeBmp(8, 8, mixedPicture(8, 8, 5)));

    StationProcess station;
    ASSERT_TRUE(station.start(stationRun(folder.settings("1", "0/0"), kFastTickMs)))
        << station.startError();
    const std::string stopped = "print queue \"QLS-4100-Xe\" is stopped: out of labels";
    ASSERT_GE(station.waitForLine(stopped, kStationStartMs), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(5 * kFastTickMs));
    EXPECT_EQ(folder.names(), names);
    EXPECT_EQ(station.countLines(stopped), 1u) << "said once, not at every tick";
    EXPECT_EQ(runCupsTool({"lpstat", "-o", kQueue}).output, "") << "jobs piled up in the queue";

    ASSERT_EQ(cupsEnable(kQueue).exitCode, 0);
    ASSERT_TRUE(station.waitForCount(": " + printedOn(kQueue), names.size(), kJobTimeoutMs));
    EXPECT_GE(station.countLines("takes jobs again"), 1u);
    for (const std::string& n : names) {
        EXPECT_EQ(station.countLines(n + ": " + sentTo(kQueue)), 1u) << n;
        EXPECT_EQ(capturedTitles(kQueue)[n], 1) << n;
    }
    EXPECT_TRUE(folder.names().empty());
    stopWithSigterm(station);
}

// A printer name one letter off matches no queue: the jobs go to the default queue, and the
// station says so at start-up and names that queue in every line about the job.
TEST(StationProgram, MisspeltPrinterNameIsWarnedAndTheQueueUsedIsNamed) {
    JobFolder folder("misspelt");
    folder.put("e2emiss_a_1.bmp", encodeBmp(8, 8, mixedPicture(8, 8, 8)));
    StationProcess station;
    ASSERT_TRUE(station.start(
        stationRun(folder.settings("1", "0/0", "QLS-4100 Xe driver standard"), kFastTickMs)))
        << station.startError();
    const std::string warning = station.lineWith("matches no print queue", kStationStartMs);
    ASSERT_FALSE(warning.empty());
    for (const char* part : {"\"QLS-4100 Xe driver standard\"", "print queue \"Office\"",
                             "QLS-4100-Xe \"QLS-4100 Xe drivers standard\"", "Label-300"})
        EXPECT_NE(warning.find(part), std::string::npos) << part << " in: " << warning;
    ASSERT_GE(station.waitForLine("e2emiss_a_1.bmp: " + printedOn("Office"), kJobTimeoutMs), 0);
    EXPECT_EQ(station.countLines("matches no print queue"), 1u);
    EXPECT_EQ(capturedTitles("Office")["e2emiss_a_1.bmp"], 1);
    stopWithSigterm(station);
}

// A CUPS class of two printers as the station's printer: CUPS shares the jobs between them.
TEST(StationProgram, ClassOfTwoPrintersSharesTheJobsBetweenThem) {
    JobFolder folder("class");
    std::vector<std::string> names;
    for (int i = 0; i < 6; ++i) {
        names.push_back("e2ecls_" + std::to_string(i) + "_1.bmp");
        folder.put(names.back(), encodeBmp(8, 8, mixedPicture(8, 8, unsigned(10 + i))));
    }
    StationProcess station;
    ASSERT_TRUE(station.start(stationRun(folder.settings("1", "0/0", "Labels"), kFastTickMs)))
        << station.startError();
    EXPECT_GE(
        station.waitForLine("print route checked: queue \"Labels\" accepts ", kStationStartMs), 0);
    ASSERT_TRUE(station.waitForCount(": printed", names.size(), kJobTimeoutMs));
    ASSERT_TRUE(waitForQueueIdle("Labels", kJobTimeoutMs));
    const auto onA = capturedTitles("Label-A"), onB = capturedTitles("Label-B");
    int usedA = 0, usedB = 0;
    for (const std::string& n : names) {
        const int a = onA.count(n) ? onA.at(n) : 0, b = onB.count(n) ? onB.at(n) : 0;
        EXPECT_EQ(a + b, 1) << n << " printed once, on one of the two";
        usedA += a;
        usedB += b;
    }
    EXPECT_GT(usedA, 0);
    EXPECT_GT(usedB, 0);
    EXPECT_TRUE(folder.names().empty());
    stopWithSigterm(station);
}

// Start-up: fewer than five fields is refused with exit 2; an unknown mode only warns.
TEST(StationProgram, BadArgumentsExitTwoAndUnknownModeLeavesJobsInPlace) {
    JobFolder folder("arguments");
    const std::vector<std::string> names{"e2earg_a_1.bmp", "e2earg_b_1.bmp"};
    for (const std::string& n : names) folder.put(n, encodeBmp(8, 8, mixedPicture(8, 8, 6)));
    std::filesystem::create_directory(folder.file("b"));
    JobFolder inner("arguments/b");
    inner.put("e2earg_inner_1.bmp", encodeBmp(8, 8, mixedPicture(8, 8, 7)));
    {
        // The working directory holds job files and a folder "b": none may be touched.
        StationProcess station;
        ASSERT_TRUE(station.start(stationRun("a/b", kFastTickMs, folder.path)))
            << station.startError();
        const auto status = station.waitForExit(kStationStartMs);
        ASSERT_TRUE(status.has_value());
        EXPECT_TRUE(status->exited);
        EXPECT_EQ(status->code, 2);
        const std::string log = station.log();
        for (const char* word : {"printer", "folder", "mode", "x", "y", "five"})
            EXPECT_NE(log.find(word), std::string::npos) << word << " in: " << log;
        EXPECT_EQ(folder.names(), (std::vector<std::string>{"b", names[0], names[1]}));
        EXPECT_EQ(inner.names(), std::vector<std::string>{"e2earg_inner_1.bmp"});
    }
    std::filesystem::remove_all(inner.path);
    {
        StationProcess station;
        ASSERT_TRUE(station.start(stationRun(folder.settings("4", "0/0", "p"), kFastTickMs)))
            << station.startError();
        const std::string warning = station.lineWith("prints nothing", kStationStartMs);
        ASSERT_FALSE(warning.empty());
        for (const char* mode : {"\"1\"", "\"2\"", "\"3\"", "\"4\""})
            EXPECT_NE(warning.find(mode), std::string::npos) << mode << " in: " << warning;
        for (const std::string& n : names)
            EXPECT_GE(station.waitForLine(n + ": shown only", kStationStartMs), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(4 * kFastTickMs));
        EXPECT_EQ(folder.names(), names);
        EXPECT_EQ(station.countLines(": printed"), 0u);
        stopWithSigterm(station);
    }
}

}  // namespace
}  // namespace plx::test
