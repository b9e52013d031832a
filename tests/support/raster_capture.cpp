#include "tests/support/raster_capture.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/cups_test_server.h"

namespace plx::test {

CapturedJob captureJob(const std::string& jobId) {
    CapturedJob out;
    out.jobId = jobId;
    out.id = parseJobId(jobId);
    const auto dash = jobId.rfind('-');
    EXPECT_GT(out.id, 0) << jobId;
    if (out.id <= 0 || dash == std::string::npos) return out;
    const std::string queue = jobId.substr(0, dash);
    const std::string path = waitForJobRaster(queue, out.id, kJobTimeoutMs);
    EXPECT_FALSE(path.empty()) << "no raster for " << jobId;
    if (path.empty()) return out;
    auto pages = readRaster(path);
    EXPECT_TRUE(pages.ok()) << (pages.ok() ? "" : pages.error().message);
    if (pages) out.pages = std::move(pages.value());
    return out;
}

std::vector<RasterDot> sortedDots(std::vector<RasterDot> dots) {
    std::sort(dots.begin(), dots.end(), [](const RasterDot& a, const RasterDot& b) {
        return a.y != b.y ? a.y < b.y : a.x < b.x;
    });
    return dots;
}

void expectExactDots(const RasterPage& page, const std::vector<RasterDot>& expected) {
    const auto got = nonWhiteDots(page);
    const auto want = sortedDots(expected);
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        ASSERT_EQ(got[i], want[i])
            << "dot " << i << ": got (" << got[i].x << "," << got[i].y << ") 0x" << std::hex
            << got[i].color << ", want (" << std::dec << want[i].x << "," << want[i].y << ") 0x"
            << std::hex << want[i].color;
    }
}

}  // namespace plx::test
