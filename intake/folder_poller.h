#pragma once
// One look into the watch folder: every job file found is printed once, held until its job
// has ended at the printer, and then deleted (or put back to be printed again).

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "common/message.h"
#include "common/print_job.h"
#include "common/result.h"
#include "intake/holding_area.h"

namespace plx {

struct ListedFile {
    std::string name;
    Message mark;  // why the file is not being printed; empty for a plain job
};

// The printer the run's jobs go to, as found just before a job.
struct PrinterReadiness {
    std::string queue;        // where the jobs go now
    bool nameMatched = true;  // false: the configured name matches no queue
    std::string queues;       // every queue there is, for the warning
    bool blocked = false;     // stopped or not accepting: no new job now
    std::string state;        // the queue's own words and reasons; empty when it says nothing
};

// What the poller needs from the window that owns it.
class JobHost {
  public:
    virtual ~JobHost() = default;
    virtual void setTimerEnabled(bool enabled) = 0;
    virtual Result<PrinterReadiness> printerReadiness() = 0;
    virtual Result<void> loadPicture(const std::string& path) = 0;
    // Prints the loaded picture in the run's mode; returns the job handed to the print system.
    virtual Result<JobRef> printJob(std::int16_t copies, const std::string& jobName) = 0;
    virtual Result<JobStatus> jobStatus(const JobRef& job) = 0;
    virtual void showListing(const std::vector<ListedFile>& files) = 0;
    // One event: printed, rejected, waiting, print-server or folder trouble.
    virtual void report(Severity severity, const Message& message) = 0;
    // What stands in the way of printing now (empty: nothing), shown until it clears.
    virtual void showCondition(const Message& condition) = 0;
    virtual bool stopping() const = 0;
};

struct PollerSettings {
    std::string watchFolder;  // verbatim, backslashes standing for separators
    std::string printMode;
    std::string printerName;
    bool printing = true;  // false: job pictures are only loaded and shown
};

// Whether a directory entry name is a job file: "*.bmp" without regard to case, not hidden.
bool isJobFileName(std::string_view name);

class FolderPoller {
  public:
    FolderPoller(JobHost& host, PollerSettings settings);
    void tick();

    // Says once which queue the jobs go to when the configured name matches none, and why
    // the printer cannot be asked, if it cannot. For the start-up.
    void announcePrinter();
    // Follows a job that has no job file (the test print) to its end, for the log.
    void follow(const std::string& what, const JobRef& job);

    // Reading a job file's copy count from its name: the third "_"-separated field.
    static Result<std::int16_t> copyCount(std::string_view fileName);

    // A job that failed at the printer this many times in a row is set aside until its file
    // changes, so that a broken printer does not get the same label forever.
    static constexpr int kMaxPrinterFailures = 3;

  private:
    struct Stamp {
        std::uintmax_t size = 0;
        std::filesystem::file_time_type mtime{};
        bool operator==(const Stamp&) const = default;
    };
    // Files looked at before whose state holds until they change; Waiting and Retry are
    // looked at again at every tick.
    enum class State { Rejected, Waiting, Retry, HeldInPlace, Shown, NotRegular };
    struct Remembered {
        State state = State::Rejected;
        Stamp stamp;
        Message mark;
    };
    struct Entry {
        std::string name;
        bool regular = false;
        Stamp stamp;
    };
    enum class Outcome { Next, StopTick };

    Result<std::vector<Entry>> listFolder() const;
    void recoverHeldJobs();
    void followHeldJobs();
    bool settle(const HeldJob& held, const JobStatus& status);
    bool reprint(const HeldJob& held, const JobStatus& status);

    Outcome process(const Entry& entry, Message& mark);
    bool alreadyDecided(const Entry& entry, Message& mark);
    Outcome checkPrinter(Message& mark);
    bool load(const Entry& entry, const std::string& path, Message& mark);
    Outcome print(const Entry& entry, std::int16_t copies, Message& mark);
    Outcome printFailed(const Entry& entry, const Error& e, Message& mark);
    void handOver(const Entry& entry, const JobRef& job, const FileIdentity& identity,
                  std::int16_t copies, double seconds, Message& mark);

    void remember(const Entry& entry, State state, const Message& mark, bool reportIt);
    void reportOnce(std::string& said, Severity severity, const Message& message);
    void reportServerTrouble(const std::string& message, bool refusedJob);
    void serverAnswered(bool tookJob);
    void updateCondition();

    JobHost& m_host;
    PollerSettings m_settings;
    HoldingArea m_holding;
    bool m_recovered = false;
    std::vector<HeldJob> m_held;
    std::map<std::string, int> m_printerFailures;  // by job file name
    std::map<std::string, Remembered> m_files;
    std::set<std::string> m_saidOnce;     // notices not to repeat (a substituted resolution)
    std::set<std::string> m_waitingSaid;  // held jobs whose waiting was said, by job
    std::string m_queueUsed;
    std::string m_folderTrouble;
    std::string m_serverTrouble;
    bool m_troubleRefusedJob = false;
    std::string m_queueBlocked;
    std::string m_printerWarning;
    std::string m_queueReasons;
    Message m_condition;
};

}  // namespace plx
