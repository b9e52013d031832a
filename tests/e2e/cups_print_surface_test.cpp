// The CUPS print surface against the private print server: what is drawn must arrive in the
// printer's raster at exactly the device dots and in exactly the colours it was drawn with.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>

#include <gtest/gtest.h>

#include "cups/cups_print_surface.h"
#include "printing/printer_choice.h"
#include "tests/support/cups_test_server.h"
#include "tests/support/raster_capture.h"
#include "tests/support/station_process.h"
#include "tools/raster_pages.h"

namespace plx {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

using Printed = test::CapturedJob;
using test::expectExactDots;

// Ends the document on the current printer and waits for the captured raster.
Printed printAndCapture(CupsPrintSurface& surface, const std::string& jobName) {
    const auto current = surface.current();
    auto r = surface.endDocument(jobName, {});
    EXPECT_TRUE(r.ok()) << (r.ok() ? "" : r.error().message);
    if (!r || !current) return {};
    EXPECT_EQ(r->queue, current->queue);
    return test::captureJob(r->text());
}

std::size_t filesIn(const std::string& dir) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return 0;
    return std::size_t(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

const char* const kRaster = "application/vnd.cups-raster";
const char* const kPdf = "application/pdf";

const ColorValue kPrintColors[] = {kBlack,   kPureRed, kPureGreen, kPureBlue,
                                   0x0000FE, 0x00FF01, 0xFE0000};

TEST(CupsPrintSurface, PrintersAndSelectionByQueueNameOrDescription) {
    CupsPrintSurface surface;
    const auto listed = surface.printers();
    ASSERT_TRUE(listed) << listed.error().message;
    const std::vector<PrinterInfo>& printers = *listed;
    auto has = [&](const std::string& queue, const std::string& description) {
        return std::find(printers.begin(), printers.end(), PrinterInfo{queue, description}) !=
               printers.end();
    };
    EXPECT_TRUE(has("QLS-4100-Xe", "QLS-4100 Xe drivers standard"));
    EXPECT_TRUE(has("Office", "Office colour printer"));
    for (const char* q : {"Label-300", "Label-1200", "Label-Rejecting"}) {
        EXPECT_TRUE(std::any_of(printers.begin(), printers.end(), [&](const PrinterInfo& p) {
            return p.queue == q;
        })) << q;
    }

    // The server's default destination until something is selected.
    ASSERT_TRUE(surface.current());
    EXPECT_EQ(surface.current()->queue, "Office");
    EXPECT_EQ(surface.current()->description, "Office colour printer");

    EXPECT_TRUE(selectPrinterByName(surface, "  label-300 ")->matched);
    EXPECT_EQ(surface.current()->queue, "Label-300");
    EXPECT_TRUE(selectPrinterByName(surface, " qls-4100 XE drivers STANDARD  ")->matched);
    EXPECT_EQ(surface.current()->queue, "QLS-4100-Xe");
    EXPECT_FALSE(selectPrinterByName(surface, "QLS-4100")->matched);
    EXPECT_FALSE(selectPrinterByName(surface, "No such printer")->matched);
    EXPECT_EQ(surface.current()->queue, "QLS-4100-Xe");

    // A selected printer is where the job goes.
    surface.plot(3, 4, kPureRed);
    const Printed p = printAndCapture(surface, "selected printer");
    ASSERT_EQ(p.pages.size(), 1u);
    EXPECT_EQ(test::readJobInfo("QLS-4100-Xe", p.id)["title"], "selected printer");
}

TEST(CupsPrintSurface, JobNamesSurviveTheServer) {
    // The server would replace a name that is not UTF-8 or too long by "Untitled".
    CupsPrintSurface surface;
    ASSERT_TRUE(selectPrinterByName(surface, "QLS-4100-Xe")->matched);
    const std::string longName(400, 'n');
    const std::pair<std::string, std::string> cases[] = {
        {"Etikett \xC3\xBC 1.bmp", "Etikett \xC3\xBC 1.bmp"},  // UTF-8 stays as it is
        {"caf\xE9.bmp", "caf\xC3\xA9.bmp"},                    // Latin-1 is read as such
        {"two\nlines", "two lines"},
        {longName, std::string(255, 'n')},
    };
    for (const auto& [name, title] : cases) {
        surface.plot(1, 1, kBlack);
        const Printed p = printAndCapture(surface, name);
        ASSERT_EQ(p.pages.size(), 1u);
        EXPECT_EQ(test::readJobInfo("QLS-4100-Xe", p.id)["title"], title);
    }
}

// The station's jobs come back with their uuid and the token they carried, ended ones too, and
// the server keeps the token across its own restart. Their ends are told by the server's
// events; a restart, which loses events, makes the next answer incomplete.
TEST(CupsPrintSurface, JobsAreListedWithTheirUuidAndTokenAlsoAfterTheServerRestarts) {
    test::PrintServerRestorer restore;
    CupsPrintSurface surface;
    const auto before = surface.jobChanges();  // what came before the subscription is unknown
    ASSERT_TRUE(before) << before.error().message;
    EXPECT_FALSE(before->complete);
    ASSERT_TRUE(selectPrinterByName(surface, "QLS-4100-Xe")->matched);
    surface.plot(1, 1, kBlack);
    surface.setJobToken("0123456789abcdef0123456789abcdef");
    const auto tokened = surface.endDocument("with a token", {});
    ASSERT_TRUE(tokened) << tokened.error().message;
    EXPECT_TRUE(tokened->uuid.starts_with("urn:uuid:")) << tokened->uuid;
    surface.plot(1, 1, kBlack);
    const auto plain = surface.endDocument("without", {});  // the token went with the first job
    ASSERT_TRUE(plain) << plain.error().message;
    // The raster is stored a moment before the server counts the job completed.
    ASSERT_FALSE(test::waitForJobRaster("QLS-4100-Xe", plain->id, test::kJobTimeoutMs).empty());
    auto ended = [&] {
        const auto listed = surface.jobs("QLS-4100-Xe", plain->id);
        return listed && !listed->empty() && listed->front().phase == JobPhase::Completed;
    };
    for (int i = 0; i < 100 && !ended(); ++i) std::this_thread::sleep_for(100ms);
    const auto changes = surface.jobChanges();
    ASSERT_TRUE(changes) << changes.error().message;
    EXPECT_TRUE(changes->complete);
    EXPECT_TRUE(changes->changed.contains(plain->id));
    const auto again = surface.jobChanges();
    ASSERT_TRUE(again);
    EXPECT_TRUE(again->complete && !again->changed.contains(plain->id)) << "told once";
    const auto asked = surface.jobsById({tokened->id, plain->id});
    ASSERT_TRUE(asked && asked->size() == 2u);
    EXPECT_EQ(asked->front().token, "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(asked->back().phase, JobPhase::Completed);
    EXPECT_TRUE(surface.jobsById({plain->id, 999999})->empty()) << "one unknown: none told";

    for (const bool restarted : {false, true}) {
        if (restarted) {
            ASSERT_TRUE(test::cupsServerScript("stop"));
            ASSERT_TRUE(test::cupsServerScript("resume"));
            const auto afterRestart = surface.jobChanges();
            ASSERT_TRUE(afterRestart) << afterRestart.error().message;
            EXPECT_FALSE(afterRestart->complete);
        }
        const auto listed = surface.jobs("QLS-4100-Xe", tokened->id);
        ASSERT_TRUE(listed) << listed.error().message;
        std::map<int, JobStatus> byId;
        for (const JobStatus& j : *listed) byId[j.id] = j;
        ASSERT_TRUE(byId.count(tokened->id) && byId.count(plain->id)) << restarted;
        EXPECT_GE(byId.begin()->first, tokened->id) << "nothing below the number asked from";
        EXPECT_EQ(byId[tokened->id].uuid, tokened->uuid);
        EXPECT_EQ(byId[tokened->id].token, "0123456789abcdef0123456789abcdef");
        EXPECT_EQ(byId[plain->id].token, "");
        EXPECT_EQ(byId[plain->id].phase, JobPhase::Completed);
        EXPECT_NE(byId[plain->id].uuid, tokened->uuid);
    }
}

TEST(CupsPrintSurface, DotsArriveAtTheirDevicePixelsInTheirColoursAtEachResolution) {
    // Raster where the driver takes it (PWG straight to the printer; CUPS raster to a driver
    // filter), and the PDF every other queue gets.
    const struct {
        const char* queue;
        int dpi;
        const char* format;
    } cases[] = {{"Label-300", 300, kRaster},   {"QLS-4100-Xe", 600, kRaster},
                 {"Label-1200", 1200, kRaster}, {"Label-Raster", 600, kRaster},
                 {"QLS-4100-Xe", 600, kPdf},    {"Label-1200", 1200, kPdf}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.queue) + " " + c.format);
        CupsPrintSurface surface;
        surface.setRasterDocuments(c.format == kRaster);
        ASSERT_TRUE(selectPrinterByName(surface, c.queue));
        surface.setUnit(Unit::Pixel);
        const int w = 4 * c.dpi, h = 6 * c.dpi;  // 4 x 6 in labels
        std::vector<RasterDot> expected;
        auto plot = [&](float x, float y, ColorValue color, int ex, int ey) {
            surface.plot(x, y, color);
            expected.push_back(RasterDot{ex, ey, color});
        };
        for (int i = 0; i < 7; ++i) {
            plot(float(10 + 13 * i), float(7 + 5 * i), kPrintColors[i], 10 + 13 * i, 7 + 5 * i);
            // Neighbours in one row, and fractional positions floored.
            plot(float(150 + i) + 0.75f, 33.5f, kPrintColors[i], 150 + i, 33);
        }
        plot(0, 0, kPureGreen, 0, 0);
        plot(float(w - 1), float(h - 1), kPureBlue, w - 1, h - 1);
        plot(float(w - 1), 0, kPureRed, w - 1, 0);
        // Off the page: clipped, never wrapped or clamped onto the edge.
        for (auto [x, y] : {std::pair<float, float>{-1, 5},
                            {5, -1},
                            {float(w), 5},
                            {5, float(h)},
                            {-0.5f, -0.5f}}) {
            surface.plot(x, y, kBlack);
        }
        // A later dot over an earlier one wins.
        surface.plot(60, 60, kPureRed);
        plot(60, 60, kPureBlue, 60, 60);

        const Printed p = printAndCapture(surface, std::string("dots ") + c.queue);
        EXPECT_EQ(surface.lastSubmission().format, c.format);
        ASSERT_EQ(p.pages.size(), 1u);
        const RasterPage& page = p.pages[0];
        EXPECT_EQ(page.resX, unsigned(c.dpi));
        EXPECT_EQ(page.resY, unsigned(c.dpi));
        ASSERT_EQ(page.width, unsigned(w));
        ASSERT_EQ(page.height, unsigned(h));
        expectExactDots(page, expected);
    }
}

TEST(CupsPrintSurface, ADenseFieldOfRandomDotsArrivesExactly) {
    // A third of a large area in random pure and near colours, some dots plotted twice.
    CupsPrintSurface surface;
    ASSERT_TRUE(selectPrinterByName(surface, "QLS-4100-Xe")->matched);
    std::mt19937 rng(17);
    std::map<std::pair<int, int>, ColorValue> want;
    for (int y = 500; y < 1400; ++y) {
        for (int x = 300; x < 1500; ++x) {
            if (rng() % 10 >= 3) continue;
            const ColorValue c = kPrintColors[rng() % 7];
            surface.plot(float(x), float(y), c);
            want[{x, y}] = c;
        }
    }
    for (int i = 0; i < 5000; ++i) {
        const int x = 300 + int(rng() % 1200), y = 500 + int(rng() % 900);
        const ColorValue c = kPrintColors[rng() % 7];
        surface.plot(float(x), float(y), c);
        want[{x, y}] = c;
    }
    std::vector<RasterDot> expected;
    for (const auto& [pos, c] : want) expected.push_back({pos.first, pos.second, c});
    const Printed p = printAndCapture(surface, "dense dots");
    ASSERT_EQ(p.pages.size(), 1u);
    expectExactDots(p.pages[0], expected);
}

TEST(CupsPrintSurface, InchUnitCopiesAndPrintQualityReachTheJob) {
    CupsPrintSurface surface;
    ASSERT_TRUE(selectPrinterByName(surface, "QLS-4100-Xe")->matched);
    surface.setCopies(3);
    surface.setPrintQuality(1200);
    surface.setUnit(Unit::Inch);
    surface.plot(0.5f, 0.25f, kPureRed);  // (600, 300) at 1200 dpi
    surface.plot(1.0f, 2.0f, 0x00FF01);   // (1200, 2400)
    surface.setUnit(Unit::Pixel);         // now one unit is one 1200-dpi dot
    surface.plot(1201, 2400, kPureBlue);
    surface.plot(4799, 7199, kBlack);
    EXPECT_EQ(surface.documentDpi(), 1200);
    const std::vector<RasterDot> expected{{600, 300, kPureRed},
                                          {1200, 2400, 0x00FF01},
                                          {1201, 2400, kPureBlue},
                                          {4799, 7199, kBlack}};
    const Printed p = printAndCapture(surface, "three copies");
    ASSERT_EQ(p.pages.size(), 3u) << "copies arrive as repeated pages on this driver";
    for (const RasterPage& page : p.pages) {
        EXPECT_EQ(page.resX, 1200u);
        EXPECT_EQ(page.resY, 1200u);
        ASSERT_EQ(page.width, 4800u);
        ASSERT_EQ(page.height, 7200u);
        expectExactDots(page, expected);
    }
    // The raster holds the copies: the backend, handed the file, must not repeat it.
    EXPECT_EQ(test::readJobInfo("QLS-4100-Xe", p.id)["copies"], "1");

    // Copies and quality stay for the next job on the same printer...
    surface.plot(10, 10, kBlack);
    const Printed again = printAndCapture(surface, "still three");
    ASSERT_EQ(again.pages.size(), 3u);
    EXPECT_EQ(again.pages[0].resX, 1200u);

    // ...and selecting a printer resets them: one copy at the printer's own 600 dpi.
    ASSERT_TRUE(selectPrinterByName(surface, "QLS-4100-Xe")->matched);
    surface.plot(10, 10, kBlack);
    const Printed reset = printAndCapture(surface, "after select");
    ASSERT_EQ(reset.pages.size(), 1u);
    EXPECT_EQ(reset.pages[0].resX, 600u);
    expectExactDots(reset.pages[0], {{10, 10, kBlack}});
    EXPECT_EQ(test::readJobInfo("QLS-4100-Xe", reset.id)["copies"], "1");
}

TEST(CupsPrintSurface, StretchedPictureFillsItsRectangleWithExactColours) {
    // 63 x 79 picture pixels into 3.15 x 3.95 in at 1200 dpi: 60 x 60 dots per pixel.
    const int pw = 63, ph = 79;
    const ColorValue palette[] = {kBlack, kPureRed, kPureGreen, kPureBlue, 0x0000FE, 0x123456};
    std::mt19937 rng(11);
    std::vector<std::uint32_t> pixels(std::size_t(pw) * ph);
    std::vector<ColorValue> colors(pixels.size());
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        colors[i] = palette[rng() % 6];
        pixels[i] = colors[i] | 0xAB000000u;  // the top byte means nothing
    }
    for (const char* format : {kRaster, kPdf}) {
        SCOPED_TRACE(format);
        std::vector<std::uint32_t> drawn = pixels;
        CupsPrintSurface surface;
        surface.setRasterDocuments(format == kRaster);
        ASSERT_TRUE(selectPrinterByName(surface, "QLS-4100-Xe")->matched);
        surface.setPrintQuality(1200);
        surface.setUnit(Unit::Inch);
        surface.drawPicture(PictureView{drawn.data(), pw, ph, pw}, 0.5, 0.25, 3.15, 3.95, {});
        std::fill(drawn.begin(), drawn.end(), 0xFFFFFFFFu);  // the caller clears it

        const Printed p = printAndCapture(surface, "stretched picture");
        EXPECT_EQ(surface.lastSubmission().format, format);
        ASSERT_EQ(p.pages.size(), 1u);
        const RasterPage& page = p.pages[0];
        ASSERT_EQ(page.resX, 1200u);
        // The painted area is the rectangle (600, 300) .. (4379, 5039), within one dot.
        test::expectStretchedPicture(page, colors, pw, ph, 600, 300, 60);
    }
}

