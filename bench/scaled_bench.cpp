// Mode "3": printScaledImage at print quality 1200 over the real CupsPrintSurface, for the
// 2400 x 3000 picture with 30 % print colours: time and document bytes, for the raster the
// queue's driver takes (/1) and for the PDF other queues get (/0).
//
//   scaled_bench [google benchmark flags]
//   env: CUPS_SERVER (the private server), PLIXAGRAM_CUPS_STATE (its state folder)
//
// Jobs go to the Label-1200 queue, held for the run so that the server keeps them
// unprocessed (no filter competes with the figures); they are cancelled at the end. Once,
// before timing, each document the server spooled is read back from its spool folder: the
// PDF's embedded image inflated and compared with the picture pixel for pixel, the raster's
// every dot compared with the picture pixel under its centre.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "bench/bench_support.h"
#include "cups/cups_print_surface.h"
#include "tools/raster_pages.h"

namespace plx::bench {
namespace {

const Picture& picture() { return standardPicture(); }

const PrintJob kJob{"Label-1200", "0", "0", "scaled"};

struct Submitted {
    Result<JobRef> job;
    SubmissionFigures figures;
};

Submitted submitOnce(bool raster) {
    BufferArea area(picture());
    CupsPrintSurface surface;
    surface.setRasterDocuments(raster);
    QuietHost host;
    auto job = printScaledImage(surface, area, host, kJob, 1);
    return {std::move(job), surface.lastSubmission()};
}

// 3.15 x 3.95 in at 1200 dpi from the top-left: each dot the picture pixel under its centre.
bool verifyRaster(const std::string& bytes, const char* name, std::string& why) {
    auto pages = readRaster(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                            "the document");
    if (!pages || pages->size() != 1) {
        why = pages ? "not one page" : pages.error().message;
        return false;
    }
    const RasterPage& page = (*pages)[0];
    const Picture& pic = picture();
    const double w = kLabelWidthInches * 1200.0, h = kLabelHeightInches * 1200.0;
    for (unsigned y = 0; y < page.height; ++y)
        for (unsigned x = 0; x < page.width; ++x) {
            const bool in = x + 0.5 < w && y + 0.5 < h;
            const ColorValue want =
                in ? pic.view().at(int((x + 0.5) * pic.width / w), int((y + 0.5) * pic.height / h))
                   : 0xFFFFFF;
            if (page.pixel(x, y) != want) {
                why = "dot " + std::to_string(x) + "," + std::to_string(y) + " differs";
                return false;
            }
        }
    std::printf("spooled raster %s: %zu bytes, %u x %u dots at %u dpi: every dot exact\n", name,
                bytes.size(), page.width, page.height, page.resX);
    return true;
}

bool verifyLossless(const std::string& jobId, std::string& why) {
    const char* state = std::getenv("PLIXAGRAM_CUPS_STATE");
    const auto dash = jobId.rfind('-');
    if (state == nullptr || dash == std::string::npos) {
        why = "PLIXAGRAM_CUPS_STATE is not set or the job id has no number";
        return false;
    }
    char name[64];
    std::snprintf(name, sizeof name, "/spool/d%05d-001", std::atoi(jobId.c_str() + dash + 1));
    std::ifstream in(std::string(state) + name, std::ios::binary);
    if (!in) {
        why = std::string("cannot read the spooled document ") + state + name;
        return false;
    }
    const std::string pdf((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (pdf.compare(0, 5, "%PDF-") != 0) return verifyRaster(pdf, name + 1, why);
    const std::vector<PdfImage> images = pdfImages(pdf);
    if (images.size() != 1 || images[0].indexed) {
        why = "expected one RGB image, found " + std::to_string(images.size());
        return false;
    }
    const PdfImage& img = images[0];
    const Picture& pic = picture();
    if (img.width != pic.width || img.height != pic.height) {
        why = "the image is " + std::to_string(img.width) + " x " + std::to_string(img.height);
        return false;
    }
    for (int y = 0; y < pic.height; ++y)
        for (int x = 0; x < pic.width; ++x)
            if (img.at(x, y) != pic.view().at(x, y)) {
                why = "pixel " + std::to_string(x) + "," + std::to_string(y) + " differs";
                return false;
            }
    std::printf(
        "spooled document %s: %zu bytes, its image decoded back: all %d x %d pixels "
        "exact\n",
        name + 1, pdf.size(), pic.width, pic.height);
    return true;
}

void ScaledImage(benchmark::State& state) {
    double build = 0.0, submit = 0.0;
    std::size_t bytes = 0;
    for (auto _ : state) {
        Submitted s = submitOnce(state.range(0) != 0);
        if (!s.job) {
            state.SkipWithError(s.job.error().message.c_str());
            return;
        }
        build += s.figures.buildSeconds;
        submit += s.figures.submitSeconds;
        bytes = s.figures.documentBytes;
    }
    state.counters["bytes"] = double(bytes);
    state.counters["build_s"] = benchmark::Counter(build, benchmark::Counter::kAvgIterations);
    state.counters["submit_s"] = benchmark::Counter(submit, benchmark::Counter::kAvgIterations);
}

BENCHMARK(ScaledImage)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

int sh(const std::string& cmd) {
    const int rc = std::system(cmd.c_str());
    if (rc != 0) std::fprintf(stderr, "scaled_bench: \"%s\" failed (%d)\n", cmd.c_str(), rc);
    return rc;
}

}  // namespace
}  // namespace plx::bench

int main(int argc, char** argv) {
    using namespace plx::bench;
    if (std::getenv("CUPS_SERVER") == nullptr) {
        std::fprintf(stderr, "scaled_bench: CUPS_SERVER must name the private print server\n");
        return 2;
    }
    // Held, not stopped: the surface refuses a stopped queue, and a held job keeps its file.
    if (sh("lpadmin -p Label-1200 -o job-hold-until-default=indefinite") != 0) return 1;
    struct Restore {
        ~Restore() { sh("cancel -a Label-1200; lpadmin -p Label-1200 -R job-hold-until-default"); }
    } restore;

    for (bool raster : {true, false}) {
        Submitted first = submitOnce(raster);
        if (!first.job) {
            std::fprintf(stderr, "scaled_bench: %s\n", first.job.error().message.c_str());
            return 1;
        }
        std::string why;
        if (!verifyLossless(first.job->text(), why)) {
            std::fprintf(stderr, "scaled_bench: the mode 3 document (%s) is not exact: %s\n",
                         first.figures.format.c_str(), why.c_str());
            return 1;
        }
    }

    MedianReporter reporter;
    if (!runBenchmarks(&argc, argv, reporter)) return 1;
    for (const char* which : {"ScaledImage/1", "ScaledImage/0"}) {
        const std::string route = which[12] == '1' ? "raster" : "PDF";
        const double t = reporter.seconds(which);
        char m[200];
        std::snprintf(m, sizeof m, "%.3f s (document %.3f s, submit %.3f s)", t,
                      reporter.counter(which, "build_s"), reporter.counter(which, "submit_s"));
        printFigure("Scaled picture (mode 3, 1200 dpi), " + route + ": time", "(reported)", m,
                    std::nullopt);
        std::snprintf(m, sizeof m, "%.3f MB", reporter.counter(which, "bytes") / 1e6);
        printFigure("Scaled picture (mode 3, 1200 dpi), " + route + ": size", "(reported)", m,
                    std::nullopt);
    }
    printFigure("Scaled picture (mode 3, 1200 dpi): exact", "every dot / pixel as drawn",
                "exact (raster and PDF)", true);
    return 0;
}
