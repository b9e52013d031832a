// Mode "1" scan: every pixel of a 2400 x 3000 picture with 30 % print colours looked at, each
// print-coloured one plotted. Beside it a plain sum over the same words, the speed of memory.
//
//   scan_bench [google benchmark flags]     (CUPS_SERVER: the private server, for PlotCups)
//
// ScanCounting   printDotReplication over a surface that only counts the dots of the rows it
//                is handed: the scan.
// ScanPlotCups   the same over the real CupsPrintSurface (page set up by the print server
//                before the clock runs, the rows drawn into the queue's raster page), dropped
//                unsubmitted at the end.
// PlotDocument   the PDF label document's dot collection alone (the route of queues that get
//                no raster), fed straight from the picture.
// RowCollect     not the station's code: a row at a time, the print-coloured columns gathered
//                without a branch or a call per pixel.
#include <cstdio>
#include <numeric>

#include "bench/bench_support.h"
#include "cups/cups_print_surface.h"
#include "document/label_document.h"
#include "printing/printer_choice.h"

namespace plx::bench {
namespace {

const Picture& picture() { return standardPicture(); }

const PrintJob kJob{"QLS-4100 Xe drivers standard", "0", "0", "scan"};

void pixelCounters(benchmark::State& state) {
    const auto pixels = std::int64_t(picture().words.size());
    state.SetItemsProcessed(state.iterations() * pixels);
    state.counters["px_per_s"] = benchmark::Counter(double(state.iterations()) * double(pixels),
                                                    benchmark::Counter::kIsRate);
}

void PlainRead(benchmark::State& state) {
    const Picture& p = picture();
    for (auto _ : state) {
        std::uint64_t sum = 0;
        for (std::uint32_t w : p.words) sum += w;
        benchmark::DoNotOptimize(sum);
    }
    pixelCounters(state);
}

// A print surface that keeps nothing but a count: what remains is the scan itself.
class CountingSurface : public PrintSurface {
  public:
    Result<std::vector<PrinterInfo>> printers() override {
        return std::vector<PrinterInfo>{{"QLS-4100-Xe", std::string(kJob.printerName)}};
    }
    void select(const PrinterInfo& p) override { m_current = p; }
    Result<PrinterInfo> current() override {
        if (!m_current) return makeError(ErrorKind::PrintServer, "none");
        return *m_current;
    }
    Result<QueueState> queueState() override { return QueueState{}; }
    Result<std::vector<JobStatus>> jobs(const std::string&, int) override {
        return std::vector<JobStatus>{};
    }
    void setCopies(std::int16_t) override {}
    void setUnit(Unit) override {}
    void setPrintQuality(int) override {}
    void plot(float x, float y, ColorValue c) override {
        ++dots;
        checksum += std::uint64_t(x) + std::uint64_t(y) + c;
    }
    // The rows the scan hands over, each dot counted and summed (kept from being optimised
    // away), without a call per dot.
    void plotRow(std::int64_t x0, float y, const ColorValue* colours, std::size_t count) override {
        std::size_t n = 0;
        std::uint64_t sum = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const bool dot = isDot(colours[i]);
            n += dot;
            sum += dot ? colours[i] : 0u;
        }
        dots += n;
        checksum += sum + std::uint64_t(x0) + std::uint64_t(y);
    }
    void drawPicture(const PictureView&, double, double, double, double,
                     const KeepGoing&) override {}
    Result<JobRef> endDocument(const std::string&, const KeepGoing&) override {
        return JobRef{"counted", 1, {}};
    }
    void abortDocument() override {}
    std::size_t dots = 0;
    std::uint64_t checksum = 0;

  private:
    std::optional<PrinterInfo> m_current;
};

void ScanCounting(benchmark::State& state) {
    BufferArea area(picture());
    QuietHost host;
    CountingSurface surface;
    const std::size_t expected = picture().printDots();
    for (auto _ : state) {
        area.rearm();
        surface.dots = 0;
        auto r = printDotReplication(surface, area, host, kJob, 1, DotMode::Full);
        if (!r || surface.dots != expected) {
            state.SkipWithError("the scan plotted the wrong number of dots");
            return;
        }
        benchmark::DoNotOptimize(surface.checksum);
    }
    pixelCounters(state);
    state.counters["dots"] = double(surface.dots);
}

// Drops the document at the end like UnsubmittedSurface, after noting how it was laid out.
// The print server's answers (printer list, page set-up) are not the scan's: the list is
// asked once, and open() sets the page up before the clock runs.
class CheckedSurface : public UnsubmittedSurface {
  public:
    explicit CheckedSurface(CupsPrintSurface& cups)
        : UnsubmittedSurface(cups), m_cups(cups), m_printers(cups.printers()) {}
    Result<std::vector<PrinterInfo>> printers() override { return m_printers; }
    void open() { m_cups.plot(-1.0f, -1.0f, kBlack); }  // off the page: only opens
    Result<JobRef> endDocument(const std::string& name, const KeepGoing& pace) override {
        lastDpi = m_cups.documentDpi();
        lastFormat = m_cups.lastSubmission().format;
        return UnsubmittedSurface::endDocument(name, pace);
    }
    int lastDpi = 0;
    std::string lastFormat;