TEST(CupsPrintSurface, PictureAtOneDotPerPixelIsExactEverywhereAndDotsPaintInOrder) {
    const int pw = 301, ph = 203;
    std::mt19937 rng(5);
    std::vector<std::uint32_t> pixels(std::size_t(pw) * ph);
    for (auto& px : pixels) px = std::uint32_t(rng());  // every colour, garbage top byte

    CupsPrintSurface surface;
    ASSERT_TRUE(selectPrinterByName(surface, "QLS-4100-Xe")->matched);
    surface.setUnit(Unit::Pixel);
    surface.plot(40, 45, kPureGreen);  // under the picture: covered
    surface.plot(20, 20, kPureRed);    // beside it: stays
    surface.drawPicture(PictureView{pixels.data(), pw, ph, pw}, 37, 41, pw, ph, {});
    surface.plot(37, 41, kPureBlue);  // on top of the picture's first pixel
    surface.plot(500, 400, 0xFE0000);

    std::vector<RasterDot> expected;
    for (int y = 0; y < ph; ++y) {
        for (int x = 0; x < pw; ++x) {
            const ColorValue c = pixels[std::size_t(y) * pw + x] & 0xFFFFFF;
            if ((x != 0 || y != 0) && c != 0xFFFFFF) expected.push_back({37 + x, 41 + y, c});
        }
    }
    expected.push_back({37, 41, kPureBlue});
    expected.push_back({20, 20, kPureRed});
    expected.push_back({500, 400, 0xFE0000});
    std::fill(pixels.begin(), pixels.end(), 0u);

    const Printed p = printAndCapture(surface, "one dot per pixel");
    ASSERT_EQ(p.pages.size(), 1u);
    EXPECT_EQ(p.pages[0].resX, 600u);
    expectExactDots(p.pages[0], expected);
}

