#pragma once
// Ending a document on the private print server and reading back what the printer received.

#include <string>
#include <vector>

#include "platform/cups_print_surface.h"
#include "tools/raster_pages.h"

namespace plx::test {

inline constexpr int kJobTimeoutMs = 90000;

struct CapturedJob {
    std::string jobId;  // "QUEUE-123"
    int id = -1;
    std::vector<RasterPage> pages;
};

// Waits for the raster of a job the station already submitted (id as "QUEUE-123").
CapturedJob captureJob(const std::string& jobId);

// The dots sorted as nonWhiteDots returns them: row by row, left to right.
std::vector<RasterDot> sortedDots(std::vector<RasterDot> dots);

// gtest assertion: the page holds exactly these dots and is otherwise white.
void expectExactDots(const RasterPage& page, const std::vector<RasterDot>& expected);

}  // namespace plx::test
