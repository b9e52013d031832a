// The three print procedures through the private print server: what the printer's raster
// holds must be exactly the dots the picture asks for.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "platform/cups_print_surface.h"
#include "printing/print_procedures.h"
#include "tests/support/raster_capture.h"
#include "tests/support/recording_surface.h"

namespace plx {
namespace {

using test::MemoryImageArea;
using test::RecordingHost;

// Pure colours, near colours and greys scattered over a white picture.
MemoryImageArea scatteredPicture(int w, int h, unsigned seed) {
    MemoryImageArea area(w, h);
    const ColorValue palette[] = {kBlack,   kPureRed, kPureGreen, kPureBlue, 0x0000FE,
                                  0x00FF01, 0xFE0000, 0x808080,   0xC0C0C0};
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (rng() % 5 == 0) area.set(x, y, palette[rng() % std::size(palette)]);
        }
    }
    return area;
}

// What the printer must show: each plot in scan order, a later plot over an earlier one
// winning (the test print's extra black dot lands on its left neighbour's place).
std::vector<RasterDot> expectedDots(const MemoryImageArea& area, int ox, int oy, bool extended) {
    std::map<std::pair<int, int>, ColorValue> page;  // (y, x)
    const PictureView v = area.picture();
    for (int y = 0; y < v.height; ++y) {
        for (int x = 0; x < v.width; ++x) {
            const ColorValue c = v.at(x, y);
            if (extended ? !isExtendedPrintColor(c) : !isMainPrintColor(c)) continue;
            page[{y + oy, x + ox}] = c;
            if (extended && c == kBlack) page[{y + oy, x + ox - 1}] = kBlack;
        }
    }
    std::vector<RasterDot> dots;
    for (const auto& [pos, c] : page) {
        if (pos.first >= 0 && pos.second >= 0) dots.push_back({pos.second, pos.first, c});
    }
    return dots;
}

struct Rig {
    CupsPrintSurface surface;
    std::vector<std::string> ops;
    RecordingHost host{ops};
};

TEST(PrintProceduresThroughCups, DotReplicationPrintsExactlyThePureColours) {
    Rig r;
    MemoryImageArea area = scatteredPicture(120, 90, 1);
    const auto want = expectedDots(area, 10, 20, false);
    const PrintJob job{"  qls-4100 xe DRIVERS standard ", "10", "20", "e2e_mode1_2.bmp"};
    const auto id = printDotReplication(r.surface, area, r.host, job, 2, DotMode::Full);
    ASSERT_TRUE(id) << id.error().message;
    const auto printed = test::captureJob(id->text());
    ASSERT_EQ(printed.pages.size(), 2u);  // the copies reach the job
    for (const RasterPage& page : printed.pages) {
        EXPECT_EQ(page.resX, 600u);
        test::expectExactDots(page, want);
    }
    EXPECT_EQ(r.host.title, "88/90");
}

TEST(PrintProceduresThroughCups, FirstRowsModeStopsAfterRow180) {
    Rig r;
    MemoryImageArea area(30, 260);
    const int dots[][2] = {{0, 0}, {9, 100}, {12, 180}, {3, 181}, {4, 200}, {5, 259}};
    for (const auto& d : dots) area.set(d[0], d[1], kPureBlue);
    const PrintJob job{"QLS-4100 Xe drivers standard", "-5", "3", "e2e_mode2_1.bmp"};
    const auto id = printDotReplication(r.surface, area, r.host, job, 1, DotMode::FirstRows);
    ASSERT_TRUE(id) << id.error().message;
    const auto printed = test::captureJob(id->text());
    ASSERT_EQ(printed.pages.size(), 1u);
    // The first dot lands left of the page: it is clipped, not moved.
    test::expectExactDots(printed.pages[0], {{4, 103, kPureBlue}, {7, 183, kPureBlue}});
}

TEST(PrintProceduresThroughCups, TestPrintUsesExtendedColoursAndWidensBlack) {
    Rig r;
    MemoryImageArea area = scatteredPicture(80, 50, 2);
    const auto want = expectedDots(area, kTestOffsetX, kTestOffsetY, true);
    const auto id = printTestPage(r.surface, area, r.host, "e2e test print");
    ASSERT_TRUE(id) << id.error().message;
    EXPECT_EQ(id->queue, "QLS-4100-Xe");
    const auto printed = test::captureJob(id->text());
    ASSERT_EQ(printed.pages.size(), 1u);
    test::expectExactDots(printed.pages[0], want);
    EXPECT_EQ(r.host.title, "50/50");
}

TEST(PrintProceduresThroughCups, ScaledImageFillsTheLabelAt1200Dpi) {
    Rig r;
    // Solid quadrants in pure colours: the stretched picture keeps each colour exactly.
    MemoryImageArea area(100, 60, kPureRed);
    for (int y = 0; y < 30; ++y) {
        for (int x = 50; x < 100; ++x) area.set(x, y, kPureBlue);
    }
    const PrintJob job{"QLS-4100 Xe drivers standard", "0.5", "0.25", "e2e_mode3_3.bmp"};
    const auto id = printScaledImage(r.surface, area, job, 3);
    ASSERT_TRUE(id) << id.error().message;
    const auto printed = test::captureJob(id->text());
    ASSERT_EQ(printed.pages.size(), 3u);
    const RasterPage& page = printed.pages[0];
    EXPECT_EQ(page.resX, 1200u);
    EXPECT_EQ(page.resY, 1200u);
    int minX = INT32_MAX, minY = INT32_MAX, maxX = -1, maxY = -1;
    int wrong = 0;
    for (unsigned y = 0; y < page.height; ++y) {
        for (unsigned x = 0; x < page.width; ++x) {
            const ColorValue c = page.pixel(x, y);
            if (c == 0xFFFFFF) continue;
            minX = std::min(minX, int(x));
            minY = std::min(minY, int(y));
            maxX = std::max(maxX, int(x));
            maxY = std::max(maxY, int(y));
            if (c != kPureRed && c != kPureBlue) ++wrong;
        }
    }
    // 3.15 x 3.95 inches at 1200 dpi from (0.5, 0.25) inch: 3780 x 4740 dots from (600, 300).
    EXPECT_NEAR(minX, 600, 1);
    EXPECT_NEAR(minY, 300, 1);
    EXPECT_NEAR(maxX + 1 - minX, 3780, 1);
    EXPECT_NEAR(maxY + 1 - minY, 4740, 1);
    EXPECT_EQ(wrong, 0);
    // The blue quadrant is the top right one.
    EXPECT_EQ(page.pixel(600 + 3780 * 3 / 4, 300 + 4740 / 4), kPureBlue);
    EXPECT_EQ(page.pixel(600 + 3780 / 4, 300 + 4740 * 3 / 4), kPureRed);
}

TEST(PrintProceduresThroughCups, RejectingQueueGivesAnErrorAndNoDocument) {
    Rig r;
    MemoryImageArea area(4, 4, kBlack);
    const PrintJob job{"Rejecting label printer", "0", "0", "e2e_reject_1.bmp"};
    const auto id = printDotReplication(r.surface, area, r.host, job, 1, DotMode::Full);
    ASSERT_FALSE(id);
    EXPECT_EQ(id.error().kind, ErrorKind::PrintServer);
    EXPECT_FALSE(id.error().message.empty());
}

}  // namespace
}  // namespace plx