  private:
    CupsPrintSurface& m_cups;
    Result<std::vector<PrinterInfo>> m_printers;
};

void ScanPlotCups(benchmark::State& state) {
    BufferArea area(picture());
    QuietHost host;
    CupsPrintSurface cups;
    CheckedSurface surface(cups);
    for (auto _ : state) {
        state.PauseTiming();
        area.rearm();
        if (!selectPrinterByName(surface, kJob.printerName)) {
            state.SkipWithError("the print server cannot list its printers");
            return;
        }
        surface.open();
        state.ResumeTiming();
        auto r = printDotReplication(surface, area, host, kJob, 1, DotMode::Full);
        // 600 dpi means the page came from the queue, not the blind fallback layout.
        if (!r || surface.lastDpi != 600) {
            state.SkipWithError(
                "the document was not laid out for the QLS-4100-Xe queue "
                "(is CUPS_SERVER the private server?)");
            return;
        }
    }
    pixelCounters(state);
}

void PlotDocument(benchmark::State& state) {
    const PictureView v = picture().view();
    std::size_t dots = 0;
    for (auto _ : state) {
        LabelDocument doc(LabelPage{288.0, 432.0, 600});
        for (int y = 0; y < v.height; ++y) {
            const std::uint32_t* row = v.row(y);
            for (int x = 0; x < v.width; ++x) {
                const ColorValue c = row[x] & 0x00FFFFFFu;
                if (isMainPrintColor(c)) doc.plot(x, y, c);
            }
        }
        dots = doc.dotCount();
        benchmark::DoNotOptimize(dots);
    }
    pixelCounters(state);
    state.counters["dots"] = double(dots);
}

void RowCollect(benchmark::State& state) {
    const PictureView v = picture().view();
    std::vector<std::uint32_t> cols(std::size_t(v.width) + 1);
    std::size_t dots = 0;
    for (auto _ : state) {
        dots = 0;
        for (int y = 0; y < v.height; ++y) {
            const std::uint32_t* row = v.row(y);
            std::size_t n = 0;
            for (int x = 0; x < v.width; ++x) {
                const ColorValue c = row[x] & 0x00FFFFFFu;
                cols[n] = std::uint32_t(x);
                n += isMainPrintColor(c) ? 1 : 0;
            }
            dots += n;
            benchmark::DoNotOptimize(cols.data());
        }
        benchmark::DoNotOptimize(dots);
    }
    pixelCounters(state);
    state.counters["dots"] = double(dots);
}

BENCHMARK(PlainRead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ScanCounting)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ScanPlotCups)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PlotDocument)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(RowCollect)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace plx::bench

int main(int argc, char** argv) {
    using namespace plx::bench;
    MedianReporter reporter;
    if (!runBenchmarks(&argc, argv, reporter)) return 1;
    const double limit = reporter.counter("PlainRead", "px_per_s");
    std::printf("\n2400 x 3000 picture, %zu print-coloured pixels (%.1f %%)\n",
                picture().printDots(), 100.0 * double(picture().printDots()) / 7.2e6);
    auto line = [&](const char* name, const char* figure, bool goal = true) {
        const double v = reporter.counter(name, "px_per_s");
        const double ratio = limit > 0 ? v / limit : 0.0;
        char measured[160];
        std::snprintf(measured, sizeof measured, "%.0f Mpx/s = %.3f of %.0f Mpx/s plain read",
                      v / 1e6, ratio, limit / 1e6);
        if (!goal) {
            printFigure(figure, "(reference)", measured, std::nullopt);
            return;
        }
        printFigure(figure, ">= 0.2 of plain read", measured,
                    v > 0 ? std::optional<bool>(ratio >= 0.2) : std::optional<bool>(false));
    };
    line("ScanCounting", "Scan, mode 1 (counting surface)");
    line("ScanPlotCups", "Scan + plot, mode 1 (CupsPrintSurface, unsubmitted)");
    line("PlotDocument", "Plot into the label document alone", false);
    line("RowCollect", "Row-wise branch-free collection (not station code, a bound)", false);
    return 0;
}
