#include "printing/printer_choice.h"

#include "common/text.h"
#include "printing/queue_wording.h"

namespace plx {

std::string normalizedPrinterName(std::string_view name) {
    const auto first = name.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    const auto last = name.find_last_not_of(' ');
    return upperUtf8(name.substr(first, last - first + 1));
}

Result<PrinterChoice> findPrinterByName(PrintSurface& surface, std::string_view name) {
    Result<std::vector<PrinterInfo>> listed = surface.printers();
    if (!listed) return listed.error();
    PrinterChoice choice;
    choice.installed = std::move(listed).value();
    const std::string wanted = normalizedPrinterName(name);
    for (const PrinterInfo& p : choice.installed) {
        if (normalizedPrinterName(p.queue) == wanted ||
            normalizedPrinterName(p.description) == wanted) {
            choice.matched = true;
            choice.current = p;
            return choice;
        }
    }
    // No match: the current printer stays. Not knowing it is no error here; printing will say.
    Result<PrinterInfo> current = surface.current();
    if (current) choice.current = *current;
    return choice;
}

Result<PrinterChoice> selectPrinterByName(PrintSurface& surface, std::string_view name) {
    Result<PrinterChoice> choice = findPrinterByName(surface, name);
    if (choice && choice->matched) surface.select(*choice->current);
    return choice;
}

Result<PrinterCheck> checkPrinter(PrintSurface& surface, std::string_view name) {
    Result<PrinterChoice> choice = findPrinterByName(surface, name);
    if (!choice) return choice.error();
    if (!choice->current) {
        return makeError(ErrorKind::PrintServer,
                         "no printer matches \"" + std::string(name) +
                             "\" and the print server names no default printer (queues: " +
                             queueList(choice->installed) + ")");
    }
    // The surface answers for its current printer: the match is made current for the
    // question only, so that a check never decides where the next print goes (a test print
    // still goes to the server's default until a job has selected a printer).
    std::optional<PrinterInfo> before;
    if (choice->matched) {
        if (Result<PrinterInfo> now = surface.current()) before = *now;
    }
    const bool swap = choice->matched && before != choice->current;
    if (swap) surface.select(*choice->current);
    Result<QueueState> state = surface.queueState();
    if (swap && before) surface.select(*before);
    if (!state) return state.error();
    return PrinterCheck{std::move(choice).value(), std::move(state).value()};
}

}  // namespace plx
