#include "printing/print_surface.h"

#include "common/text.h"

namespace plx {

std::string normalizedPrinterName(std::string_view name) {
    const auto first = name.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    const auto last = name.find_last_not_of(' ');
    return upperUtf8(name.substr(first, last - first + 1));
}

void PrintSurface::plotRow(std::int64_t x0, float y, const ColorValue* colours, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (isDot(colours[i])) plot(float(x0 + std::int64_t(i)), y, colours[i]);
    }
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

std::string queueList(const std::vector<PrinterInfo>& printers) {
    if (printers.empty()) return "none";
    std::string out;
    for (const PrinterInfo& p : printers) {
        if (!out.empty()) out += ", ";
        out += p.queue;
        if (!p.description.empty() && p.description != p.queue) {
            out += " \"" + p.description + "\"";
        }
    }
    return out;
}

std::string attentionReasons(const QueueState& state) {
    std::string out;
    for (const std::string& r : state.reasons) {
        const auto dash = r.rfind('-');
        const std::string_view kind =
            dash == std::string::npos ? "" : std::string_view(r).substr(dash);
        if (kind == "-report" || kind == "-warning" || kind == "-error") {
            out += (out.empty() ? "" : ", ") + r;
        }
    }
    return out;
}

std::string describeQueueState(const QueueState& state) {
    std::string reasons;
    for (const std::string& r : state.reasons) reasons += (reasons.empty() ? "" : ", ") + r;
    std::string out = state.message;
    if (!reasons.empty()) out += out.empty() ? reasons : " (" + reasons + ")";
    if (out.empty()) out = state.stopped ? "stopped" : "";
    return out;
}

}  // namespace plx
