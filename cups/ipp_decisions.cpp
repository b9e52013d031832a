#include "cups/ipp_decisions.h"

#include <cups/ipp.h>

#include <cstdlib>

#include "printing/queue_wording.h"

namespace plx {

namespace {

std::size_t utf8Length(const unsigned char* p, std::size_t left) {
    std::size_t len = 0;
    if (p[0] < 0x80) {
        len = 1;
    } else if ((p[0] & 0xE0) == 0xC0 && p[0] >= 0xC2) {
        len = 2;
    } else if ((p[0] & 0xF0) == 0xE0) {
        len = 3;
    } else if ((p[0] & 0xF8) == 0xF0 && p[0] <= 0xF4) {
        len = 4;
    }
    if (len == 0 || len > left) return 0;
    for (std::size_t k = 1; k < len; ++k) {
        if ((p[k] & 0xC0) != 0x80) return 0;
    }
    if (len == 3) {
        const unsigned cp = (p[0] & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6;
        if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    }
    if (len == 4) {
        const unsigned cp = (p[0] & 0x07u) << 18 | (p[1] & 0x3Fu) << 12;
        if (cp < 0x10000 || cp > 0x10FFFF) return 0;
    }
    return len;
}

}  // namespace

std::string ippJobName(const std::string& name) {
    std::string out;
    const auto* p = reinterpret_cast<const unsigned char*>(name.data());
    const std::size_t n = name.size();
    for (std::size_t i = 0; i < n;) {
        std::size_t len = utf8Length(p + i, n - i);
        std::string ch;
        if (len == 0) {
            ch = {char(0xC0 | (p[i] >> 6)), char(0x80 | (p[i] & 0x3F))};
            len = 1;
        } else if (len == 1 && (p[i] < 0x20 || p[i] == 0x7F)) {
            ch = " ";
        } else {
            ch.assign(name, i, len);
        }
        if (out.size() + ch.size() > 255) break;
        out += ch;
        i += len;
    }
    return out.empty() ? std::string("label") : out;
}

JobPhase phaseOf(int state, const std::vector<std::string>& reasons) {
    switch (state) {
        case IPP_JSTATE_COMPLETED:
            return JobPhase::Completed;
        case IPP_JSTATE_ABORTED:
            return JobPhase::Failed;
        case IPP_JSTATE_CANCELED:
            for (const std::string& r : reasons) {
                if (r == "job-canceled-by-user" || r == "job-canceled-by-operator" ||
                    r == "job-canceled-at-device") {
                    return JobPhase::CanceledByPerson;
                }
            }
            return JobPhase::Failed;
        default:
            return JobPhase::Waiting;
    }
}

int closestDpi(const std::vector<int>& offered, int wanted) {
    int closest = 0;
    for (const int dpi : offered) {
        const int better = std::abs(dpi - wanted) - std::abs(closest - wanted);
        if (closest == 0 || better < 0 || (better == 0 && dpi > closest)) closest = dpi;
    }
    return closest;
}

std::optional<std::string> queueRefusal(const std::string& queue, const QueueState& state) {
    if (!state.blocksJobs()) return std::nullopt;
    std::string out =
        "print queue \"" + queue + "\" is " + (state.accepting ? "stopped" : "not accepting jobs");
    // A queue that gives no words of its own gets no dangling colon.
    if (const std::string words = describeQueueState(state); !words.empty()) out += ": " + words;
    return out;
}

}  // namespace plx
