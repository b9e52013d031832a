#pragma once
// What the intake needs from the window that owns it: the printer, the picture, the print
// procedures, the print server's answers about jobs, the operator's view, and the station's
// records of what it decided.

#include <cstdint>
#include <string>
#include <vector>

#include "common/message.h"
#include "common/print_job.h"
#include "common/result.h"

namespace plx {

// Where a listed job file stands, beside the mark that says why.
enum class FileState {
    Waiting,   // printed at the first tick it can be
    Printing,  // being printed now
    Held,      // handed to the print server; its job has not ended yet
    SetAside,  // failed at the printer again and again: not printed until it changes
    Bad,       // not a job the station can print; looked at again when it changes
    Changing,  // still being written, or changed while it was read
    Retrying,  // cannot be read just now; tried again at every tick
    Shown,     // shown only: the run's mode prints nothing
};

struct ListedFile {
    std::string name;
    Message mark;  // why the file is not being printed; empty for a plain job
    FileState state = FileState::Waiting;
    bool operator==(const ListedFile&) const = default;
};

// What stands in the way of printing, one entry per kind that stands now.
struct StationCondition {
    enum class Kind { Folder, HeldFolder, StandingBy, Claim, PrintServer, Printer };
    Kind kind = Kind::Folder;
    Message text;
    std::string holder;  // StandingBy: the station that holds the folder, as it says itself
    bool operator==(const StationCondition& o) const {
        return kind == o.kind && text.text() == o.text.text() && holder == o.holder;
    }
};

// What the station decided on a job file, for its records (the job history, the counters).
enum class JobDecision {
    Sent,             // claimed and handed over to the print server
    Printed,          // completed at the printer
    FailedAtPrinter,  // failed at the printer: put back into the folder to be printed again
    SetAside,         // failed at the printer too often in a row: put back and set aside
    Cancelled,        // cancelled by a person: not printed again
    NothingToPrint,   // no dot falls on the label: no job sent, the file deleted
    UnknownToServer,  // the print server no longer knows the job: put back to print again
    Returned,         // claimed, but the print server never got it: put back to be printed
    Resumed,          // a job handed over before the station was last stopped, followed again
    TakenOver,        // a job of the station that held the folder before, followed from now on
    Rejected,         // not a job the station can print: left in the folder and marked
    Withdrawn,        // the file went away before it was printed
};

struct JobEvent {
    JobDecision decision = JobDecision::Sent;
    std::string file;        // the job file's name in the watch folder
    std::string token;       // its claim token; empty when it was never claimed
    std::string returnedAs;  // put back: the name it has in the folder now
    std::int64_t size = -1;  // bytes; -1 when not known
    int copies = 0;          // 0 when not known
    std::string queue;
    int jobId = 0;
    std::string uuid;
    int pages = -1;  // pages completed; -1 when not known
    Message reason;
    // The job file's content, open during the call only (-1: not at hand here); the
    // descriptor stays the caller's.
    int fd = -1;
};

// What an event is about, for the log's own fields; empty parts are left out.
struct EventSubject {
    std::string file;
    std::string queue;
    std::string job;  // as the log names it: "QUEUE-ID"
};

// The printer the run's jobs go to, as found just before a job.
struct PrinterReadiness {
    std::string queue;        // where the jobs go now
    bool nameMatched = true;  // false: the configured name matches no queue
    std::string queues;       // every queue there is, for the warning
    bool blocked = false;     // stopped or not accepting: no new job now
    Message state;            // how it stands, and its own words and reasons; empty: nothing
};

class JobHost {
  public:
    virtual ~JobHost() = default;
    virtual void setTimerEnabled(bool enabled) = 0;
    virtual Result<PrinterReadiness> printerReadiness() = 0;
    // Decodes the job file open as `fd` (which stays the caller's); `name` names it.
    virtual Result<void> loadPicture(int fd, const std::string& name) = 0;
    // Prints the loaded picture in the run's mode; returns the job handed to the print system,
    // which carries `token` to the print server.
    virtual Result<JobRef> printJob(std::int16_t copies, const std::string& jobName,
                                    const std::string& token) = 0;
    // The station's jobs on `queue` from number `fromId` on, ended ones included.
    virtual Result<std::vector<JobStatus>> jobs(const std::string& queue, int fromId) = 0;
    // Which jobs ended since the last call, when the print server can tell (see
    // PrintSurface::jobChanges), and the jobs with the given numbers as they stand.
    virtual Result<JobChanges> jobChanges() = 0;
    virtual Result<std::vector<JobStatus>> jobsById(const std::vector<int>& ids) = 0;
    // Lets the window handle its pending events between steps of long work.
    virtual void yieldToWindow() = 0;
    virtual void showListing(const std::vector<ListedFile>& files) = 0;
    // One event: printed, rejected, waiting, print-server or folder trouble.
    virtual void report(Severity severity, const Message& message) = 0;
    // The same, about one file, queue or job.
    virtual void reportAbout(Severity severity, const Message& message, const EventSubject& about) {
        (void)about;
        report(severity, message);
    }
    // What stands in the way of printing now, most pressing first (empty: nothing); shown
    // until it clears.
    virtual void showConditions(const std::vector<StationCondition>& conditions) = 0;
    // One decision on a job file, as it is made. Hosts that keep no records need nothing here.
    virtual void jobDecided(const JobEvent& event) { (void)event; }
    virtual bool stopping() const = 0;
};

}  // namespace plx