TEST(CupsPrintSurface, FailedAndAbortedDocumentsSendNothingAndAreClosed) {
    CupsPrintSurface surface;

    // A queue that rejects jobs.
    const std::string rejectDir = test::queueOutputDir("Label-Rejecting");
    const std::size_t before = filesIn(rejectDir);
    ASSERT_TRUE(selectPrinterByName(surface, "Label-Rejecting")->matched);
    surface.plot(5, 5, kPureRed);
    auto r = surface.endDocument("rejected", {});
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, ErrorKind::PrintServer);
    EXPECT_NE(r.error().message.find("not accepting"), std::string::npos) << r.error().message;

    // The refused document is gone: a good job afterwards holds only its own dots.
    ASSERT_TRUE(selectPrinterByName(surface, "QLS-4100-Xe")->matched);
    surface.plot(7, 8, kPureBlue);
    const Printed first = printAndCapture(surface, "after rejection");
    ASSERT_EQ(first.pages.size(), 1u);
    expectExactDots(first.pages[0], {{7, 8, kPureBlue}});

    // No copies: refused before anything reaches the server (no job id is used up).
    surface.setCopies(0);
    surface.plot(1, 1, kBlack);
    r = surface.endDocument("no copies", {});
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, ErrorKind::Invalid);
    surface.setCopies(-4);
    surface.plot(1, 1, kBlack);
    r = surface.endDocument("negative copies", {});
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, ErrorKind::Invalid);

    // A resolution the printer does not offer: the closest one it offers, said in the notice.
    surface.setCopies(1);
    surface.setPrintQuality(1000);
    surface.setUnit(Unit::Inch);
    surface.plot(0.5f, 0.25f, kBlack);
    EXPECT_EQ(surface.documentDpi(), 1200);
    const auto closest = surface.endDocument("odd resolution", {});
    ASSERT_TRUE(closest) << closest.error().message;
    EXPECT_NE(closest->notice.text().find("does not offer 1000 dpi: printed at 1200 dpi"),
              std::string::npos)
        << closest->notice.text();
    const Printed odd = test::captureJob(closest->text());
    ASSERT_EQ(odd.pages.size(), 1u);
    EXPECT_EQ(odd.pages[0].resX, 1200u);
    expectExactDots(odd.pages[0], {{600, 300, kBlack}});  // the same place in inches
    surface.setPrintQuality(0);
    surface.setUnit(Unit::Pixel);

    // Aborted: nothing sent, and the next document starts empty.
    surface.plot(3, 3, kPureRed);
    surface.abortDocument();
    // Abandoned half way through sending (the station closing): the request is left
    // unfinished, so the server makes no job of it.
    std::mt19937 rng(5);
    std::vector<ColorValue> row(2400);
    for (int y = 0; y < 600; ++y) {
        for (ColorValue& c : row) c = kPrintColors[rng() % 7];
        surface.plotRow(0, float(y), row.data(), row.size());
    }
    int asked = 0;
    r = surface.endDocument("abandoned", [&] { return ++asked < 3; });
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, ErrorKind::Aborted);
    EXPECT_EQ(asked, 3);
    surface.plot(9, 9, kPureGreen);
    const Printed second = printAndCapture(surface, "after abort");
    ASSERT_EQ(second.pages.size(), 1u);
    expectExactDots(second.pages[0], {{9, 9, kPureGreen}});
    EXPECT_EQ(second.id, odd.id + 1) << "a refused or aborted document created a job";

    // Nothing drawn, or nothing on the page: no job at all, so no blank label.
    auto blank = surface.endDocument("blank", {});
    ASSERT_TRUE(blank) << blank.error().message;
    EXPECT_FALSE(blank->submitted());
    surface.plot(-3, 5, kBlack);
    blank = surface.endDocument("off the page", {});
    ASSERT_TRUE(blank) << blank.error().message;
    EXPECT_FALSE(blank->submitted());

    EXPECT_EQ(filesIn(rejectDir), before);
}

