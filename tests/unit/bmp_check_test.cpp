#include "picture/bmp_check.h"
#include "picture/bmp_rgb24.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <atomic>
#include <span>
#include <string>
#include <vector>

#include "tests/support/bmp_writer.h"

using namespace plx;
using namespace plx::test;

namespace {

using Bytes = std::vector<std::uint8_t>;

void set16(Bytes& b, std::size_t at, std::uint32_t v) {
    b[at] = std::uint8_t(v);
    b[at + 1] = std::uint8_t(v >> 8);
}
void set32(Bytes& b, std::size_t at, std::uint32_t v) {
    set16(b, at, v & 0xFFFF);
    set16(b, at + 2, v >> 16);
}

// 16 x 4 with long runs and a stretch of distinct pixels, so RLE uses both run kinds.
std::vector<ColorValue> runnyPicture(int w, int h, const std::vector<ColorValue>& palette) {
    std::vector<ColorValue> px;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            px.push_back(x < w / 2 ? palette[std::size_t(y) % palette.size()]
                                   : palette[std::size_t(x + y) % palette.size()]);
    return px;
}

const std::vector<ColorValue> kPalette = {kBlack, kPureRed, kPureGreen, kPureBlue, 0xFFFFFF};

Bytes rle8File() {
    return encodeBmp(16, 4, runnyPicture(16, 4, kPalette), {BmpFormat::Rle8, kPalette});
}

ErrorKind kindOf(const Bytes& b) {
    auto r = checkBmp(b);
    EXPECT_FALSE(r.ok()) << "accepted";
    return r.ok() ? ErrorKind::Aborted : r.error().kind;
}

}  // namespace

TEST(BmpCheck, AcceptsWhatTheWriterProducesAndReportsTheLayout) {
    const auto px = runnyPicture(13, 5, kPalette);
    auto pal = checkBmp(encodeBmp(13, 5, px, {BmpFormat::Pal8, kPalette, true}));
    ASSERT_TRUE(pal.ok()) << pal.error().message;
    EXPECT_EQ(pal->width, 13);
    EXPECT_EQ(pal->height, 5);
    EXPECT_TRUE(pal->topDown);
    EXPECT_EQ(pal->paletteEntries, 5);
    EXPECT_EQ(pal->pixelOffset, 14u + 40u + 5u * 4u);
    EXPECT_EQ(pal->pixelBytes, 16u * 5u);  // rows padded to 4 bytes

    auto rgb = checkBmp(encodeBmp(13, 5, px, {BmpFormat::Rgb565}));
    ASSERT_TRUE(rgb.ok()) << rgb.error().message;
    EXPECT_EQ(rgb->redMask, 0xF800u);
    EXPECT_EQ(rgb->greenMask, 0x07E0u);
    EXPECT_EQ(rgb->blueMask, 0x001Fu);

    const Bytes rle = rle8File();
    auto r = checkBmp(rle);
    ASSERT_TRUE(r.ok()) << r.error().message;
    EXPECT_EQ(r->pixelOffset + r->pixelBytes, rle.size());  // stream ends with the marker
    EXPECT_LT(r->pixelBytes, 16u * 4u);                     // the runs did compress
}

TEST(BmpCheck, FileCutAnywhereIsIncomplete) {
    const Bytes full = encodeBmp(9, 7, runnyPicture(9, 7, kPalette), {BmpFormat::Pal4, kPalette});
    const std::size_t pixelStart = 14 + 40 + kPalette.size() * 4;
    for (std::size_t cut :
         {std::size_t(0), std::size_t(1), std::size_t(9), std::size_t(14), std::size_t(30),
          std::size_t(53), pixelStart - 3, pixelStart, pixelStart + 17, full.size() - 1}) {
        Bytes b(full.begin(), full.begin() + std::ptrdiff_t(cut));
        auto r = checkBmp(b);
        ASSERT_FALSE(r.ok()) << "cut at " << cut;
        EXPECT_EQ(r.error().kind, ErrorKind::Incomplete)
            << "cut at " << cut << ": " << r.error().message;
    }
    EXPECT_TRUE(checkBmp(full).ok());
}

