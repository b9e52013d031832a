#pragma once
// The three ways a picture is printed, as straight sequences of print-system steps.

#include <cstdint>
#include <string>
#include <string_view>

#include "common/result.h"
#include "printing/image_area.h"
#include "printing/print_surface.h"
#include "printing/printer_choice.h"

namespace plx {

// What the print procedures need from the window that runs them.
class PrintHost {
  public:
    virtual ~PrintHost() = default;
    virtual void setTimerEnabled(bool enabled) = 0;
    // The one setting the printer dialog receives before some prints.
    virtual void assignPrinterDialogSetting() = 0;
    // Let the window handle its pending events (paint, clicks, close).
    virtual void yieldToWindow() = 0;
    virtual void setProgressTitle(const std::string& text) = 0;
    // True once the window is closing or the process was asked to stop.
    virtual bool abortRequested() const = 0;
};

struct PrintJob {
    std::string_view printerName;
    std::string_view offsetX;
    std::string_view offsetY;
    std::string jobName;
};

inline constexpr std::string_view kTestPrinterName = "QLS-4100 Xe drivers standard";
inline constexpr int kFirstRowsLastRow = 180;
inline constexpr double kLabelWidthInches = 3.15;
inline constexpr double kLabelHeightInches = 3.95;
inline constexpr int kScaledPrintQuality = 1200;
inline constexpr int kTestOffsetX = 60;
inline constexpr int kTestOffsetY = 20;

constexpr bool isMainPrintColor(ColorValue c) {
    return c == kBlack || c == kPureRed || c == kPureGreen || c == kPureBlue;
}
// The main colours and three near values the test print also takes.
constexpr bool isExtendedPrintColor(ColorValue c) {
    return isMainPrintColor(c) || c == 0x0000FE || c == 0x00FF01 || c == 0xFE0000;
}

// Modes "1", "2" and "3" print; any other mode only loads and shows job pictures.
constexpr bool isPrintingMode(std::string_view mode) {
    return mode == "1" || mode == "2" || mode == "3";
}

// out[i] = the colour of pixels[i] when it is one of the four main print colours, else
// kNoDot: one row of dot replication, ready for PrintSurface::plotRow.
void keepMainPrintColors(const std::uint32_t* pixels, std::size_t count, ColorValue* out);
// The same for palette indices: `kept` is the palette passed through keepMainPrintColors.
void keepMainPrintColors(const std::uint8_t* indices, std::size_t count, const ColorValue* kept,
                         ColorValue* out);

// Lets the window run between the steps of long work (the document's rows, the pieces sent)
// at most every few milliseconds, and says whether to go on: false once the station is
// closing. The first call always lets it run.
KeepGoing pacedYield(PrintHost& host);

// "row/height", the height written as a plain integer when it is whole.
std::string progressText(std::int32_t row, float height);

enum class DotMode { Full, FirstRows };

// Each procedure returns the job it handed to the print system (id 0 when there was nothing
// to draw), or why it could not: a print-server error when the printers cannot even be listed.

// Dot replication: every pixel in the main colour set becomes one dot at its position plus
// the offsets (modes "1" and "2").
Result<JobRef> printDotReplication(PrintSurface& surface, ImageArea& area, PrintHost& host,
                                   const PrintJob& job, std::int16_t copies, DotMode mode);

// The whole picture stretched onto the 3.15 x 3.95 inch label at the offsets in inches. The
// window runs between the rows of the document and the pieces sent, as in the other modes.
Result<JobRef> printScaledImage(PrintSurface& surface, ImageArea& area, PrintHost& host,
                                const PrintJob& job, std::int16_t copies);

// One copy on the test printer, extended colours, black strokes one dot wider on the left.
// The picture is kept.
Result<JobRef> printTestPage(PrintSurface& surface, ImageArea& area, PrintHost& host,
                             const std::string& jobName);

}  // namespace plx
