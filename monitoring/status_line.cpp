#include "monitoring/status_line.h"

#include <vector>

#include "monitoring/time_text.h"

namespace plx {
namespace {

std::string countsPart(const StationSnapshot& s) {
    int waiting = 0, held = 0, setAside = 0, bad = 0;
    for (const SnapshotFile& f : s.files) {
        switch (f.mark) {
            case FileMark::Waiting:
            case FileMark::Retrying:
            case FileMark::Incomplete:
                ++waiting;
                break;
            case FileMark::Held:
                ++held;
                break;
            case FileMark::SetAside:
                ++setAside;
                break;
            case FileMark::Bad:
                ++bad;
                break;
            case FileMark::Printing:
            case FileMark::Shown:
                break;
        }
    }
    std::vector<std::string> parts;
    if (s.job) parts.push_back("printing " + s.job->file);
    if (waiting > 0) parts.push_back(std::to_string(waiting) + " waiting");
    if (held > 0) parts.push_back(std::to_string(held) + " at the printer");
    if (setAside > 0) parts.push_back(std::to_string(setAside) + " set aside");
    if (bad > 0) parts.push_back(std::to_string(bad) + " bad");
    std::string out;
    for (const std::string& p : parts) out += (out.empty() ? "" : ", ") + p;
    return out.empty() ? std::string("idle, no files waiting") : out;
}

// One line, at most kStatusLineMax bytes, not cutting a UTF-8 character.
std::string bounded(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    if (text.size() <= kStatusLineMax) return text;
    std::size_t cut = kStatusLineMax - 3;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut) + "...";
}

}  // namespace

std::string composeStatusLine(const StationSnapshot& s, std::int64_t nowMs) {
    std::vector<std::string> parts;
    if (!s.station.holdsFolder)
        parts.push_back("standing by" + (s.station.standsByFor.empty()
                                             ? std::string()
                                             : " for " + s.station.standsByFor));
    else
        parts.push_back(countsPart(s));
    const auto since = [nowMs](std::int64_t t) {
        return t == 0 ? std::string() : " since " + clockTime(t, nowMs);
    };
    const bool printerSaid = s.printer.blocked && !s.printer.queue.empty();
    if (printerSaid)
        parts.push_back("print queue \"" + s.printer.queue + "\" " +
                        (s.printer.state.empty() ? std::string("stopped") : s.printer.state) +
                        since(s.printer.since) +
                        (s.printer.reasons.empty() ? std::string() : ": " + s.printer.reasons));
    for (const StandingCondition& c : s.conditions) {
        if ((printerSaid && c.kind == "printer") || c.kind == "standby" || c.kind == "history")
            continue;
        parts.push_back(c.text + since(c.since));
    }
    if (!s.history.kept && !s.history.problem.empty())
        parts.push_back("history is not being kept: " + s.history.problem);
    std::string line;
    for (const std::string& p : parts) line += (line.empty() ? "" : "; ") + p;
    return bounded(line);
}

}  // namespace plx
