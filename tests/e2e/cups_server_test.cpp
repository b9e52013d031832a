// The private print server as the station meets it: its queues, and what a job
// submitted to them turns into on the (captured) printer.
#include <QImage>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/cups_test_server.h"
#include "tools/pwg/pwg_raster.h"

namespace plx::test {
namespace {
namespace fs = std::filesystem;

constexpr int kJobTimeoutMs = 60000;

struct Dot {
    int x, y;
    ColorValue color;
};

// A one-page PDF of pageW x pageH points holding one uncompressed (lossless) RGB image of
// imgW x imgH pixels, white but for `dots`, drawn at (left, top) points from the top-left
// corner with `pointsPerPixel` points per image pixel.
std::string writeImagePdf(const fs::path& path, double pageW, double pageH, int imgW, int imgH,
                          const std::vector<Dot>& dots, double left, double top,
                          double pointsPerPixel) {
    std::string pixels(std::size_t(imgW) * std::size_t(imgH) * 3, '\xFF');
    for (const Dot& d : dots) {
        const std::size_t at = (std::size_t(d.y) * std::size_t(imgW) + std::size_t(d.x)) * 3;
        pixels[at] = char(redOf(d.color));
        pixels[at + 1] = char(greenOf(d.color));
        pixels[at + 2] = char(blueOf(d.color));
    }
    const double w = imgW * pointsPerPixel, h = imgH * pointsPerPixel;
    char content[200];
    std::snprintf(content, sizeof content, "q %.4f 0 0 %.4f %.4f %.4f cm /Im0 Do Q", w, h, left,
                  pageH - top - h);
    char page[300];
    std::snprintf(page, sizeof page,
                  "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %.2f %.2f] "
                  "/Resources << /XObject << /Im0 5 0 R >> >> /Contents 4 0 R >>",
                  pageW, pageH);
    const std::vector<std::string> objects{
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        page,
        "<< /Length " + std::to_string(std::strlen(content)) + " >>\nstream\n" + content +
            "\nendstream",
        "<< /Type /XObject /Subtype /Image /Width " + std::to_string(imgW) + " /Height " +
            std::to_string(imgH) +
            " /ColorSpace /DeviceRGB /BitsPerComponent 8 /Interpolate false /Length " +
            std::to_string(pixels.size()) + " >>\nstream\n" + pixels + "\nendstream",
    };
    std::string pdf = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t off : offsets) {
        char line[24];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
        pdf += line;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    std::ofstream(path, std::ios::binary) << pdf;
    return path.string();
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

class CupsServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(cupsSocket())) << "no private print server at " << cupsSocket();
        m_dir = fs::path(cupsStateDir()) / "test-input";
        fs::create_directories(m_dir);
    }

    // Submits and returns the decoded raster pages; fails the test on the way if anything
    // is missing.
    std::vector<PwgPage> printAndRead(const std::string& queue, const std::string& file,
                                      const std::vector<std::string>& options,
                                      int* jobIdOut = nullptr) {
        auto id = submitWithLp(queue, file, options);
        EXPECT_TRUE(id.ok()) << (id.ok() ? "" : id.error().message);
        if (!id) return {};
        if (jobIdOut != nullptr) *jobIdOut = id.value();
        const std::string raster = waitForJobRaster(queue, id.value(), kJobTimeoutMs);
        EXPECT_FALSE(raster.empty())
            << "job " << id.value() << " on " << queue << " left no raster";
        if (raster.empty()) return {};
        auto pages = readPwgRaster(raster);
        EXPECT_TRUE(pages.ok()) << (pages.ok() ? "" : pages.error().message);
        if (!pages) return {};
        return std::move(pages).value();
    }

    fs::path m_dir;
};

