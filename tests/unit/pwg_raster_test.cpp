// The PWG raster reader against rasters encoded here, byte by byte, with the run-length
// scheme printers receive: whole-line repeats, pixel repeats and literal runs.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/pwg/pwg_raster.h"

namespace plx {
namespace {

struct PageLayout {
    unsigned width = 0, height = 0, res = 600;
    unsigned bitsPerColor = 8, numColors = 3, colorSpace = kPwgSRgb;
    std::vector<std::uint8_t> pixels;  // height * bytesPerLine, uncompressed
    unsigned bytesPerLine() const { return (width * bitsPerColor * numColors + 7) / 8; }
};

void put32(std::vector<std::uint8_t>& h, std::size_t at, unsigned v) {
    h[at] = std::uint8_t(v >> 24);
    h[at + 1] = std::uint8_t(v >> 16);
    h[at + 2] = std::uint8_t(v >> 8);
    h[at + 3] = std::uint8_t(v);
}

std::vector<std::uint8_t> header(const PageLayout& p) {
    std::vector<std::uint8_t> h(1796, 0);
    std::snprintf(reinterpret_cast<char*>(h.data()), 64, "PwgRaster");
    put32(h, 276, p.res);
    put32(h, 280, p.res);
    put32(h, 352, p.width * 72 / p.res);
    put32(h, 356, p.height * 72 / p.res);
    put32(h, 372, p.width);
    put32(h, 376, p.height);
    put32(h, 384, p.bitsPerColor);
    put32(h, 388, p.bitsPerColor * p.numColors);
    put32(h, 392, p.bytesPerLine());
    put32(h, 400, p.colorSpace);
    put32(h, 420, p.numColors);
    std::snprintf(reinterpret_cast<char*>(h.data()) + 1732, 64, "test_page");
    return h;
}

// Greedy encoder: identical lines share one repeat count (up to 256 lines), equal neighbours
// become repeat runs (up to 128), the rest literal runs (up to 128).
void encodeRows(const PageLayout& p, std::vector<std::uint8_t>& out) {
    const std::size_t bpl = p.bytesPerLine();
    const std::size_t unit = std::max<std::size_t>(1, p.bitsPerColor * p.numColors / 8);
    const std::size_t count = bpl / unit;
    auto line = [&](unsigned y) { return p.pixels.data() + y * bpl; };
    auto same = [&](const std::uint8_t* a, const std::uint8_t* b) {
        return std::equal(a, a + unit, b);
    };
    for (unsigned y = 0; y < p.height;) {
        unsigned repeat = 0;
        while (y + repeat + 1 < p.height && repeat < 255 &&
               std::equal(line(y), line(y) + bpl, line(y + repeat + 1)))
            ++repeat;
        out.push_back(std::uint8_t(repeat));
        const std::uint8_t* row = line(y);
        for (std::size_t i = 0; i < count;) {
            std::size_t run = 1;
            while (i + run < count && run < 128 && same(row + i * unit, row + (i + run) * unit))
                ++run;
            if (run > 1) {
                out.push_back(std::uint8_t(run - 1));
                out.insert(out.end(), row + i * unit, row + (i + 1) * unit);
                i += run;
                continue;
            }
            std::size_t lit = 1;
            while (
                i + lit < count && lit < 128 &&
                !(i + lit + 1 < count && same(row + (i + lit) * unit, row + (i + lit + 1) * unit)))
                ++lit;
            out.push_back(std::uint8_t(257 - lit));
            out.insert(out.end(), row + i * unit, row + (i + lit) * unit);
            i += lit;
        }
        y += repeat + 1;
    }
}

std::vector<std::uint8_t> encode(const std::vector<PageLayout>& pages) {
    std::vector<std::uint8_t> out{'R', 'a', 'S', '2'};
    for (const PageLayout& p : pages) {
        const auto h = header(p);
        out.insert(out.end(), h.begin(), h.end());
        encodeRows(p, out);
    }
    return out;
}

// An RGB page with white space (long repeats), stripes of identical lines and noisy rows.
PageLayout rgbPage(unsigned w, unsigned h, unsigned seed) {
    PageLayout p;
    p.width = w;
    p.height = h;
    p.pixels.assign(std::size_t(p.bytesPerLine()) * h, 0xFF);
    std::uint32_t s = seed;
    for (unsigned y = 0; y < h; ++y) {
        std::uint8_t* row = p.pixels.data() + std::size_t(y) * p.bytesPerLine();
        if (y % 7 == 3 || y % 7 == 4) {  // two identical lines in a row
            for (unsigned x = 0; x < w; ++x) row[3 * x + (x / 5) % 3] = 0;
        } else if (y % 7 == 6) {
            for (unsigned i = 0; i < 3 * w; ++i) {
                s = s * 1664525u + 1013904223u;
                row[i] = std::uint8_t(s >> 24);
            }
        }
    }
    return p;
}

Result<std::vector<PwgPage>> parse(const std::vector<std::uint8_t>& bytes) {
    return parsePwgRaster(bytes.data(), bytes.size(), "test raster");
}

TEST(PwgRaster, DecodesRepeatedLinesRunsAndLiteralsOverSeveralPages) {
    // 300 pixels: runs longer than 128 and literal runs longer than 128 must be split.
    const std::vector<PageLayout> layouts{rgbPage(300, 600, 1), rgbPage(17, 3, 2)};
    const auto bytes = encode(layouts);
    auto pages = parse(bytes);
    ASSERT_TRUE(pages.ok()) << pages.error().message;
    ASSERT_EQ(pages->size(), 2u);
    for (std::size_t i = 0; i < layouts.size(); ++i) {
        const PwgPage& page = pages.value()[i];
        EXPECT_EQ(page.width, layouts[i].width);
        EXPECT_EQ(page.height, layouts[i].height);
        EXPECT_EQ(page.resX, 600u);
        EXPECT_EQ(page.bitsPerPixel, 24u);
        EXPECT_EQ(page.pageSizeName, "test_page");
        EXPECT_TRUE(page.data == layouts[i].pixels) << "page " << i + 1 << " decoded wrong";
    }
    // Red in the low byte, whatever the byte order in the file.
    const PageLayout& first = layouts[0];
    const std::uint8_t* px = first.pixels.data() + 6 * first.bytesPerLine() + 3 * 10;
    EXPECT_EQ(pages.value()[0].pixel(10, 6), colorFromRgb(px[0], px[1], px[2]));
    EXPECT_EQ(pages.value()[0].pixel(300, 0), kOutsidePicture);
    EXPECT_EQ(pages.value()[0].pixel(0, 600), kOutsidePicture);
}

TEST(PwgRaster, ReadsFilesLargerThanOneReadBlock) {
    const auto bytes = encode({rgbPage(1000, 400, 7)});
    ASSERT_GT(bytes.size(), std::size_t(1) << 17);
    const auto path = std::filesystem::temp_directory_path() / "plx_pwg_raster_test.pwg";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    auto fromFile = readPwgRaster(path.string());
    std::filesystem::remove(path);
    ASSERT_TRUE(fromFile.ok()) << fromFile.error().message;
    EXPECT_TRUE(fromFile.value()[0].data == rgbPage(1000, 400, 7).pixels);

    auto missing = readPwgRaster(path.string());
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().kind, ErrorKind::NotFound);
}

TEST(PwgRaster, GrayBlackAndOneBitPagesReadAsColours) {
    PageLayout gray;
    gray.width = 3;
    gray.height = 1;
    gray.numColors = 1;
    gray.colorSpace = kPwgSGray;
    gray.pixels = {0x00, 0x80, 0xFF};
    PageLayout black = gray;
    black.colorSpace = kPwgBlack;
    PageLayout bits = gray;
    bits.width = 10;
    bits.bitsPerColor = 1;
    bits.colorSpace = kPwgBlack;
    bits.pixels = {0b10000000, 0b01000000};  // x = 0 and x = 9 are black
    auto pages = parse(encode({gray, black, bits}));
    ASSERT_TRUE(pages.ok()) << pages.error().message;
    const auto& p = pages.value();
    EXPECT_EQ(p[0].pixel(0, 0), 0x000000u);
    EXPECT_EQ(p[0].pixel(1, 0), 0x808080u);
    EXPECT_EQ(p[0].pixel(2, 0), 0xFFFFFFu);
    EXPECT_EQ(p[1].pixel(0, 0), 0xFFFFFFu);
    EXPECT_EQ(p[1].pixel(1, 0), 0x7F7F7Fu);
    EXPECT_EQ(p[1].pixel(2, 0), 0x000000u);
    const std::vector<RasterDot> dots{{0, 0, kBlack}, {9, 0, kBlack}};
    EXPECT_EQ(nonWhiteDots(p[2]), dots);
}

TEST(PwgRaster, FillCodeWhitensTheRestOfTheLine) {
    PageLayout layout = rgbPage(4, 1, 0);
    auto bytes = encode({layout});
    bytes.resize(4 + 1796);
    // line repeat 0, one red pixel, then "fill to the end of the line"
    for (int b : {0x00, 0x00, 0xFF, 0x00, 0x00, 0x80}) bytes.push_back(std::uint8_t(b));
    auto pages = parse(bytes);
    ASSERT_TRUE(pages.ok()) << pages.error().message;
    const std::vector<RasterDot> dots{{0, 0, kPureRed}};
    EXPECT_EQ(nonWhiteDots(pages.value()[0]), dots);
}

TEST(PwgRaster, EveryCutShortFileIsAnErrorNotAPage) {
    const auto bytes = encode({rgbPage(40, 30, 3), rgbPage(5, 5, 4)});
    ASSERT_TRUE(parse(bytes).ok());
    // A cut right after the first page leaves a whole, shorter raster: that one is valid.
    const std::size_t firstPageEnd = encode({rgbPage(40, 30, 3)}).size();
    for (std::size_t size = 0; size < bytes.size(); ++size) {
        std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + std::ptrdiff_t(size));
        auto pages = parsePwgRaster(cut.data(), cut.size(), "cut");
        if (size == firstPageEnd) {
            ASSERT_TRUE(pages.ok());
            EXPECT_EQ(pages->size(), 1u);
            continue;
        }
        ASSERT_FALSE(pages.ok()) << "cut at " << size << " of " << bytes.size();
        EXPECT_EQ(pages.error().kind, ErrorKind::Incomplete)
            << "cut at " << size << ": " << pages.error().message;
    }
}

