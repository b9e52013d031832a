#pragma once
// The job history: one row per job file the station decided on, in an SQLite database of its
// own per watch folder (write-ahead log, one transaction per event), so that what was printed,
// when, how many, where, and from which picture stays known after the file, the journal and
// the print server's own history have gone. Readers (the operator's commands) open it
// read-only while the station writes.

#include <QString>
#include <QVariant>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/result.h"

namespace plx {

// How a job ended. A row without an outcome is still on its way (seen, or sent and followed).
enum class JobOutcome {
    None,
    Printed,         // completed at the printer
    PrintedAgain,    // failed at the printer, printed again, completed
    Cancelled,       // cancelled by a person (cancel, an operator, the printer's panel)
    SetAside,        // not printed, left in the folder; the reason says why
    NothingToPrint,  // no dot to print: no job sent, the file deleted
    TakenOver,       // another station took the job over and follows it
    Unknown,         // ended, but the print server no longer knew the job
    Withdrawn,       // the file went away before it was printed
};

// "printed", "printed again", ...; empty for None.
std::string outcomeWord(JobOutcome outcome);
JobOutcome outcomeFromWord(const std::string& word);

// What the station knows of a job file when it decides on it.
struct JobFile {
    std::string key;   // the station's key for the job (its claim token); see decided()
    std::string file;  // the file's name in the watch folder
    std::int64_t size = -1;
    std::string sha256;  // of the content, lower-case hex
    std::string mode;    // the print mode
    int copies = 0;
};

// Where and as what a job went to the print server.
struct JobSent {
    std::string queue;
    int jobId = 0;
    std::string jobUuid;
};

struct JobRecord {
    std::string key;
    std::string station;  // the station that last acted on it: host and pid
    std::string folder;
    std::string file;
    std::int64_t size = -1;
    std::string sha256;
    std::string mode;
    int copies = 0;
    std::string queue;
    int jobId = 0;
    std::string jobUuid;
    std::int64_t seen = 0;  // ms since the epoch; 0: not yet
    std::int64_t sent = 0;  // the last hand-over
    std::int64_t ended = 0;
    int sends = 0;     // hand-overs: more than one when it failed and was printed again
    int failures = 0;  // failures at the printer
    int pages = -1;    // -1: not known
    JobOutcome outcome = JobOutcome::None;
    std::string reason;
    std::string takenOverFrom;
};

struct HistoryFilter {
    std::int64_t since = 0;    // rows seen or ended at or after this time
    std::string file;          // exact file name; empty: all
    int newestFirstLimit = 0;  // > 0: only that many, newest last event first
};

inline constexpr int kDefaultRetentionDays = 400;

// PLIXAGRAM_HISTORY_DAYS when it is a whole number of days (at least 1), else 400.
int retentionDaysFromEnvironment();

class JobHistory {
  public:
    ~JobHistory();
    JobHistory(const JobHistory&) = delete;
    JobHistory& operator=(const JobHistory&) = delete;

    // Opens (creating it when missing) the database of the station watching `folder`, for
    // writing; `station` names this station in the rows it writes.
    static Result<std::unique_ptr<JobHistory>> open(const std::string& path,
                                                    const std::string& folder,
                                                    const std::string& station);
    // Opens it for reading only; works for a user who cannot write its folder or files.
    static Result<std::unique_ptr<JobHistory>> openReadOnly(const std::string& path);

    const std::string& path() const { return m_path; }
    // The watch folder the database speaks about.
    const std::string& folder() const { return m_folder; }

    // Events, each one transaction; `at` in ms since the epoch. An event for a key without a
    // row (one written while the history was not kept) starts the row.
    Result<void> seen(const JobFile& job, std::int64_t at);
    Result<void> sent(const std::string& key, const std::string& file, const JobSent& to,
                      std::int64_t at);
    // Failed at the printer; the station prints it again (or sets it aside: ended()).
    Result<void> failed(const std::string& key, const std::string& file, const std::string& reason,
                        std::int64_t at);
    // Printed is written as PrintedAgain when the job had failed before. pages < 0: unknown.
    Result<void> ended(const std::string& key, const std::string& file, JobOutcome outcome,
                       int pages, const std::string& reason, std::int64_t at);
    // This station follows a job another station had sent.
    Result<void> takenOver(const std::string& key, const std::string& file,
                           const std::string& fromStation, std::int64_t at);
    // A file decided at once, without a claim (set aside, nothing to print): one finished row,
    // under job.key or, when that is empty, a key made here; the key is returned.
    Result<std::string> decided(const JobFile& job, JobOutcome outcome, const std::string& reason,
                                std::int64_t at);

    // Deletes the rows whose last event is older than `days` days before `now`; the count.
    Result<int> purge(std::int64_t now, int days);

    Result<std::vector<JobRecord>> jobs(const HistoryFilter& filter) const;

  private:
    JobHistory(std::string path, QString connection);
    Result<void> createSchema(const std::string& folder);
    Result<void> readFolder();
    Result<void> upsert(const char* sql, const std::string& key, const std::string& file,
                        std::int64_t at, const std::vector<std::pair<QString, QVariant>>& values);

    std::string m_path;
    QString m_connection;
    std::string m_folder;
    std::string m_station;
};

}  // namespace plx
