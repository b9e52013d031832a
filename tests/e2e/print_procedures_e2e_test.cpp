// The test print through the private print server: the window's button is the one way to it,
// which the station program's tests cannot press, so the printer's raster is checked here.
#include <gtest/gtest.h>

#include "cups/cups_print_surface.h"
#include "printing/print_procedures.h"
#include "tests/support/bmp_writer.h"
#include "tests/support/raster_capture.h"
#include "tests/support/recording_surface.h"

namespace plx {
namespace {

TEST(PrintProceduresThroughCups, TestPrintUsesExtendedColoursAndWidensBlack) {
    CupsPrintSurface surface;
    std::vector<std::string> ops;
    test::RecordingHost host{ops};
    constexpr int w = 80, h = 50;
    const std::vector<ColorValue> px = test::mixedPicture(w, h, 2);
    test::MemoryImageArea area(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) area.set(x, y, px[std::size_t(y) * w + std::size_t(x)]);
    }
    const auto id = printTestPage(surface, area, host, "e2e test print");
    ASSERT_TRUE(id) << id.error().message;
    EXPECT_EQ(id->queue, test::kQueue);
    const auto printed = test::captureJob(id->text());
    ASSERT_EQ(printed.pages.size(), 1u);
    test::expectExactDots(printed.pages[0],
                          test::expectedDots(px, w, {kTestOffsetX, kTestOffsetY, INT_MAX, true}));
    EXPECT_EQ(host.title, "50/50");
}

}  // namespace
}  // namespace plx