TEST(PwgRaster, DamagedDataIsRejected) {
    const PageLayout layout = rgbPage(8, 4, 5);
    const auto good = encode({layout});

    auto badSync = good;
    badSync[3] = '3';
    auto r = parse(badSync);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, ErrorKind::Invalid);

    auto cupsRaster = good;  // the little-endian CUPS raster sync word is not PWG
    cupsRaster[0] = '3', cupsRaster[1] = 'S', cupsRaster[2] = 'a', cupsRaster[3] = 'R';
    EXPECT_FALSE(parse(cupsRaster).ok());

    auto overflow = good;  // first run of the first line claims 128 pixels in an 8-pixel line
    overflow[4 + 1796 + 1] = 127;
    r = parse(overflow);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, ErrorKind::Invalid);

    auto pastEnd = good;  // the first line repeated beyond the last row
    pastEnd[4 + 1796] = 200;
    r = parse(pastEnd);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, ErrorKind::Invalid);

    auto wrongLine = good;
    put32(wrongLine, 4 + 392, layout.bytesPerLine() + 1);
    EXPECT_FALSE(parse(wrongLine).ok());

    auto huge = good;  // would ask for terabytes
    put32(huge, 4 + 372, 0x40000000u);
    put32(huge, 4 + 376, 0x40000000u);
    put32(huge, 4 + 392, 0xC0000000u);
    EXPECT_FALSE(parse(huge).ok());

    auto zero = good;
    put32(zero, 4 + 376, 0);
    EXPECT_FALSE(parse(zero).ok());

    auto badBits = good;
    put32(badBits, 4 + 384, 7);
    EXPECT_FALSE(parse(badBits).ok());

    EXPECT_FALSE(parse({'R', 'a', 'S', '2'}).ok());  // no page at all
    EXPECT_FALSE(parsePwgRaster(nullptr, 10, "null").ok());
}

}  // namespace
}  // namespace plx
