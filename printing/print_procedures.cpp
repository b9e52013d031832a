#include "printing/print_procedures.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "common/number.h"

namespace plx {
namespace {

Result<std::int32_t> offsetDots(std::string_view text, const char* axis) {
    Result<std::int32_t> v = toInt32(leadingNumber(text));
    if (!v) {
        return makeError(ErrorKind::OutOfRange, std::string("offset ") + axis + " \"" +
                                                    std::string(text) +
                                                    "\" is outside the 32-bit range");
    }
    return v;
}

Result<float> offsetInches(std::string_view text, const char* axis) {
    const double v = leadingNumber(text);
    if (!std::isfinite(v) || std::fabs(v) > double(FLT_MAX)) {
        return makeError(ErrorKind::OutOfRange, std::string("offset ") + axis + " \"" +
                                                    std::string(text) +
                                                    "\" does not fit a single-precision number");
    }
    return float(v);
}

Result<std::int32_t> lastIndex(float extent) {
    Result<std::int32_t> v = toInt32(double(extent));
    if (!v) return makeError(ErrorKind::OutOfRange, "the picture's size does not fit 32 bits");
    return v;
}

Error aborted(PrintSurface& surface) {
    surface.abortDocument();
    return makeError(ErrorKind::Aborted, "the print was abandoned: the station is closing");
}

// Scans columns 0..lastCol of one row. Columns past the picture read as a colour outside
// every set, so they are not visited.
template <typename Plot>
void scanRow(const PictureView& view, std::int32_t row, std::int32_t lastCol, Plot&& plot) {
    if (view.empty() || row < 0 || row >= view.height || lastCol < 0) return;
    const int cols = int(std::min<std::int64_t>(std::int64_t(lastCol) + 1, view.width));
    for (int col = 0; col < cols; ++col) plot(col, view.at(col, row));
}

// A row is classified and handed over in pieces of this many pixels, so that a picture as
// wide as the pixel limit needs no row-sized buffer beside it.
constexpr std::size_t kRowPiece = 16384;

// Dot replication's reading of the picture, in any of its pixel forms.
class MainColorScan {
  public:
    // Pixels [x0, x0 + count) of row y as dots: their colour when a main print colour, else
    // kNoDot. count <= kRowPiece.
    const ColorValue* read(const PictureView& view, int y, int x0, std::size_t count) {
        if (view.packed()) {
            const std::uint8_t* p = view.rgbRow(y) + std::ptrdiff_t(x0) * 3;
            for (std::size_t i = 0; i < count; ++i, p += 3) {
                const ColorValue c = PictureView::rgbAt(p);
                m_out[i] = isMainPrintColor(c) ? c : kNoDot;
            }
        } else if (!view.indexed()) {
            keepMainPrintColors(view.row(y) + x0, count, m_out.data());
        } else {
            if (view.palette != m_palette) {
                for (std::size_t i = 0; i < m_kept.size(); ++i)
                    m_kept[i] = isMainPrintColor(view.palette[i]) ? view.palette[i] : kNoDot;
                m_palette = view.palette;
            }
            keepMainPrintColors(view.indexRow(y) + x0, count, m_kept.data(), m_out.data());
        }
        return m_out.data();
    }

  private:
    const ColorValue* m_palette = nullptr;
    std::array<ColorValue, 256> m_kept{};
    std::vector<ColorValue> m_out = std::vector<ColorValue>(kRowPiece);
};

// Between yields the window waits at most this long (a frame or so).
constexpr auto kYieldEvery = std::chrono::milliseconds(15);

// Four words at a time (plain SSE2 on x86-64, also in builds that do not auto-vectorise).
using Words = std::uint32_t __attribute__((vector_size(16)));

}  // namespace

void keepMainPrintColors(const std::uint32_t* pixels, std::size_t count, ColorValue* out) {
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        Words v;
        std::memcpy(&v, pixels + i, sizeof v);
        v &= 0x00FFFFFFu;
        // All ones where the colour is one of the four.
        const Words main =
            Words((v == 0u) | (v == 0x0000FFu) | (v == 0x00FF00u) | (v == 0xFF0000u));
        const Words r = (v & main) | (kNoDot & ~main);
        std::memcpy(out + i, &r, sizeof r);
    }
    for (; i < count; ++i) {
        const ColorValue c = pixels[i] & 0x00FFFFFFu;
        out[i] = isMainPrintColor(c) ? c : kNoDot;
    }
}

void keepMainPrintColors(const std::uint8_t* indices, std::size_t count, const ColorValue* kept,
                         ColorValue* out) {
    for (std::size_t i = 0; i < count; ++i) out[i] = kept[indices[i]];
}

KeepGoing pacedYield(PrintHost& host) {
    auto last = std::make_shared<std::chrono::steady_clock::time_point>();
    return [&host, last] {
        const auto now = std::chrono::steady_clock::now();
        if (*last == std::chrono::steady_clock::time_point{} || now - *last >= kYieldEvery) {
            host.yieldToWindow();
            *last = std::chrono::steady_clock::now();
        }
        return !host.abortRequested();
    };
}

