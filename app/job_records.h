#pragma once
// The intake's decisions on job files, written as rows of the job history. A row is one label:
// a file that failed at the printer, or whose claim never reached the print server, goes back
// into the folder and is printed again in the same row (its send count grows), so the row
// follows the file by its name until it is claimed again. The picture's checksum is taken
// from the descriptor the intake holds during the event; a big picture is read on a worker
// thread, so that the window never waits for it, and its checksum is added to the row a
// moment later.

#include <QObject>
#include <QThreadPool>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "intake/job_host.h"
#include "monitoring/history_recorder.h"

namespace plx {

class JobRecords : public QObject {
    Q_OBJECT
  public:
    // Pictures up to this size are read at once (at most a few tenths of a millisecond);
    // bigger ones on the worker thread.
    static constexpr std::int64_t kInlineDigestBytes = std::int64_t{64} * 1024;

    JobRecords(HistoryRecorder& recorder, std::string mode, QObject* parent = nullptr);
    // Abandons a checksum under way: a station that stops does not wait for it.
    ~JobRecords() override;

    struct Context {
        std::int64_t seenAt = 0;  // when the file was first listed (0: now)
        std::string holder;       // TakenOver: the station that held the folder
    };
    void record(const JobEvent& event, const Context& context);
    // The job files in the folder now: a row waiting for its file to be printed again ends
    // as withdrawn when the file has gone.
    void listed(const std::vector<std::string>& names);

    // Checksums read on the worker and not yet written (tests).
    void waitForDigests();

  private:
    std::string rowFor(const JobEvent& e, bool claim);
    JobFile jobFile(const std::string& key, const JobEvent& e) const;
    // The checksum of a small file, read now; empty for a big one (or none at hand).
    static std::string digestNow(const JobEvent& e);
    // The checksum of a big file, read on the worker and added to the row.
    void digestLater(const JobFile& job, const JobEvent& e, std::int64_t at);
    // The row's file: seen at `at`, with its checksum.
    void seen(const std::string& key, const JobEvent& e, std::int64_t at);
    void reopen(const std::string& key, const JobEvent& e);
    void close(const JobEvent& e);

    HistoryRecorder& m_recorder;
    std::string m_mode;
    std::map<std::string, std::string> m_keys;  // claim token -> row, while a job is out
    std::map<std::string, std::string> m_open;  // file name -> row, back in the folder
    QThreadPool m_digests;
    std::shared_ptr<std::atomic<bool>> m_stop = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace plx