TEST_F(CupsServerTest, QueuesExistWithTheirDescriptionsAndOfficeIsTheDefault) {
    const ToolRun names = runCupsTool({"lpstat", "-e"});
    ASSERT_EQ(names.exitCode, 0) << names.output;
    const auto listed = lines(names.output);
    const std::set<std::string> got(listed.begin(), listed.end());
    const std::map<std::string, std::string> expected{
        {"QLS-4100-Xe", "QLS-4100 Xe drivers standard"},
        {"Office", "Office colour printer"},
        {"Label-300", "Label printer 300 dpi"},
        {"Label-1200", "Label printer 1200 dpi"},
        {"Label-Rejecting", "Rejecting label printer"},
        {"Label-Raster", "Label printer CUPS raster driver"},
    };
    for (const auto& [queue, description] : expected) {
        EXPECT_TRUE(got.count(queue)) << queue << " missing from: " << names.output;
        const ToolRun info = runCupsTool({"lpstat", "-l", "-p", queue});
        EXPECT_NE(info.output.find("Description: " + description + "\n"), std::string::npos)
            << info.output;
    }
    const ToolRun def = runCupsTool({"lpstat", "-d"});
    EXPECT_EQ(def.output, "system default destination: Office\n");

    const ToolRun accepting = runCupsTool({"lpstat", "-a"});
    for (const auto& line : lines(accepting.output)) {
        const bool rejecting = line.rfind("Label-Rejecting ", 0) == 0;
        EXPECT_EQ(line.find("not accepting") != std::string::npos, rejecting) << line;
    }
}

TEST_F(CupsServerTest, LosslessPdfReachesTheLabelRasterWithExactColoursAndPositions) {
    // One image pixel per 600-dpi device pixel, on a page the size of the 4 x 6 in label.
    const std::vector<Dot> dots{{0, 0, kPureRed},
                                {1, 0, kPureGreen},
                                {2, 0, kPureBlue},
                                {39, 29, kBlack},
                                {17, 5, colorFromRgb(255, 255, 0)},
                                {18, 5, colorFromRgb(1, 2, 3)}};
    const double left = 100 * 0.12, top = 250 * 0.12;  // 100 and 250 device pixels
    const std::string pdf =
        writeImagePdf(m_dir / "dots.pdf", 288, 432, 40, 30, dots, left, top, 72.0 / 600.0);
    int jobId = 0;
    const auto pages = printAndRead("QLS-4100-Xe", pdf, {"-t", "dots title", "-n", "2"}, &jobId);
    ASSERT_EQ(pages.size(), 2u) << "copies=2 must give two pages";
    for (const PwgPage& page : pages) {
        EXPECT_EQ(page.resX, 600u);
        EXPECT_EQ(page.resY, 600u);
        EXPECT_EQ(page.pageWidthPoints, 288u);
        EXPECT_EQ(page.pageHeightPoints, 432u);
        EXPECT_EQ(page.width, 2400u);
        EXPECT_EQ(page.height, 3600u);
        EXPECT_EQ(page.numColors, 3u);
        std::vector<RasterDot> expected;
        for (const Dot& d : dots) expected.push_back({d.x + 100, d.y + 250, d.color});
        std::sort(expected.begin(), expected.end(), [](const RasterDot& a, const RasterDot& b) {
            return a.y != b.y ? a.y < b.y : a.x < b.x;
        });
        EXPECT_EQ(nonWhiteDots(page), expected);
    }
    const auto info = readJobInfo("QLS-4100-Xe", jobId);
    EXPECT_EQ(info.count("title") ? info.at("title") : "", "dots title");
    EXPECT_EQ(info.count("copies") ? info.at("copies") : "", "2");
    EXPECT_TRUE(info.count("user") && !info.at("user").empty());
}

TEST_F(CupsServerTest, LabelQueuesRasteriseAtTheirOwnResolution) {
    // A 6 x 6 point block: a whole number of device pixels at every resolution.
    const std::string pdf =
        writeImagePdf(m_dir / "block.pdf", 288, 432, 1, 1, {{0, 0, kPureBlue}}, 0, 0, 6.0);
    for (const auto& [queue, dpi] : std::vector<std::pair<std::string, unsigned>>{
             {"Label-300", 300}, {"Label-1200", 1200}, {"QLS-4100-Xe", 600}}) {
        SCOPED_TRACE(queue);
        const auto pages = printAndRead(queue, pdf, {});
        ASSERT_EQ(pages.size(), 1u);
        const PwgPage& page = pages[0];
        EXPECT_EQ(page.resX, dpi);
        EXPECT_EQ(page.resY, dpi);
        EXPECT_EQ(page.width, 4 * dpi);
        EXPECT_EQ(page.height, 6 * dpi);
        const unsigned side = dpi * 6 / 72;
        const auto found = nonWhiteDots(page);
        ASSERT_EQ(found.size(), std::size_t(side) * side);
        EXPECT_EQ(found.front().color, kPureBlue);
        EXPECT_EQ(found.back().x, int(side) - 1);
        EXPECT_EQ(found.back().y, int(side) - 1);
    }
}

