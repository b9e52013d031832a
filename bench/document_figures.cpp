// Size and build time of the label document, and the time to hand it to the print server.
//
//   document_figures [QUEUE]
//
// Builds (1) a 600-dpi label with 100,000 random dots and (2) 2400 x 3000 positions with
// 30 % random pure colours (about 2.16 million dots). With QUEUE (on the server CUPS_SERVER
// names) both also go through the real print surface a row at a time and are submitted, with
// the time of each step of the station's share.
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "cups/cups_print_surface.h"
#include "document/label_document.h"
#include "printing/printer_choice.h"

namespace {

using Clock = std::chrono::steady_clock;
double since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

struct Dot {
    int x, y;
    plx::ColorValue color;
};

std::vector<Dot> sparseDots(std::size_t count, int w, int h) {
    std::mt19937 rng(1);
    const plx::ColorValue colors[] = {plx::kBlack, plx::kPureRed, plx::kPureGreen, plx::kPureBlue};
    std::vector<Dot> dots(count);
    for (auto& d : dots) {
        d = Dot{int(rng() % unsigned(w)), int(rng() % unsigned(h)), colors[rng() % 4]};
    }
    return dots;
}

std::vector<Dot> denseDots(int w, int h, double share) {
    std::mt19937 rng(2);
    std::uniform_real_distribution<double> coin(0.0, 1.0);
    const plx::ColorValue colors[] = {plx::kBlack, plx::kPureRed, plx::kPureGreen, plx::kPureBlue};
    std::vector<Dot> dots;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (coin(rng) < share) dots.push_back(Dot{x, y, colors[rng() % 4]});
    return dots;
}

void figures(const char* what, const std::vector<Dot>& dots, const char* queue) {
    const plx::LabelPage page{288.0, 432.0, 600};
    auto t0 = Clock::now();
    plx::LabelDocument doc(page);
    for (const Dot& d : dots) doc.plot(d.x, d.y, d.color);
    const double plotS = since(t0);
    t0 = Clock::now();
    const std::string pdf = doc.toPdf();
    const double buildS = since(t0);
    std::printf("%s: %zu dots, plot %.3f s, build %.3f s, document %zu bytes (%.2f MB)\n", what,
                dots.size(), plotS, buildS, pdf.size(), double(pdf.size()) / 1e6);

    if (queue == nullptr) return;
    // The station's share of the job through the real surface, split into its steps: choosing
    // the printer (the server's printer list), opening the document (page set-up and the
    // route: the server's answers), handing over the rows, compressing, submitting.
    std::vector<plx::ColorValue> rows(std::size_t(2400) * 3600, plx::kNoDot);
    for (const Dot& d : dots) rows[std::size_t(d.y) * 2400 + std::size_t(d.x)] = d.color;
    plx::CupsPrintSurface surface;
    t0 = Clock::now();
    if (!plx::selectPrinterByName(surface, queue)) {
        std::printf("  no printer %s\n", queue);
        return;
    }
    const double selectS = since(t0);
    surface.setUnit(plx::Unit::Pixel);
    t0 = Clock::now();
    surface.plotRow(0, 0, rows.data(), 2400);
    const double openS = since(t0);
    t0 = Clock::now();
    for (int y = 1; y < 3600; ++y) surface.plotRow(0, float(y), &rows[std::size_t(y) * 2400], 2400);
    const double rowsS = since(t0);
    auto r = surface.endDocument(what, {});
    const auto& f = surface.lastSubmission();
    if (!r) {
        std::printf("  submit failed: %s\n", r.error().message.c_str());
        return;
    }
    std::printf(
        "  job %s as %s (%s): select %.3f s, open %.3f s, rows %.3f s, build %.3f s, submit "
        "%.3f s (the Print-Job request), %zu bytes\n",
        r->text().c_str(), f.format.c_str(), f.route.c_str(), selectS, openS, rowsS, f.buildSeconds,
        f.submitSeconds, f.documentBytes);
}

}  // namespace

int main(int argc, char** argv) {
    const char* queue = argc > 1 ? argv[1] : nullptr;
    figures("100k dots on a 600-dpi label", sparseDots(100000, 2400, 3600), queue);
    figures("2400x3000, 30 % pure colours", denseDots(2400, 3000, 0.30), queue);
    return 0;
}
