#pragma once
// Keeps the job history for the station without ever holding it up: events are written at
// once when the database can take them, and otherwise kept (up to a bound) and written when it
// can again; a database that cannot be opened is tried again every minute. What stands in the
// way is said in problem(), which the station shows as "history is not being kept: REASON".

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "monitoring/job_history.h"

namespace plx {

class HistoryRecorder : public QObject {
    Q_OBJECT
  public:
    // Events kept while the database cannot take them; older ones are dropped beyond this.
    static constexpr std::size_t kMaxBacklog = 10000;
    static constexpr int kRetryMs = 60 * 1000;
    static constexpr int kPurgeMs = 24 * 3600 * 1000;

    HistoryRecorder(std::string path, std::string folder, int retentionDays,
                    QObject* parent = nullptr);
    ~HistoryRecorder() override;

    const std::string& path() const { return m_path; }
    bool kept() const { return m_problem.empty(); }
    // Why the history is not being kept now; empty while it is.
    const std::string& problem() const { return m_problem; }
    std::size_t backlog() const { return m_backlog.size(); }

    // The job history's events, stamped now (see JobHistory); seen() at `at` when given.
    void seen(const JobFile& job, std::int64_t at = 0);
    void sent(const std::string& key, const std::string& file, const JobSent& to);
    void failed(const std::string& key, const std::string& file, const std::string& reason);
    void ended(const std::string& key, const std::string& file, JobOutcome outcome, int pages,
               const std::string& reason);
    void takenOver(const std::string& key, const std::string& file, const std::string& from);
    // A file decided without a claim; returns the key its row has.
    std::string decided(JobFile job, JobOutcome outcome, const std::string& reason);

    // The newest rows, newest first; empty while the database cannot be read.
    std::vector<JobRecord> recent(int count) const;

    // Tests: how often to try again.
    void setRetryInterval(int ms) { m_retry.setInterval(ms); }
    // Tries to open and write what is waiting now.
    void retry();

  signals:
    // kept() or problem() changed.
    void stateChanged();

  private:
    using Event = std::function<Result<void>(JobHistory&)>;
    void add(Event event);
    void flush();
    void openAndPurge();
    void setProblem(const std::string& problem);

    std::string m_path;
    std::string m_folder;
    int m_days;
    std::unique_ptr<JobHistory> m_history;
    std::deque<Event> m_backlog;
    std::size_t m_lost = 0;
    std::string m_problem;
    QTimer m_retry;
    QTimer m_purge;
};

}  // namespace plx
