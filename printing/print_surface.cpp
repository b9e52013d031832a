#include "printing/print_surface.h"

namespace plx {

std::string normalizedPrinterName(std::string_view name) {
    const auto first = name.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    const auto last = name.find_last_not_of(' ');
    std::string out(name.substr(first, last - first + 1));
    // ASCII upper case: printer names are compared as the print system spells them.
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    }
    return out;
}

void PrintSurface::plotRow(std::int64_t x0, float y, const ColorValue* colours, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (isDot(colours[i])) plot(float(x0 + std::int64_t(i)), y, colours[i]);
    }
}

bool selectPrinterByName(PrintSurface& surface, std::string_view name) {
    const std::string wanted = normalizedPrinterName(name);
    for (const PrinterInfo& p : surface.printers()) {
        if (normalizedPrinterName(p.queue) == wanted ||
            normalizedPrinterName(p.description) == wanted) {
            surface.select(p);
            return true;
        }
    }
    return false;
}

}  // namespace plx
