#pragma once
// Which printer a job goes to: the installed printer the run settings name, else the current one.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "printing/print_surface.h"

namespace plx {

// Upper-case and trim the blanks (spaces only) at both ends.
std::string normalizedPrinterName(std::string_view name);

struct PrinterChoice {
    bool matched = false;                // the name matched an installed printer
    std::optional<PrinterInfo> current;  // where jobs go now (none: no default printer either)
    std::vector<PrinterInfo> installed;
};

// The first printer whose queue name or description matches `name`, else the current one;
// nothing is selected. An error when the printers cannot be listed.
Result<PrinterChoice> findPrinterByName(PrintSurface& surface, std::string_view name);
// Makes the first printer whose queue name or description matches `name` the current one;
// when none matches, the current printer stays. An error when the printers cannot be listed:
// a job must then wait rather than go to whichever printer happens to be current.
Result<PrinterChoice> selectPrinterByName(PrintSurface& surface, std::string_view name);

// The printer a job for `name` would go to, and whether its queue takes jobs now. The current
// printer stays as it was.
struct PrinterCheck {
    PrinterChoice choice;
    QueueState state;
};
Result<PrinterCheck> checkPrinter(PrintSurface& surface, std::string_view name);

}  // namespace plx