TEST(CupsPrintSurface, UnknownQueueAndUnreachableServerAreServerErrors) {
    CupsPrintSurface surface;
    surface.select(PrinterInfo{"No-Such-Queue", "nowhere"});
    surface.plot(1, 1, kBlack);
    auto r = surface.endDocument("unknown queue", {});
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, ErrorKind::PrintServer);
    EXPECT_NE(r.error().message.find("No-Such-Queue"), std::string::npos) << r.error().message;

    const std::string bogus = test::cupsStateDir() + "/no-such-server.sock";
    CupsPrintSurface offline(bogus);
    EXPECT_FALSE(offline.printers());  // an error, never an empty list
    EXPECT_FALSE(offline.current());
    EXPECT_FALSE(selectPrinterByName(offline, "Office"));
    offline.plot(1, 1, kBlack);
    offline.drawPicture(PictureView{}, 0, 0, 1, 1, {});
    r = offline.endDocument("no server", {});
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, ErrorKind::PrintServer);
    EXPECT_NE(r.error().message.find(bogus), std::string::npos) << r.error().message;
    // Selected by hand, the queue still cannot be reached.
    offline.select(PrinterInfo{"Office", "Office colour printer"});
    offline.plot(1, 1, kBlack);
    r = offline.endDocument("still no server", {});
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, ErrorKind::PrintServer);

    // The real server is unaffected by the other surface.
    ASSERT_TRUE(surface.current());
    EXPECT_TRUE(selectPrinterByName(surface, "Office")->matched);
}

}  // namespace
}  // namespace plx

