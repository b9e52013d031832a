#include "monitoring/metrics_text.h"

#include <cstdio>

#include "monitoring/time_text.h"

namespace plx {
namespace {

// Label values escape backslash, double quote and newline.
std::string labelValue(const std::string& s) {
    std::string out;
    for (const char c : s) {
        if (c == '\\' || c == '"')
            out += '\\', out += c;
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

void metric(std::string& out, const char* name, const char* type, const char* help,
            const std::string& value, const std::string& labels = {}) {
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n" +
           name + labels + " " + value + "\n";
}

}  // namespace

std::string metricsText(const StationSnapshot& s) {
    const StationCounters& c = s.counters;
    std::string out;
    metric(out, "plixagram_up", "gauge", "1 while the station answers.", "1");
    metric(out, "plixagram_info", "gauge", "The station's version, watch folder and print queue.",
           "1",
           "{version=\"" + labelValue(s.station.version) + "\",folder=\"" +
               labelValue(s.station.watchFolder) + "\",queue=\"" + labelValue(s.printer.queue) +
               "\"}");
    metric(out, "plixagram_start_time_seconds", "gauge", "When the station started, in Unix time.",
           std::to_string(s.station.started / 1000));
    metric(out, "plixagram_holds_folder", "gauge",
           "1 while the station holds its folder, 0 while it stands by for another.",
           s.station.holdsFolder ? "1" : "0");
    metric(out, "plixagram_labels_printed_total", "counter",
           "Labels (copies) completed at the printer since the station started.",
           std::to_string(c.labelsPrinted));
    metric(out, "plixagram_jobs_failed_total", "counter",
           "Jobs that failed at the printer since the station started.",
           std::to_string(c.jobsFailed));
    metric(out, "plixagram_files_set_aside_total", "counter",
           "Job files set aside or found bad since the station started.",
           std::to_string(c.setAside));
    metric(out, "plixagram_queue_stopped_seconds_total", "counter",
           "Seconds the print queue was stopped or not accepting jobs.",
           std::to_string(c.queueStoppedSeconds));
    metric(out, "plixagram_files_waiting", "gauge", "Job files waiting to be printed.",
           std::to_string(c.filesWaiting));
    metric(out, "plixagram_queue_blocked", "gauge",
           "1 while the print queue is stopped or not accepting jobs.",
           s.printer.blocked ? "1" : "0");
    metric(out, "plixagram_history_kept", "gauge", "1 while the job history is being kept.",
           s.history.kept ? "1" : "0");
    return out;
}

}  // namespace plx
