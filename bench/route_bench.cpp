// The documents the station could send for one dense label, each through the private print
// server to the raster at the backend: how long the server takes, and whether every dot of
// the raster is the label's.
//
//   route_bench [REPS]      (CUPS_SERVER and PLIXAGRAM_CUPS_STATE: the private server)
//
// The label: the benchmarks' 2400 x 3000 picture (30 % random pure black/red/green/blue)
// placed 1:1 at the top-left of a 4 x 6 in, 600-dpi page. Every candidate is built once in
// this process (build time reported apart), then submitted REPS times in turn with the same
// plain libcups calls, so the times differ only by the server's route. The `lp` peer sends
// the picture as an 8-bit palette BMP (auto-typed, imagetoraster, scaled to the page).
#include <cups/cups.h>

#include <QBuffer>
#include <QImage>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "cups/document_route.h"
#include "document/label_document.h"
#include "tools/raster_pages.h"

namespace plx::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "route_bench: %s\n", why.c_str());
    std::exit(1);
}

const LabelPage kPage{288.0, 432.0, 600};

struct Candidate {
    std::string name;
    std::string queue;
    std::string format;  // CUPS_FORMAT_AUTO for "let the server type it"
    std::vector<std::pair<std::string, std::string>> options;
    std::string bytes;
    double buildSeconds = 0.0;
    bool exactExpected = true;  // false: a peer that scales, not a station candidate
    std::vector<double> times;
    long wrongDots = -1;
    std::string note;
};

// The label's colour at a page dot.
ColorValue labelAt(int x, int y) {
    const Picture& p = standardPicture();
    if (x >= p.width || y >= p.height) return 0xFFFFFF;
    const ColorValue c = p.words[std::size_t(y) * std::size_t(p.width) + std::size_t(x)] & 0xFFFFFF;
    return isMainPrintColor(c) ? c : 0xFFFFFF;
}

std::string fromDocument(PrintDocument& doc, double& seconds) {
    const Picture& p = standardPicture();
    const auto t0 = Clock::now();
    std::vector<ColorValue> row(std::size_t(p.width));
    for (int y = 0; y < p.height; ++y) {
        keepMainPrintColors(p.view().row(y), row.size(), row.data());
        doc.plotRow(0, y, row.data(), row.size());
    }
    doc.finish({});
    std::string out;
    doc.writeTo(1, [&](const char* d, std::size_t n) {
        out.append(d, n);
        return true;
    });
    seconds = since(t0);
    return out;
}

std::string pagePng(double& seconds) {
    const auto t0 = Clock::now();
    QImage img(kPage.widthDots(), kPage.heightDots(), QImage::Format_RGB888);
    img.fill(Qt::white);
    for (int y = 0; y < img.height(); ++y) {
        uchar* line = img.scanLine(y);
        for (int x = 0; x < img.width(); ++x) {
            const ColorValue c = labelAt(x, y);
            line[3 * x] = redOf(c);
            line[3 * x + 1] = greenOf(c);
            line[3 * x + 2] = blueOf(c);
        }
    }
    img.setDotsPerMeterX(int(600 / 0.0254 + 0.5));
    img.setDotsPerMeterY(int(600 / 0.0254 + 0.5));
    QByteArray png;
    QBuffer buf(&png);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "PNG", 89);  // Qt maps quality 89 to zlib level 1: fast, still lossless
    seconds = since(t0);
    return png.toStdString();
}

// The picture as an 8-bit palette BMP (the peer's input, as a hot-folder user drops it).
std::string paletteBmp() {
    const Picture& p = standardPicture();
    const ColorValue palette[] = {0xFFFFFF, kBlack, kPureRed, kPureGreen, kPureBlue};
    const std::uint32_t rowBytes = (std::uint32_t(p.width) + 3) & ~3u;
    const std::uint32_t offset = 14 + 40 + 256 * 4;
    std::string b(offset + rowBytes * std::uint32_t(p.height), '\0');
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + std::size_t(i)] = char(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, std::uint32_t(b.size()));
    put32(10, offset);
    put32(14, 40);
    put32(18, std::uint32_t(p.width));
    put32(22, std::uint32_t(p.height));
    b[26] = 1;
    b[28] = 8;
    put32(34, rowBytes * std::uint32_t(p.height));
    put32(46, 256);
    for (int i = 0; i < 5; ++i) {
        b[54 + 4 * std::size_t(i)] = char(blueOf(palette[i]));
        b[55 + 4 * std::size_t(i)] = char(greenOf(palette[i]));
        b[56 + 4 * std::size_t(i)] = char(redOf(palette[i]));
    }
    for (int y = 0; y < p.height; ++y) {
        char* row = b.data() + offset + std::size_t(p.height - 1 - y) * rowBytes;
        for (int x = 0; x < p.width; ++x) {
            const ColorValue c = labelAt(x, y);
            row[x] = char(std::find(palette, palette + 5, c) - palette);
        }
    }
    return b;
}

