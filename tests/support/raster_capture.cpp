#include "tests/support/raster_capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace plx::test {

CapturedJob captureJob(const std::string& jobId) {
    const auto dash = jobId.rfind('-');
    return captureJob(dash == std::string::npos ? jobId : jobId.substr(0, dash), parseJobId(jobId));
}

CapturedJob captureJob(const std::string& queue, int id) {
    CapturedJob out;
    out.jobId = queue + "-" + std::to_string(id);
    out.id = id;
    EXPECT_GT(id, 0) << out.jobId;
    if (id <= 0) return out;
    const std::string path = waitForJobRaster(queue, out.id, kJobTimeoutMs);
    EXPECT_FALSE(path.empty()) << "no raster for " << out.jobId;
    if (path.empty()) return out;
    auto pages = readRaster(path);
    EXPECT_TRUE(pages.ok()) << (pages.ok() ? "" : pages.error().message);
    if (pages) out.pages = std::move(pages.value());
    return out;
}

namespace {

// Written out here rather than taken from the procedures, so that the expectation is our own.
bool printsAsDot(ColorValue c, bool extended) {
    if (c == kBlack || c == kPureRed || c == kPureGreen || c == kPureBlue) return true;
    return extended && (c == 0x0000FE || c == 0x00FF01 || c == 0xFE0000);
}

}  // namespace

std::vector<RasterDot> expectedDots(const std::vector<ColorValue>& pixels, int w,
                                    const DotPrint& how) {
    std::map<std::pair<int, int>, ColorValue> page;  // (y, x): scan order, later plots win
    const int h = w > 0 ? int(pixels.size()) / w : 0;
    for (int y = 0; y < h && y <= how.lastRow; ++y) {
        for (int x = 0; x < w; ++x) {
            const ColorValue c = pixels[std::size_t(y) * std::size_t(w) + std::size_t(x)];
            if (!printsAsDot(c, how.extended)) continue;
            page[{y + how.offsetY, x + how.offsetX}] = c;
            if (how.extended && c == kBlack) page[{y + how.offsetY, x + how.offsetX - 1}] = c;
        }
    }
    std::vector<RasterDot> dots;
    for (const auto& [pos, c] : page) {
        if (pos.first >= 0 && pos.second >= 0) dots.push_back({pos.second, pos.first, c});
    }
    return dots;
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

void expectStretchedPicture(const RasterPage& page, const std::vector<ColorValue>& pixels, int w,
                            int h, int left, int top, int cell) {
    // The extent by scanning, not through nonWhiteDots: a stretched label is millions of dots.
    int minX = INT_MAX, minY = INT_MAX, maxX = -1, maxY = -1;
    for (unsigned y = 0; y < page.height; ++y) {
        for (unsigned x = 0; x < page.width; ++x) {
            if (page.pixel(x, y) == 0xFFFFFF) continue;
            minX = std::min(minX, int(x));
            maxX = std::max(maxX, int(x));
            minY = std::min(minY, int(y));
            maxY = std::max(maxY, int(y));
        }
    }
    EXPECT_NEAR(minX, left, 1);
    EXPECT_NEAR(minY, top, 1);
    EXPECT_NEAR(maxX + 1, left + w * cell, 1) << "width " << w * cell << " dots";
    EXPECT_NEAR(maxY + 1, top + h * cell, 1) << "height " << h * cell << " dots";
    int wrong = 0;
    for (int py = 0; py < h; ++py) {
        for (int px = 0; px < w; ++px) {
            const ColorValue want = pixels[std::size_t(py) * std::size_t(w) + std::size_t(px)];
            for (int y = top + py * cell + 1; y < top + (py + 1) * cell - 1; ++y) {
                for (int x = left + px * cell + 1; x < left + (px + 1) * cell - 1; ++x) {
                    const ColorValue got = page.pixel(unsigned(x), unsigned(y));
                    if (got != want && ++wrong <= 5) {
                        ADD_FAILURE() << "(" << x << "," << y << ") 0x" << std::hex << got
                                      << " want 0x" << want;
                    }
                }
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}

}  // namespace plx::test