TEST(BmpCheck, RleStreamWithoutEndMarkerIsIncomplete) {
    const Bytes full = rle8File();
    ASSERT_EQ(full[full.size() - 2], 0);
    ASSERT_EQ(full[full.size() - 1], 1);
    for (std::size_t drop : {1, 2, 5, 20}) {
        Bytes b(full.begin(), full.end() - std::ptrdiff_t(drop));
        EXPECT_EQ(kindOf(b), ErrorKind::Incomplete) << "dropped " << drop;
    }
}

TEST(BmpCheck, RleStreamsThatOverrunOrSkipAreInvalid) {
    const Bytes good = rle8File();
    const std::size_t start = 14 + 40 + kPalette.size() * 4;
    ASSERT_NE(good[start], 0) << "test expects the first row to start with a run";

    Bytes longRun = good;
    longRun[start] = 200;  // run of 200 pixels in a 16-pixel row
    EXPECT_EQ(kindOf(longRun), ErrorKind::Invalid);

    // A bitmap whose stream writes more rows than the picture has.
    Bytes extraRows = good;
    extraRows.resize(extraRows.size() - 2);
    for (int i = 0; i < 3; ++i) extraRows.insert(extraRows.end(), {16, 1, 0, 0});
    extraRows.insert(extraRows.end(), {0, 1});
    EXPECT_EQ(kindOf(extraRows), ErrorKind::Invalid);

    // Delta and early end of bitmap leave pixels undefined.
    Bytes delta(good.begin(), good.begin() + std::ptrdiff_t(start));
    delta.insert(delta.end(), {0, 2, 4, 1, 0, 1});
    EXPECT_EQ(kindOf(delta), ErrorKind::Invalid);
    Bytes early(good.begin(), good.begin() + std::ptrdiff_t(start));
    early.insert(early.end(), {16, 1, 0, 1});
    EXPECT_EQ(kindOf(early), ErrorKind::Invalid);
    // A delta jumping outside the picture.
    Bytes away(good.begin(), good.begin() + std::ptrdiff_t(start));
    away.insert(away.end(), {0, 2, 200, 0, 0, 1});
    EXPECT_EQ(kindOf(away), ErrorKind::Invalid);
}

TEST(BmpCheck, ImpossibleHeadersAreInvalid) {
    const Bytes base =
        encodeBmp(8, 2, std::vector<ColorValue>(16, kPureRed), {BmpFormat::Pal8, kPalette});
    const auto patched = [&](auto&& patch) {
        Bytes b = base;
        patch(b);
        return kindOf(b);
    };
    EXPECT_EQ(patched([](Bytes& b) { b[0] = 'X'; }), ErrorKind::Invalid);
    EXPECT_EQ(patched([](Bytes& b) { set32(b, 14, 66); }), ErrorKind::Invalid);  // header size
    EXPECT_EQ(patched([](Bytes& b) { set32(b, 18, std::uint32_t(-8)); }),
              ErrorKind::Invalid);  // width
    EXPECT_EQ(patched([](Bytes& b) { set32(b, 18, 0); }), ErrorKind::Invalid);
    EXPECT_EQ(patched([](Bytes& b) { set32(b, 22, 0); }), ErrorKind::Invalid);  // height
    EXPECT_EQ(patched([](Bytes& b) { set16(b, 26, 2); }), ErrorKind::Invalid);  // planes
    EXPECT_EQ(patched([](Bytes& b) { set16(b, 28, 2); }), ErrorKind::Invalid);  // 2 bits
    EXPECT_EQ(patched([](Bytes& b) { set16(b, 28, 64); }), ErrorKind::Invalid);
    EXPECT_EQ(patched([](Bytes& b) { set32(b, 30, 2); }), ErrorKind::Invalid);  // RLE4 at 8 bits
    EXPECT_EQ(patched([](Bytes& b) { set32(b, 30, 3); }), ErrorKind::Invalid);  // bitfields at 8
    EXPECT_EQ(patched([](Bytes& b) { set32(b, 30, 4); }), ErrorKind::Invalid);  // JPEG
    EXPECT_EQ(patched([](Bytes& b) { set32(b, 30, 9); }), ErrorKind::Invalid);
    EXPECT_EQ(patched([](Bytes& b) { set32(b, 46, 300); }), ErrorKind::Invalid);  // palette > 256
    EXPECT_EQ(patched([](Bytes& b) { set32(b, 10, 60); }),
              ErrorKind::Invalid);  // offset in palette
    EXPECT_EQ(patched([](Bytes& b) { set32(b, 34, 0x7FFFFFFF); }),
              ErrorKind::Invalid);  // image size

    Bytes rleTopDown = rle8File();
    set32(rleTopDown, 22, std::uint32_t(-4));
    EXPECT_EQ(kindOf(rleTopDown), ErrorKind::Invalid);

    Bytes masks =
        encodeBmp(4, 2, std::vector<ColorValue>(8, kPureRed), {BmpFormat::Rgb32Bitfields});
    Bytes wide = masks;
    set32(wide, 54, 0x3FF00000);  // 10-bit red
    EXPECT_EQ(kindOf(wide), ErrorKind::Invalid);
    Bytes overlap = masks;
    set32(overlap, 54, 0x0000FF00);
    EXPECT_EQ(kindOf(overlap), ErrorKind::Invalid);
    Bytes gap = masks;
    set32(gap, 54, 0x00F0F000);
    EXPECT_EQ(kindOf(gap), ErrorKind::Invalid);
}