// Submits the bytes as one job; its id, or 0.
int submit(const Candidate& c, int n) {
    http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC,
                                HTTP_ENCRYPTION_IF_REQUESTED, 1, 30000, nullptr);
    if (http == nullptr) fail("cannot reach the print server");
    cups_option_t* options = nullptr;
    int count = 0;
    for (const auto& [k, v] : c.options)
        count = cupsAddOption(k.c_str(), v.c_str(), count, &options);
    const std::string title = "route " + std::to_string(n);
    const int id = cupsCreateJob(http, c.queue.c_str(), title.c_str(), count, options);
    bool ok = id > 0 && cupsStartDocument(http, c.queue.c_str(), id, title.c_str(),
                                          c.format.c_str(), 1) == HTTP_STATUS_CONTINUE;
    for (std::size_t off = 0; ok && off < c.bytes.size(); off += 1 << 18) {
        ok = cupsWriteRequestData(http, c.bytes.data() + off,
                                  std::min<std::size_t>(1 << 18, c.bytes.size() - off)) ==
             HTTP_STATUS_CONTINUE;
    }
    ok = ok && cupsFinishDocument(http, c.queue.c_str()) <= IPP_STATUS_OK_CONFLICTING;
    cupsFreeOptions(count, options);
    httpClose(http);
    return ok ? id : 0;
}

fs::path rasterOf(const std::string& queue, int id) {
    const char* state = std::getenv("PLIXAGRAM_CUPS_STATE");
    if (state == nullptr) fail("PLIXAGRAM_CUPS_STATE is not set");
    return fs::path(state) / "output" / queue / ("job-" + std::to_string(id) + ".pwg");
}

void run(Candidate& c, int n) {
    const auto t0 = Clock::now();
    const int id = submit(c, n);
    if (id <= 0) fail(c.name + ": the server refused the job: " + cupsLastErrorString());
    const fs::path raster = rasterOf(c.queue, id);
    while (!fs::exists(raster)) {
        if (since(t0) > 300) fail(c.name + ": no raster within 300 s");
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    c.times.push_back(since(t0));
    if (c.wrongDots >= 0) return;  // checked once
    auto pages = readRaster(raster.string());
    if (!pages || pages->empty()) fail(c.name + ": unreadable raster");
    const RasterPage& page = (*pages)[0];
    if (int(page.width) != kPage.widthDots() || int(page.height) != kPage.heightDots()) {
        c.wrongDots = long(page.width) * page.height;
        c.note = "raster " + std::to_string(page.width) + " x " + std::to_string(page.height);
        return;
    }
    long wrong = 0;
    for (unsigned y = 0; y < page.height; ++y)
        for (unsigned x = 0; x < page.width; ++x)
            wrong += page.pixel(x, y) != labelAt(int(x), int(y));
    c.wrongDots = wrong;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

}  // namespace
}  // namespace plx::bench

