// Size and build time of the label document, and the time to hand it to the print server.
//
//   document_figures [QUEUE]
//
// Builds (1) a 600-dpi label with 100,000 random dots and (2) 2400 x 3000 positions with
// 30 % random pure colours (about 2.16 million dots). With QUEUE (on the server CUPS_SERVER
// names) both are also submitted as jobs and the submit time is reported.
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "platform/cups_print_surface.h"
#include "platform/label_document.h"

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
    plx::CupsPrintSurface surface;
    surface.select(plx::PrinterInfo{queue, ""});
    surface.setUnit(plx::Unit::Pixel);
    for (const Dot& d : dots) surface.plot(float(d.x), float(d.y), d.color);
    auto r = surface.endDocument(what);
    const auto& f = surface.lastSubmission();
    if (!r) {
        std::printf("  submit failed: %s\n", r.error().message.c_str());
        return;
    }
    std::printf(
        "  job %s: document %zu bytes, build %.3f s, submit %.3f s (the Print-Job request)\n",
        r->text().c_str(), f.documentBytes, f.buildSeconds, f.submitSeconds);
}

}  // namespace

int main(int argc, char** argv) {
    const char* queue = argc > 1 ? argv[1] : nullptr;
    figures("100k dots on a 600-dpi label", sparseDots(100000, 2400, 3600), queue);
    figures("2400x3000, 30 % pure colours", denseDots(2400, 3000, 0.30), queue);
    return 0;
}
