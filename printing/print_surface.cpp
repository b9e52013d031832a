#include "printing/print_surface.h"

namespace plx {

void PrintSurface::plotRow(std::int64_t x0, float y, const ColorValue* colours, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (isDot(colours[i])) plot(float(x0 + std::int64_t(i)), y, colours[i]);
    }
}

}  // namespace plx
