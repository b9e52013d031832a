#include "monitoring/history_format.h"

#include <QJsonValue>
#include <algorithm>
#include <array>

#include "monitoring/time_text.h"

namespace plx {
namespace {

QJsonValue timeValue(std::int64_t ms) {
    return ms == 0 ? QJsonValue() : QJsonValue(QString::fromStdString(isoTime(ms)));
}

QJsonValue text(const std::string& s) {
    return s.empty() ? QJsonValue() : QJsonValue(QString::fromStdString(s));
}

std::string csvField(std::string value) {
    if (!value.empty() &&
        std::string_view("=+-@\t\r").find(value.front()) != std::string_view::npos)
        value.insert(0, 1, '\'');
    if (value.find_first_of(",\"\r\n") == std::string::npos) return value;
    std::string out = "\"";
    for (const char c : value) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + '"';
}

std::string number(std::int64_t n, std::int64_t none) {
    return n == none ? std::string() : std::to_string(n);
}

}  // namespace

std::string printableText(const std::string& text) {
    std::string out;
    for (const char c : text) out += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;
    return out;
}

std::string jobStateText(const JobRecord& job) {
    if (job.outcome != JobOutcome::None) {
        std::string word = outcomeWord(job.outcome);
        std::replace(word.begin(), word.end(), '-', ' ');
        return word;
    }
    if (job.failures > 0) return "failed, printing again";
    return job.sent != 0 ? "sent" : "seen";
}

QJsonObject jobObject(const JobRecord& j) {
    return QJsonObject{
        {"key", text(j.key)},
        {"folder", text(j.folder)},
        {"file", text(j.file)},
        {"size", j.size < 0 ? QJsonValue() : QJsonValue(double(j.size))},
        {"sha256", text(j.sha256)},
        {"mode", text(j.mode)},
        {"copies", j.copies},
        {"queue", text(j.queue)},
        {"job", j.jobId == 0 ? QJsonValue() : QJsonValue(j.jobId)},
        {"jobUuid", text(j.jobUuid)},
        {"seen", timeValue(j.seen)},
        {"sent", timeValue(j.sent)},
        {"ended", timeValue(j.ended)},
        {"sends", j.sends},
        {"failures", j.failures},
        {"pages", j.pages < 0 ? QJsonValue() : QJsonValue(j.pages)},
        {"outcome", text(outcomeWord(j.outcome))},
        {"state", QString::fromStdString(jobStateText(j))},
        {"reason", text(j.reason)},
        {"station", text(j.station)},
        {"takenOverFrom", text(j.takenOverFrom)},
    };
}

std::string jobsCsv(const std::vector<JobRecord>& jobs) {
    std::string out =
        "folder,file,size,sha256,mode,copies,queue,job,job_uuid,seen,sent,ended,sends,failures,"
        "pages,outcome,reason,station,taken_over_from,key\r\n";
    for (const JobRecord& j : jobs) {
        const std::array<std::string, 20> fields{j.folder,
                                                 j.file,
                                                 number(j.size, -1),
                                                 j.sha256,
                                                 j.mode,
                                                 std::to_string(j.copies),
                                                 j.queue,
                                                 number(j.jobId, 0),
                                                 j.jobUuid,
                                                 isoTime(j.seen),
                                                 isoTime(j.sent),
                                                 isoTime(j.ended),
                                                 std::to_string(j.sends),
                                                 std::to_string(j.failures),
                                                 number(j.pages, -1),
                                                 outcomeWord(j.outcome),
                                                 j.reason,
                                                 j.station,
                                                 j.takenOverFrom,
                                                 j.key};
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (i > 0) out += ',';
            out += csvField(fields[i]);
        }
        out += "\r\n";
    }
    return out;
}

std::string jobsTable(const std::vector<JobRecord>& jobs, std::int64_t nowMs) {
    std::vector<std::array<std::string, 6>> rows{
        {"TIME", "FILE", "COPIES", "JOB", "OUTCOME", "REASON"}};
    for (const JobRecord& j : jobs) {
        const std::int64_t t = j.ended != 0 ? j.ended : (j.sent != 0 ? j.sent : j.seen);
        std::string job = j.queue;
        if (!job.empty() && j.jobId != 0) job.append("-").append(std::to_string(j.jobId));
        rows.push_back({clockTime(t, nowMs), printableText(j.file), std::to_string(j.copies),
                        printableText(job), jobStateText(j), printableText(j.reason)});
    }
    std::array<std::size_t, 6> width{};
    for (const auto& r : rows)
        for (std::size_t i = 0; i + 1 < r.size(); ++i) width[i] = std::max(width[i], r[i].size());
    std::string out;
    for (const auto& r : rows) {
        std::string line;
        for (std::size_t i = 0; i < r.size(); ++i) {
            line += r[i];
            if (i + 1 < r.size()) line += std::string(width[i] - r[i].size() + 2, ' ');
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out += line + "\n";
    }
    return out;
}

}  // namespace plx