namespace plx {
namespace {

// A queue without a driver states no resolution or page size of its own: the document is
// still laid out (600 dpi) and sent, not refused.
TEST(CupsPrintSurface, QueueWithoutDriverStillGetsTheDocument) {
    const std::string queue = "Raw-Label";
    const auto made = test::lpadmin({"-p", queue, "-D", "Raw label printer", "-E", "-v",
                                     "capture:" + test::queueOutputDir(queue), "-m", "raw"});
    ASSERT_EQ(made.exitCode, 0) << made.output;
    struct Remove {
        std::string q;
        ~Remove() { test::lpadmin({"-x", q}); }
    } remove{queue};
    CupsPrintSurface surface;
    ASSERT_TRUE(selectPrinterByName(surface, "raw label printer")->matched);
    surface.setUnit(Unit::Pixel);
    surface.plot(3, 4, kPureRed);
    const auto id = surface.endDocument("raw job", {});
    ASSERT_TRUE(id) << id.error().message;
    const int n = id->id;
    const std::string path = test::waitForJobRaster(queue, n, test::kJobTimeoutMs);
    ASSERT_FALSE(path.empty());
    std::ifstream in(path, std::ios::binary);
    std::string head(5, '\0');
    in.read(head.data(), 5);
    EXPECT_EQ(head, "%PDF-");  // a raw queue hands the document over unchanged
}

}  // namespace
}  // namespace plx