TEST(BmpCheck, HugeHeaderIsRefusedAndLargeLabelPassesWithoutReadingPixels) {
    // Just the headers: the pixel data is absent, so only the size can have been judged.
    Bytes huge = encodeBmp(1, 1, {kBlack}, {BmpFormat::Rgb24});
    huge.resize(54);
    set32(huge, 18, 60000);
    set32(huge, 22, 60000);
    auto r = checkBmp(huge);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, ErrorKind::Invalid);
    EXPECT_NE(r.error().message.find("100000000"), std::string::npos) << r.error().message;

    // A 10000 x 10000 label (the limit) as a sparse file: checked from its header and size.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.filePath("big.bmp").toStdString();
    Bytes head = huge;
    set32(head, 18, 10000);
    set32(head, 22, 10000);
    writeFile(path, head);
    const std::uint64_t full = 54 + std::uint64_t(30000) * 10000;
    ASSERT_EQ(::truncate(path.c_str(), off_t(full)), 0);
    const int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    BmpFdSource src(fd, full);
    auto ok = checkBmp(src);
    ASSERT_TRUE(ok.ok()) << ok.error().message;
    EXPECT_EQ(ok->width, 10000);
    EXPECT_EQ(ok->height, 10000);
    BmpFdSource cut(fd, full - 1);
    auto partial = checkBmp(cut);
    ASSERT_FALSE(partial.ok());
    EXPECT_EQ(partial.error().kind, ErrorKind::Incomplete);
    ::close(fd);

    set32(head, 22, 10001);
    EXPECT_EQ(kindOf(head), ErrorKind::Invalid);
}

// Read straight into three bytes a pixel; a file that shrinks after its check is still
// being written, and a cancelled read stops.
TEST(BmpRgb24, RowsComeOutTopFirstAsRgbUnlessTheFileChangedOrTheReadIsCancelled) {
    const int w = 5, h = 3;
    const std::vector<ColorValue> px = runnyPicture(w, h, kPalette);
    for (const bool topDown : {false, true}) {
        const Bytes file = encodeBmp(w, h, px, {BmpFormat::Rgb24, {}, topDown});
        const Result<BmpInfo> info = checkBmp(file);
        ASSERT_TRUE(info.ok() && isPlainRgb24(*info));
        std::vector<std::uint8_t> out(std::size_t(h) * 16, 0xEE);  // rows 16 bytes apart
        BmpMemorySource whole(file);
        ASSERT_TRUE(readBmpRgb24(whole, *info, out.data(), 16, nullptr).ok());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                EXPECT_EQ(PictureView::rgbAt(&out[std::size_t(y) * 16 + std::size_t(x) * 3]),
                          px[std::size_t(y * w + x)])
                    << x << "," << y << (topDown ? " top-down" : "");

        BmpMemorySource shrunk(std::span<const std::uint8_t>(file.data(), file.size() - 1));
        EXPECT_EQ(readBmpRgb24(shrunk, *info, out.data(), 16, nullptr).error().kind,
                  ErrorKind::Incomplete);
        const std::atomic<bool> cancelled{true};
        EXPECT_EQ(readBmpRgb24(whole, *info, out.data(), 16, &cancelled).error().kind,
                  ErrorKind::Io);
    }
}