int main(int argc, char** argv) {
    using namespace plx;
    using namespace plx::bench;
    const int reps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string pdfFormat = "application/pdf";
    const std::vector<std::pair<std::string, std::string>> resolution{
        {"Resolution", "600dpi"}, {"print-color-mode", "color"}};
    const std::string media = "na_index-4x6_4x6in";
    const std::vector<std::pair<std::string, std::string>> job{
        {"Resolution", "600dpi"},  {"printer-resolution", "600dpi"}, {"print-color-mode", "color"},
        {"print-scaling", "none"}, {"fit-to-page", "false"},         {"media", media}};
    std::vector<Candidate> cs;
    auto add = [&](std::string name, std::string queue, std::string format, std::string bytes,
                   double build) -> Candidate& {
        Candidate c;
        c.name = std::move(name);
        c.queue = std::move(queue);
        c.format = std::move(format);
        c.options = job;
        c.bytes = std::move(bytes);
        c.buildSeconds = build;
        cs.push_back(std::move(c));
        return cs.back();
    };

    double s = 0.0;
    auto pdfDoc = makePrintDocument(DocumentRoute{}, kPage);
    const std::string pdf = fromDocument(*pdfDoc, s);
    add("PDF (pdftopdf, gstoraster)", "QLS-4100-Xe", "application/pdf", pdf, s);
    add("PDF as vnd.cups-pdf (gstoraster, no pdftopdf)", "QLS-4100-Xe", "application/vnd.cups-pdf",
        pdf, s);
    add("PDF to the CUPS-raster driver", "Label-Raster", "application/pdf", pdf, s);
    const std::string png = pagePng(s);

    Candidate& pngC =
        add("PNG, 600 ppi at top-left (imagetoraster)", "QLS-4100-Xe", "image/png", png, s);
    // imagetoraster honours ppi only without print-scaling=none (which the PDF needs).
    pngC.options = {{"Resolution", "600dpi"},
                    {"print-color-mode", "color"},
                    {"media", media},
                    {"ppi", "600"},
                    {"position", "top-left"}};
    auto pwgDoc = makePrintDocument(pwgRoute(kPage, true), kPage);
    const std::string pwg = fromDocument(*pwgDoc, s);
    add("PWG raster as image/pwg-raster", "QLS-4100-Xe", "image/pwg-raster", pwg, s);
    add("PWG raster as vnd.cups-raster (station: generic PWG)", "QLS-4100-Xe",
        "application/vnd.cups-raster", pwg, s);
    {
        http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC,
                                    HTTP_ENCRYPTION_IF_REQUESTED, 1, 30000, nullptr);
        if (http == nullptr) fail("cannot reach the print server");
        const DocumentRoute route = routeForQueue(http, "Label-Raster", kPage, media);
        httpClose(http);
        if (!route.raster) fail("Label-Raster gets no raster: " + route.reason);
        auto doc = makePrintDocument(route, kPage);
        const std::string cupsRaster = fromDocument(*doc, s);
        add("CUPS raster to the driver (station: raster driver)", "Label-Raster", route.format,
            cupsRaster, s);
    }
    const std::string bmp = paletteBmp();
    for (const char* q : {"QLS-4100-Xe", "Label-Raster"}) {
        Candidate& c = add(std::string("lp peer: 8-bit BMP, auto-typed, to ") + q, q,
                           CUPS_FORMAT_AUTO, bmp, 0.0);
        c.options.clear();  // what `lp -d QUEUE file` sends
        c.exactExpected = false;
    }

    for (int n = 0; n < reps; ++n)
        for (Candidate& c : cs) run(c, n);

    std::printf(
        "\n%d runs each, interleaved; server = submit start .. raster stored by the "
        "backend\n",
        reps);
    std::printf(
        "ROUTE | candidate | queue | bytes | build s | server s (median) | runs | "
        "raster vs label\n");
    for (const Candidate& c : cs) {
        std::string runs;
        for (double t : c.times) {
            char one[32];
            std::snprintf(one, sizeof one, runs.empty() ? "%.3f" : " %.3f", t);
            runs += one;
        }
        const std::string exact = c.wrongDots == 0
                                      ? "exact"
                                      : std::to_string(c.wrongDots) + " dots differ" +
                                            (c.note.empty() ? "" : " (" + c.note + ")") +
                                            (c.exactExpected ? "" : ", scaled peer");
        std::printf("ROUTE | %s | %s | %.2f MB | %.3f | %.3f | %s | %s\n", c.name.c_str(),
                    c.queue.c_str(), double(c.bytes.size()) / 1e6, c.buildSeconds, median(c.times),
                    runs.c_str(), exact.c_str());
    }
    for (const Candidate& c : cs)
        if (c.exactExpected && c.name.find("station") != std::string::npos && c.wrongDots != 0)
            fail(c.name + ": the station's route is not exact");
    return 0;
}