namespace plx {
namespace {

// The raster the station sends is the driver's own input: no filter the server could choose
// stands between it and the device (a PDF's rasteriser is whichever costs least, and poppler's
// would smooth pictures).
TEST(CupsPrintSurface, RasterRouteMeetsNoRasteriserOnTheServer) {
    auto chain = [](const std::string& queue, const std::string& type) {
        const std::string conf = test::cupsStateDir() + "/conf/";
        const test::ToolRun r = test::runCupsTool(
            {"cupsfilter", "-c", conf + "cups-files.conf", "-p", conf + "ppd/" + queue + ".ppd",
             "-e", "-m", "printer/" + queue, "-i", type, "--list-filters", "/dev/null"});
        EXPECT_EQ(r.exitCode, 0) << r.output;
        std::vector<std::string> filters;
        std::istringstream in(r.output);
        for (std::string l; std::getline(in, l);) {
            if (!l.empty() && l.rfind("cupsfilter:", 0) != 0) filters.push_back(l);
        }
        return filters;
    };
    using Chain = std::vector<std::string>;
    EXPECT_EQ(chain("QLS-4100-Xe", "application/vnd.cups-raster"), Chain{});  // to the device
    EXPECT_EQ(chain("Label-Raster", "application/vnd.cups-raster"), Chain{"plx-topwg"});
    EXPECT_EQ(chain("QLS-4100-Xe", "application/pdf"), (Chain{"pdftopdf", "gstoraster"}));
}

}  // namespace
}  // namespace plx

