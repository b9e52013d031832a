#pragma once
// Ending a document on the private print server and reading back what the printer received.

#include <climits>
#include <string>
#include <vector>

#include "cups/cups_print_surface.h"
#include "tests/support/cups_test_server.h"
#include "tools/raster_pages.h"

namespace plx::test {

struct CapturedJob {
    std::string jobId;  // "QUEUE-123"
    int id = -1;
    std::vector<RasterPage> pages;
};

// Waits for the raster of a job the station already submitted (id as "QUEUE-123").
CapturedJob captureJob(const std::string& jobId);
CapturedJob captureJob(const std::string& queue, int id);

// How a picture is printed dot by dot: moved by the offsets, rows 0..lastRow, the four main
// print colours, or the seven extended ones of the test print, whose black also covers its left
// neighbour.
struct DotPrint {
    int offsetX = 0;
    int offsetY = 0;
    int lastRow = INT_MAX;
    bool extended = false;
};
// The dots the printer must show for a w-pixel-wide picture (row-major), a later dot over an
// earlier one winning and dots off the page dropped; in the order nonWhiteDots lists them.
std::vector<RasterDot> expectedDots(const std::vector<ColorValue>& pixels, int w,
                                    const DotPrint& how);

// The dots sorted as nonWhiteDots returns them: row by row, left to right.
std::vector<RasterDot> sortedDots(std::vector<RasterDot> dots);

// gtest assertion: the page holds exactly these dots and is otherwise white.
void expectExactDots(const RasterPage& page, const std::vector<RasterDot>& expected);

// gtest assertion: the picture (w x h, row-major, no white at its edges) stretched so that each
// pixel is a block of cell x cell dots from (left, top): the painted area is that rectangle
// within one dot, and each block, one dot in from its edges, is exactly its pixel's colour.
void expectStretchedPicture(const RasterPage& page, const std::vector<ColorValue>& pixels, int w,
                            int h, int left, int top, int cell);

}  // namespace plx::test