TEST_F(CupsServerTest, ResolutionOptionGivesTwoByTwoDeviceDotsPerPicturePixel) {
    const std::string pdf =
        writeImagePdf(m_dir / "one.pdf", 288, 432, 4, 4, {{3, 2, kPureGreen}}, 0, 0, 72.0 / 600.0);
    const auto pages = printAndRead("QLS-4100-Xe", pdf, {"-o", "Resolution=1200dpi"});
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].resX, 1200u);
    const std::vector<RasterDot> expected{
        {6, 4, kPureGreen}, {7, 4, kPureGreen}, {6, 5, kPureGreen}, {7, 5, kPureGreen}};
    EXPECT_EQ(nonWhiteDots(pages[0]), expected);
}

TEST_F(CupsServerTest, PngThroughTheImageFilterLandsTopLeftWithPpiAndPosition) {
    QImage image(30, 20, QImage::Format_RGB32);
    image.fill(Qt::white);
    image.setPixel(0, 0, qRgb(255, 0, 0));
    image.setPixel(29, 19, qRgb(0, 0, 255));
    const std::string png = (m_dir / "corner.png").string();
    ASSERT_TRUE(image.save(QString::fromStdString(png), "PNG"));
    const auto pages =
        printAndRead("QLS-4100-Xe", png, {"-o", "ppi=600", "-o", "position=top-left"});
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].width, 2400u);  // a full label, not just the picture
    const std::vector<RasterDot> expected{{0, 0, kPureRed}, {29, 19, kPureBlue}};
    EXPECT_EQ(nonWhiteDots(pages[0]), expected);
}

TEST_F(CupsServerTest, RasterInTheDriversFormatMeetsNoRasteriser) {
    // The filters the server would run, from the queue's PPD and its own filter database.
    auto chain = [](const std::string& queue, const std::string& type) {
        const std::string conf = cupsStateDir() + "/conf/";
        const ToolRun r = runCupsTool(
            {"cupsfilter", "-c", conf + "cups-files.conf", "-p", conf + "ppd/" + queue + ".ppd",
             "-e", "-m", "printer/" + queue, "-i", type, "--list-filters", "/dev/null"});
        EXPECT_EQ(r.exitCode, 0) << r.output;
        std::vector<std::string> filters;
        for (const auto& l : lines(r.output))
            if (l.rfind("cupsfilter:", 0) != 0) filters.push_back(l);
        return filters;
    };
    using Chain = std::vector<std::string>;
    EXPECT_EQ(chain("QLS-4100-Xe", "application/vnd.cups-raster"), Chain{});  // to the device
    EXPECT_EQ(chain("Label-Raster", "application/vnd.cups-raster"), Chain{"plx-topwg"});
    // A PDF's rasteriser is whichever costs least (poppler's would smooth pictures).
    EXPECT_EQ(chain("QLS-4100-Xe", "application/pdf"), (Chain{"pdftopdf", "gstoraster"}));
}

TEST_F(CupsServerTest, RejectingQueueRefusesJobs) {
    const std::string pdf = writeImagePdf(m_dir / "refused.pdf", 288, 432, 1, 1, {}, 0, 0, 1.0);
    auto id = submitWithLp("Label-Rejecting", pdf);
    ASSERT_FALSE(id.ok()) << "job " << id.value() << " was accepted";
    EXPECT_EQ(id.error().kind, ErrorKind::PrintServer);
    EXPECT_TRUE(fs::is_empty(queueOutputDir("Label-Rejecting")));
}

TEST_F(CupsServerTest, DisabledQueueHoldsTheJobUntilEnabled) {
    const std::string queue = "Label-300";
    ASSERT_EQ(cupsDisable(queue, "drill").exitCode, 0);
    const std::string pdf =
        writeImagePdf(m_dir / "held.pdf", 288, 432, 1, 1, {{0, 0, kBlack}}, 0, 0, 2.0);
    auto id = submitWithLp(queue, pdf);
    const bool submitted = id.ok();
    // A stopped queue accepts jobs but prints nothing.
    std::string early;
    if (submitted) early = waitForJobRaster(queue, id.value(), 1500);
    ASSERT_EQ(cupsEnable(queue).exitCode, 0);
    ASSERT_TRUE(submitted) << id.error().message;
    EXPECT_TRUE(early.empty()) << "printed while the queue was stopped";
    EXPECT_FALSE(waitForJobRaster(queue, id.value(), kJobTimeoutMs).empty());
}

}  // namespace
}  // namespace plx::test