namespace plx {
namespace {

// More job events than the server keeps (100 by default): the oldest are dropped, so the
// answer is not complete and the station looks every job up; then events are read again.
TEST(CupsPrintSurface, MoreJobEventsThanTheServerKeepsAskForALookAtEveryJob) {
    CupsPrintSurface surface;
    ASSERT_TRUE(surface.jobChanges());
    const std::string file = test::cupsStateDir() + "/events.txt";
    std::ofstream(file) << "x\n";
    auto heldJob = [&] {
        const test::ToolRun r =
            test::runCupsTool({"lp", "-d", "Office", "-H", "indefinite", "-t", "held", file});
        EXPECT_EQ(r.exitCode, 0) << r.output;
        const auto at = r.output.find("Office-");
        return at == std::string::npos ? -1 : std::atoi(r.output.c_str() + at + 7);
    };
    const int one = heldJob();
    ASSERT_EQ(test::runCupsTool({"cancel", "Office-" + std::to_string(one)}).exitCode, 0);
    const auto first = surface.jobChanges();
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->changed.contains(one));
    for (int i = 0; i < 110; ++i) heldJob();
    ASSERT_EQ(test::runCupsTool({"cancel", "-a", "Office"}).exitCode, 0);
    const auto overflowed = surface.jobChanges();
    ASSERT_TRUE(overflowed);
    EXPECT_FALSE(overflowed->complete);
    const auto after = surface.jobChanges();
    ASSERT_TRUE(after);
    EXPECT_TRUE(after->complete && after->changed.empty());
}

// What a round asks once is asked once, but a queue that was stopped between two jobs of one
// round gets no second job; and a driver changed between two jobs is the next job's route.
TEST(CupsPrintSurface, QueueStoppedOrItsDriverChangedBetweenTwoJobsIsSeenAtTheSecond) {
    const std::string queue = "Label-Changing";
    const std::string ppds = test::cupsStateDir() + "/ppd-src/";
    const auto made =
        test::lpadmin({"-p", queue, "-D", "Label printer that changes", "-E", "-v",
                       "capture:" + test::queueOutputDir(queue), "-P", ppds + "label-600.ppd"});
    ASSERT_EQ(made.exitCode, 0) << made.output;
    struct Remove {
        std::string q;
        ~Remove() { test::lpadmin({"-x", q}); }
    } remove{queue};
    CupsPrintSurface surface;
    auto job = [&](const std::string& name) {
        const auto check = checkPrinter(surface, queue);
        EXPECT_TRUE(check) << (check ? "" : check.error().message);
        if (!check || check->state.blocksJobs()) return std::string("blocked");
        if (!selectPrinterByName(surface, queue)) return std::string("not selected");
        surface.setUnit(Unit::Pixel);
        surface.plot(2, 2, kBlack);
        const auto r = surface.endDocument(name, {});
        return r ? surface.lastSubmission().format : r.error().message;
    };
    EXPECT_EQ(job("first"), kRaster);
    ASSERT_EQ(test::cupsDisable(queue, "out of labels").exitCode, 0);
    EXPECT_EQ(job("second"), "blocked");
    // Asked to print anyway, the surface itself refuses: no job waits in a stopped queue.
    surface.plot(2, 2, kBlack);
    const auto refused = surface.endDocument("stopped", {});
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, ErrorKind::PrintServer);
    EXPECT_NE(refused.error().message.find("\" is stopped"), std::string::npos)
        << refused.error().message;
    ASSERT_EQ(test::cupsEnable(queue).exitCode, 0);
    surface.idle();