std::string progressText(std::int32_t row, float height) {
    std::string text = std::to_string(row) + "/";
    if (std::isfinite(height) && std::floor(height) == height && std::fabs(height) < 1e15f) {
        text += std::to_string(std::int64_t(height));
    } else {
        text += std::to_string(height);
    }
    return text;
}

Result<JobRef> printDotReplication(PrintSurface& surface, ImageArea& area, PrintHost& host,
                                   const PrintJob& job, std::int16_t copies, DotMode mode) {
    host.setTimerEnabled(false);
    const Result<PrinterChoice> printer = selectPrinterByName(surface, job.printerName);
    if (!printer) return printer.error();
    if (mode == DotMode::FirstRows) host.assignPrinterDialogSetting();
    surface.setCopies(copies);
    const Result<std::int32_t> ox = offsetDots(job.offsetX, "x");
    if (!ox) return ox.error();
    const Result<std::int32_t> oy = offsetDots(job.offsetY, "y");
    if (!oy) return oy.error();
    surface.setUnit(Unit::Pixel);

    std::int32_t lastRow = kFirstRowsLastRow;
    if (mode == DotMode::Full) {
        const Result<std::int32_t> h = lastIndex(area.height());
        if (!h) return h.error();
        lastRow = *h;
    }
    const std::int64_t dx = *ox;
    const std::int64_t dy = *oy;
    // Whole rows go to the surface, in pieces: one call per piece instead of one per dot.
    MainColorScan scan;
    for (std::int32_t row = 0; row <= lastRow; ++row) {
        const Result<std::int32_t> lastCol = lastIndex(area.width());
        if (!lastCol) {
            surface.abortDocument();
            return lastCol.error();
        }
        // Columns past the picture read as a colour outside every set: not visited.
        const PictureView view = area.picture();
        if (!view.empty() && row < view.height && *lastCol >= 0) {
            const auto cols =
                std::size_t(std::min<std::int64_t>(std::int64_t(*lastCol) + 1, view.width));
            for (std::size_t x = 0; x < cols; x += kRowPiece) {
                const std::size_t n = std::min(kRowPiece, cols - x);
                surface.plotRow(dx + std::int64_t(x), float(row + dy),
                                scan.read(view, row, int(x), n), n);
            }
        }
        if (row % 4 == 0) {
            host.yieldToWindow();
            if (host.abortRequested()) return aborted(surface);
            host.setProgressTitle(progressText(row, area.height()));
        }
        if (row == lastRow) break;  // lastRow may be INT32_MAX
    }
    area.clear();
    return surface.endDocument(job.jobName, pacedYield(host));
}

Result<JobRef> printScaledImage(PrintSurface& surface, ImageArea& area, PrintHost& host,
                                const PrintJob& job, std::int16_t copies) {
    const Result<PrinterChoice> printer = selectPrinterByName(surface, job.printerName);
    if (!printer) return printer.error();
    surface.setUnit(Unit::Inch);
    surface.setCopies(copies);
    surface.setPrintQuality(kScaledPrintQuality);
    const Result<float> x = offsetInches(job.offsetX, "x");
    if (!x) return x.error();
    const Result<float> y = offsetInches(job.offsetY, "y");
    if (!y) return y.error();
    const KeepGoing pace = pacedYield(host);
    surface.drawPicture(area.picture(), *x, *y, kLabelWidthInches, kLabelHeightInches, pace);
    if (host.abortRequested()) return aborted(surface);
    area.clear();
    return surface.endDocument(job.jobName, pace);
}

Result<JobRef> printTestPage(PrintSurface& surface, ImageArea& area, PrintHost& host,
                             const std::string& jobName) {
    const Result<PrinterChoice> printer = selectPrinterByName(surface, kTestPrinterName);
    if (!printer) return printer.error();
    surface.setCopies(1);
    host.assignPrinterDialogSetting();
    surface.setUnit(Unit::Pixel);
    const Result<std::int32_t> lastRow = lastIndex(area.height());
    if (!lastRow) return lastRow.error();
    for (std::int32_t row = 0; row <= *lastRow; ++row) {
        const Result<std::int32_t> lastCol = lastIndex(area.width());
        if (!lastCol) {
            surface.abortDocument();
            return lastCol.error();
        }
        const float y = float(row + kTestOffsetY);
        scanRow(area.picture(), row, *lastCol, [&](int col, ColorValue c) {
            if (!isExtendedPrintColor(c)) return;
            surface.plot(float(col + kTestOffsetX), y, c);
            if (c == kBlack) surface.plot(float(col + kTestOffsetX - 1), y, c);
        });
        host.yieldToWindow();
        if (host.abortRequested()) return aborted(surface);
        host.setProgressTitle(progressText(row, area.height()));
        if (row == *lastRow) break;
    }
    return surface.endDocument(jobName, pacedYield(host));
}

}  // namespace plx
