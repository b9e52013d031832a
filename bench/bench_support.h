#pragma once
// Shared pieces of the Google Benchmark programs: the test pictures, an in-memory picture
// area, a window stand-in, a reporter that keeps the medians so that ratios to a peer can be
// printed at the end of the same run, and a small reader of the images inside our PDFs.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/color.h"
#include "printing/image_area.h"
#include "printing/print_procedures.h"
#include "printing/print_surface.h"

namespace plx::bench {

inline constexpr int kPictureWidth = 2400;
inline constexpr int kPictureHeight = 3000;
inline constexpr double kPrintShare = 0.30;

// Row-major 32-bit words as a decoded picture holds them (R, G, B, unused top byte).
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> words;
    PictureView view() const {
        return PictureView{words.data(), width, height, std::ptrdiff_t(width)};
    }
    std::size_t printDots() const;  // pixels in the main print colours
};

// `share` of the pixels pure black/red/green/blue at random, the rest white. The top byte of
// every word is set to garbage on purpose: readers must mask it off.
Picture randomColours(int width, int height, double share, unsigned seed = 1);
// The benchmarks' shared picture: kPictureWidth x kPictureHeight at kPrintShare, made once.
const Picture& standardPicture();
// Alternating black and white pixels: every dot its own run.
Picture checkerboard(int width, int height);

// An ImageArea over a Picture the benchmark owns. clear() hides the picture, as a real
// clear would, until rearm() shows it again.
class BufferArea : public ImageArea {
  public:
    explicit BufferArea(const Picture& p) : m_picture(p) {}
    Result<void> load(const std::string&) override { return {}; }
    void clear() override { m_cleared = true; }
    float width() const override { return m_cleared ? 0.0f : float(m_picture.width); }
    float height() const override { return m_cleared ? 0.0f : float(m_picture.height); }
    ColorValue pixel(int x, int y) const override { return picture().at(x, y); }
    PictureView picture() const override { return m_cleared ? PictureView{} : m_picture.view(); }
    void rearm() { m_cleared = false; }

  private:
    const Picture& m_picture;
    bool m_cleared = false;
};

// The window as the print procedures see it, doing nothing.
class QuietHost : public PrintHost {
  public:
    void setTimerEnabled(bool) override {}
    void assignPrinterDialogSetting() override {}
    void yieldToWindow() override {}
    void setProgressTitle(const std::string& text) override { benchmark::DoNotOptimize(text); }
    bool abortRequested() const override { return false; }
};

// Everything goes to the wrapped surface except endDocument, which drops the document
// instead of submitting it: the scan figures must not include a print server's work.
class UnsubmittedSurface : public PrintSurface {
  public:
    explicit UnsubmittedSurface(PrintSurface& inner) : m_inner(inner) {}
    Result<std::vector<PrinterInfo>> printers() override { return m_inner.printers(); }
    void select(const PrinterInfo& p) override { m_inner.select(p); }
    Result<PrinterInfo> current() override { return m_inner.current(); }
    Result<QueueState> queueState() override { return m_inner.queueState(); }
    Result<std::vector<JobStatus>> jobs(const std::string& queue, int fromId) override {
        return m_inner.jobs(queue, fromId);
    }
    void setCopies(std::int16_t n) override { m_inner.setCopies(n); }
    void setUnit(Unit u) override { m_inner.setUnit(u); }
    void setPrintQuality(int dpi) override { m_inner.setPrintQuality(dpi); }
    void plot(float x, float y, ColorValue c) override { m_inner.plot(x, y, c); }
    void plotRow(std::int64_t x0, float y, const ColorValue* c, std::size_t n) override {
        m_inner.plotRow(x0, y, c, n);
    }
    void drawPicture(const PictureView& p, double x, double y, double w, double h,
                     const KeepGoing& pace) override {
        m_inner.drawPicture(p, x, y, w, h, pace);
    }
    Result<JobRef> endDocument(const std::string&, const KeepGoing&) override {
        m_inner.abortDocument();
        return JobRef{"not submitted", 1, {}};
    }
    void abortDocument() override { m_inner.abortDocument(); }

  private:
    PrintSurface& m_inner;
};

// Console output as usual, and the median (or the only) run of every benchmark kept.
class MedianReporter : public benchmark::ConsoleReporter {
  public:
    struct Figures {
        double realSeconds = 0.0;  // per iteration
        std::map<std::string, double> counters;
    };
    // Plain tables: the output goes to files and the summary is grepped.
    MedianReporter() : ConsoleReporter(OO_Tabular) {}
    bool ReportContext(const Context& context) override;
    void ReportRuns(const std::vector<Run>& runs) override;
    // Looked up by the benchmark's name without the aggregate suffix.
    const Figures* find(const std::string& name) const;
    double counter(const std::string& name, const std::string& counter) const;
    double seconds(const std::string& name) const;

  private:
    std::map<std::string, Figures> m_medians;
    std::map<std::string, Figures> m_single;
};

// Runs the registered benchmarks with the reporter; false when none ran.
bool runBenchmarks(int* argc, char** argv, MedianReporter& reporter);

// "goal ... measured ... met/MISSED" lines in one shape for all programs.
void printFigure(const std::string& figure, const std::string& goal, const std::string& measured,
                 std::optional<bool> met);

// One image XObject found in a PDF we wrote: its dictionary text and its inflated bytes.
struct PdfImage {
    int width = 0;
    int height = 0;
    int bitsPerComponent = 0;
    bool indexed = false;
    std::vector<ColorValue> palette;  // indexed only
    std::vector<std::uint8_t> data;   // inflated samples
    // The colour at (x, y) of the image's own pixel grid.
    ColorValue at(int x, int y) const;
};
// The image XObjects in the order they are stored. Throws std::runtime_error on malformed
// input (these are our own documents; anything odd is a fault worth stopping for).
std::vector<PdfImage> pdfImages(const std::string& pdf);

}  // namespace plx::bench