    // The same PPD without its raster line: the driver now takes only PDF.
    std::ifstream in(ppds + "label-600.ppd");
    std::ofstream out(ppds + "label-600-pdf-only.ppd");
    for (std::string l; std::getline(in, l);) {
        if (l.rfind("*cupsFilter", 0) != 0) out << l << "\n";
    }
    out << "*cupsFilter2: \"application/pdf application/vnd.cups-pdf 0 -\"\n";
    out.close();
    EXPECT_EQ(job("before the change"), kRaster);
    ASSERT_EQ(test::lpadmin({"-p", queue, "-P", ppds + "label-600-pdf-only.ppd"}).exitCode, 0);
    EXPECT_EQ(job("after the change"), kPdf);
}

// A print server that stops answering for a while holds up the request, not the window: the
// wait pace runs all along, and the request is answered once the server is back.
TEST(CupsPrintSurface, ServerThatStopsAnsweringLetsTheWindowRun) {
    CupsPrintSurface surface;
    int paced = 0;
    surface.setWaitPace([&] {
        ++paced;
        return true;
    });
    const pid_t server = test::cupsServerPid();
    ASSERT_GT(server, 0);
    ASSERT_EQ(::kill(server, SIGSTOP), 0);
    std::thread resume([server] {
        std::this_thread::sleep_for(1500ms);
        ::kill(server, SIGCONT);
    });
    const auto listed = surface.printers();
    resume.join();
    ASSERT_TRUE(listed) << listed.error().message;
    EXPECT_FALSE(listed->empty());
    EXPECT_GE(paced, 30) << "about fifty a second while the server said nothing";

    // Told to stop, the request is given up.
    surface.idle();
    ASSERT_EQ(::kill(server, SIGSTOP), 0);
    surface.setWaitPace([] { return false; });
    const auto given = surface.printers();
    ::kill(server, SIGCONT);
    ASSERT_FALSE(given);
    EXPECT_EQ(given.error().kind, ErrorKind::Aborted);
}

}  // namespace
}  // namespace plx
