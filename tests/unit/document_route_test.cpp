// Which document a driver gets, and the station's own raster read back by the PWG reader.
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cups/document_route.h"
#include "printing/print_surface.h"
#include "tools/raster_pages.h"

namespace plx {
namespace {

std::optional<RasterInput> inputOf(const std::string& ppd, std::string* whyNot = nullptr) {
    return fixedRasterInput(driverFilters(ppd), whyNot);
}

TEST(DocumentRoute, RasterOnlyWhereTheDriverTakesItAndNoCheaperPathExists) {
    // The generic PWG driver: its old-style line is ignored beside a cupsFilter2 line.
    const std::string generic =
        "*cupsFilter2: \"application/vnd.cups-raster image/pwg-raster 0 -\"\r\n"
        "*cupsFilter: \"image/pwg-raster 0 -\"\n";
    EXPECT_EQ(
        driverFilters(generic),
        (std::vector<DriverFilter>{{"application/vnd.cups-raster", "image/pwg-raster", 0, "-"}}));
    auto in = inputOf(generic);
    ASSERT_TRUE(in);
    EXPECT_EQ(in->format, "application/vnd.cups-raster");
    EXPECT_EQ(in->kind, RasterKind::Pwg);  // straight to a PWG printer: PWG bytes

    // A vendor's raster driver reads CUPS raster itself.
    in = inputOf("*cupsFilter: \"application/vnd.cups-raster 50 rastertolabel\"\n");
    ASSERT_TRUE(in);
    EXPECT_EQ(in->kind, RasterKind::Cups);
    EXPECT_EQ(in->format, "application/vnd.cups-raster");

    // Driverless, raster only: PWG raster as it is.
    in = inputOf(
        "*cupsFilter2: \"image/urf image/urf 100 -\"\n"
        "*cupsFilter2: \"image/pwg-raster image/pwg-raster 100 -\"\n");
    ASSERT_TRUE(in);
    EXPECT_EQ(in->format, "image/pwg-raster");
    EXPECT_EQ(in->kind, RasterKind::Pwg);

    // Driverless with PDF: a path through rastertopdf could undercut the raster line.
    std::string why;
    EXPECT_FALSE(
        inputOf("*cupsFilter2: \"application/vnd.cups-pdf application/pdf 10 -\"\n"
                "*cupsFilter2: \"image/pwg-raster image/pwg-raster 100 -\"\n",
                &why));
    EXPECT_NE(why.find("costs 10"), std::string::npos) << why;
    // No driver, a PostScript driver, a printer that wants Apple raster, a broken line.
    for (const char* ppd :
         {"", "*cupsFilter2: \"application/vnd.cups-postscript application/postscript 0 -\"",
          "*cupsFilter2: \"application/vnd.cups-raster image/urf 0 -\"",
          "*cupsFilter2: \"application/vnd.cups-raster image/pwg-raster x -\""}) {
        EXPECT_FALSE(inputOf(ppd)) << ppd;
    }
}

TEST(DocumentRoute, RasterDocumentHoldsExactlyWhatWasDrawnOnEveryCopy) {
    const LabelPage page{72.0, 36.0, 300};  // 300 x 150 dots
    const int w = 300, h = 150;
    std::vector<ColorValue> want(std::size_t(w) * h, 0xFFFFFF);
    auto doc = makePrintDocument(pwgRoute(page, true), page);
    ASSERT_EQ(doc->format(), "application/vnd.cups-raster");
    // Rows without dots and dots off the page draw nothing, in the raster as in the PDF.
    auto pdf = makePrintDocument(DocumentRoute{}, page);
    for (PrintDocument* d : {doc.get(), pdf.get()}) {
        d->plotRow(0, 3, std::vector<ColorValue>(50, kNoDot).data(), 50);
        d->plot(-1, 5, kBlack);
        d->plot(5, h, kBlack);
        EXPECT_TRUE(d->empty()) << d->format();
    }
    pdf->plot(1, 1, kBlack);
    EXPECT_FALSE(pdf->empty());

    std::mt19937 rng(3);
    const ColorValue colours[] = {kBlack, kPureRed, kPureGreen, kPureBlue, 0x123456};
    // Rows of long runs, long literals and holes, partly off the page on both sides.
    for (int y = 0; y < 40; ++y) {
        std::vector<ColorValue> row(400);
        for (std::size_t i = 0; i < row.size(); ++i) {
            const bool literal = (y % 3 == 1);
            row[i] = (y % 3 == 2 && i % 7 == 0) ? kNoDot
                     : literal                  ? ColorValue(rng() & 0xFFFFFF)
                                                : colours[(i / 150) % 5];
        }
        const std::int64_t x0 = y % 2 ? -50 : 0;
        doc->plotRow(x0, y, row.data(), row.size());
        for (std::size_t i = 0; i < row.size(); ++i) {
            const std::int64_t x = x0 + std::int64_t(i);
            if (x >= 0 && x < w && isDot(row[i]))
                want[std::size_t(y) * w + std::size_t(x)] = row[i];
        }
    }
    EXPECT_FALSE(doc->empty());
    doc->plotRow(0, -1, want.data(), 10);  // off the page: nothing
    doc->plotRow(0, h, want.data(), 10);
    // Single dots over what is there, then a picture stretched 2.5 x 1.5 over part of it.
    for (int i = 0; i < 500; ++i) {
        const int x = int(rng() % w), y = int(rng() % h);
        doc->plot(x + 0.75, y + 0.25, colours[i % 5] | 0xAB000000u);  // top byte means nothing
        want[std::size_t(y) * w + std::size_t(x)] = colours[i % 5];
    }
    const std::vector<std::uint32_t> pic{kPureRed,  kPureGreen, 0xFF000000u | kBlack,
                                         kPureBlue, 0x00808080, 0x00FFFFFF};
    // The same picture in both pixel forms: 32-bit words, and palette indices.
    std::vector<ColorValue> palette(256, 0x00FFFFFF);
    for (std::size_t i = 0; i < pic.size(); ++i) palette[i] = pic[i] & 0xFFFFFF;
    const std::uint8_t indices[] = {0, 1, 2, 7, 3, 4, 5, 7};  // rows of 4, the last unused
    doc->drawPicture(PictureView{pic.data(), 3, 2, 3}, 290.0, 100.0, 7.5, 3.0, {});
    doc->drawPicture(PictureView::indexed8(indices, 3, 2, 4, palette.data()), 290.0, 110.0, 7.5,
                     3.0, {});
    for (int top : {100, 110}) {
        for (int y = top; y < top + 3; ++y) {
            for (int x = 290; x + 0.5 < 297.5; ++x) {
                // Each dot takes the pixel under its centre.
                const int px = int((x + 0.5 - 290.0) / 2.5), py = int((y + 0.5 - top) / 1.5);
                want[std::size_t(y) * w + std::size_t(x)] =
                    pic[std::size_t(py) * 3 + std::size_t(px)] & 0xFFFFFF;
            }
        }
    }
    doc->finish({});
    std::string bytes;
    ASSERT_TRUE(doc->writeTo(3, [&](const char* d, std::size_t n) {
        bytes.append(d, n);
        return true;
    }));
    auto pages = readRaster(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                            "the document");
    ASSERT_TRUE(pages.ok()) << pages.error().message;
    ASSERT_EQ(pages->size(), 3u) << "copies as pages when the driver makes none";
    for (const RasterPage& p : *pages) {
        ASSERT_EQ(p.width, unsigned(w));
        ASSERT_EQ(p.height, unsigned(h));
        EXPECT_EQ(p.resX, 300u);
        int wrong = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (p.pixel(unsigned(x), unsigned(y)) !=
                        want[std::size_t(y) * w + std::size_t(x)] &&
                    ++wrong < 5)
                    ADD_FAILURE() << "dot " << x << "," << y;
        EXPECT_EQ(wrong, 0);
    }
    // A driver that makes its own copies gets one page; the tall blank page stays blank.
    const LabelPage tall{72.0, 288.0, 300};  // 1200 rows: line repeats longer than 256
    auto one = makePrintDocument(pwgRoute(tall, false), tall);
    one->plot(5, 1199, kPureGreen);
    one->finish({});
    bytes.clear();
    ASSERT_TRUE(one->writeTo(3, [&](const char* d, std::size_t n) {
        bytes.append(d, n);
        return true;
    }));
    pages = readRaster(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                       "the document");
    ASSERT_TRUE(pages.ok()) << pages.error().message;
    ASSERT_EQ(pages->size(), 1u);
    EXPECT_EQ(nonWhiteDots((*pages)[0]), (std::vector<RasterDot>{{5, 1199, kPureGreen}}));
}

}  // namespace
}  // namespace plx
