#pragma once
// The print system as the print procedures see it: one current printer and its open job.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/color.h"
#include "common/result.h"

namespace plx {

enum class Unit { Pixel, Inch };

// In a row of dots (PrintSurface::plotRow): no dot at this place. Every real colour has a
// zero top byte.
inline constexpr ColorValue kNoDot = 0xFF000000u;
constexpr bool isDot(ColorValue c) { return (c >> 24) == 0; }

struct PrinterInfo {
    std::string queue;        // the print system's own name for the printer
    std::string description;  // its human-readable name; may contain blanks
    bool operator==(const PrinterInfo&) const = default;
};

class PrintSurface {
  public:
    virtual ~PrintSurface() = default;

    // The installed printers in the print system's order.
    virtual std::vector<PrinterInfo> printers() = 0;
    virtual void select(const PrinterInfo& printer) = 0;
    virtual std::optional<PrinterInfo> current() const = 0;

    virtual void setCopies(std::int16_t copies) = 0;
    virtual void setUnit(Unit unit) = 0;
    virtual void setPrintQuality(int dpi) = 0;

    // One dot of exactly that colour, one unit wide, from the top-left of the printable page.
    virtual void plot(float x, float y, ColorValue color) = 0;
    // A row of dots at once: colours[i] at (x0 + i, y), none where it is kNoDot. The same as
    // plotting them one by one from left to right, which the default does; a surface that
    // can take whole rows saves the call per dot.
    virtual void plotRow(std::int64_t x0, float y, const ColorValue* colours, std::size_t count);
    // The whole picture stretched into the rectangle, in the current unit. The picture's
    // pixels are copied: the caller may clear it right afterwards.
    virtual void drawPicture(const PictureView& picture, double x, double y, double width,
                             double height) = 0;

    // Finish the page and hand the job to the printer. Returns the print system's job id.
    virtual Result<std::string> endDocument(const std::string& jobName) = 0;
    // Drop everything drawn since the last end of document; nothing reaches the printer.
    virtual void abortDocument() = 0;
};

// Upper-case and trim the blanks (spaces only) at both ends.
std::string normalizedPrinterName(std::string_view name);

// Makes the first printer whose queue name or description matches `name` the current one.
// Returns false, changing nothing, when none matches.
bool selectPrinterByName(PrintSurface& surface, std::string_view name);

}  // namespace plx
