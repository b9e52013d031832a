#include "printing/queue_wording.h"

#include <string_view>

namespace plx {

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

Message queueStateWords(const QueueState& state) {
    if (!state.blocksJobs()) return Message(attentionReasons(state));
    // The station's words in the window's language; the queue's own as it gives them.
    const std::string words = describeQueueState(state);
    const bool plain =
        words.empty() || words == (state.accepting ? "stopped" : "not accepting jobs");
    if (state.accepting)
        return plain ? Message(PLX_TR("Station", "stopped"))
                     : Message(PLX_TR("Station", "stopped: %1"), {words});
    return plain ? Message(PLX_TR("Station", "not accepting jobs"))
                 : Message(PLX_TR("Station", "not accepting jobs: %1"), {words});
}

}  // namespace plx
