#include "printing/print_modes.h"

#include <utility>

namespace plx {

namespace {

Result<JobRef> printAllRows(PrintSurface& surface, ImageArea& area, PrintHost& host,
                            const PrintJob& job, std::int16_t copies) {
    return printDotReplication(surface, area, host, job, copies, DotMode::Full);
}

Result<JobRef> printFirstRows(PrintSurface& surface, ImageArea& area, PrintHost& host,
                              const PrintJob& job, std::int16_t copies) {
    return printDotReplication(surface, area, host, job, copies, DotMode::FirstRows);
}

constexpr std::pair<std::string_view, ModeProcedure> kModes[] = {
    {"1", &printAllRows},
    {"2", &printFirstRows},
    {"3", &printScaledImage},
};

}  // namespace

ModeProcedure procedureForMode(std::string_view mode) {
    for (const auto& [text, procedure] : kModes) {
        if (text == mode) return procedure;
    }
    return nullptr;
}

}  // namespace plx
