#include "monitoring/history_recorder.h"

#include <QUuid>
#include <filesystem>

#include "monitoring/state_places.h"
#include "monitoring/time_text.h"

namespace plx {

HistoryRecorder::HistoryRecorder(std::string path, std::string folder, int retentionDays,
                                 QObject* parent)
    : QObject(parent), m_path(std::move(path)), m_folder(std::move(folder)), m_days(retentionDays) {
    m_retry.setInterval(kRetryMs);
    connect(&m_retry, &QTimer::timeout, this, &HistoryRecorder::retry);
    m_purge.setInterval(kPurgeMs);
    connect(&m_purge, &QTimer::timeout, this, [this] {
        if (m_history) (void)m_history->purge(wallNowMs(), m_days);
    });
    m_purge.start();
    openAndPurge();
}

HistoryRecorder::~HistoryRecorder() = default;

void HistoryRecorder::openAndPurge() {
    const std::string dir = std::filesystem::path(m_path).parent_path().string();
    if (Result<void> made = ensureFolder(dir); !made) {
        setProblem(made.error().message);
        m_retry.start();
        return;
    }
    Result<std::unique_ptr<JobHistory>> opened = JobHistory::open(m_path, m_folder, {});
    if (!opened) {
        setProblem(opened.error().message);
        m_retry.start();
        return;
    }
    m_history = std::move(opened).value();
    // A failed purge (a full disk) leaves old rows a day longer; it stops nothing.
    (void)m_history->purge(wallNowMs(), m_days);
    flush();
}

void HistoryRecorder::retry() {
    // After a failure, a fresh connection: nothing the failed one kept can linger, and a
    // database file that was replaced or moved meanwhile is found again.
    m_history.reset();
    openAndPurge();
}

void HistoryRecorder::add(Event event) {
    if (m_backlog.size() >= kMaxBacklog) {
        m_backlog.pop_front();
        ++m_lost;
    }
    m_backlog.push_back(std::move(event));
    // While the database is failing, events wait for the next try rather than each paying
    // for a failure of its own.
    if (m_history && !m_retry.isActive()) flush();
}

void HistoryRecorder::flush() {
    while (!m_backlog.empty()) {
        Result<void> r = m_backlog.front()(*m_history);
        if (!r) {
            setProblem(r.error().message);
            m_retry.start();
            return;
        }
        m_backlog.pop_front();
    }
    m_retry.stop();
    setProblem(m_lost == 0 ? std::string()
                           : std::to_string(m_lost) +
                                 " events were lost while the database could not be written");
    // Said once: the rows written after are whole again.
    m_lost = 0;
}

void HistoryRecorder::setProblem(const std::string& problem) {
    if (problem == m_problem) return;
    m_problem = problem;
    emit stateChanged();
}

void HistoryRecorder::seen(const JobFile& job, std::int64_t at) {
    add([job, at = at > 0 ? at : wallNowMs()](JobHistory& h) { return h.seen(job, at); });
}

void HistoryRecorder::sent(const std::string& key, const std::string& file, const JobSent& to) {
    add([=, at = wallNowMs()](JobHistory& h) { return h.sent(key, file, to, at); });
}

void HistoryRecorder::failed(const std::string& key, const std::string& file,
                             const std::string& reason) {
    add([=, at = wallNowMs()](JobHistory& h) { return h.failed(key, file, reason, at); });
}

void HistoryRecorder::ended(const std::string& key, const std::string& file, JobOutcome outcome,
                            int pages, const std::string& reason) {
    add([=, at = wallNowMs()](JobHistory& h) {
        return h.ended(key, file, outcome, pages, reason, at);
    });
}

void HistoryRecorder::takenOver(const std::string& key, const std::string& file,
                                const std::string& from) {
    add([=, at = wallNowMs()](JobHistory& h) { return h.takenOver(key, file, from, at); });
}

std::string HistoryRecorder::decided(JobFile job, JobOutcome outcome, const std::string& reason) {
    if (job.key.empty()) job.key = QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
    add([=, at = wallNowMs()](JobHistory& h) -> Result<void> {
        Result<std::string> r = h.decided(job, outcome, reason, at);
        if (!r) return r.error();
        return {};
    });
    return job.key;
}

std::vector<JobRecord> HistoryRecorder::recent(int count) const {
    if (!m_history) return {};
    HistoryFilter filter;
    filter.newestFirstLimit = count;
    Result<std::vector<JobRecord>> rows = m_history->jobs(filter);
    return rows ? std::move(rows).value() : std::vector<JobRecord>{};
}

}  // namespace plx
