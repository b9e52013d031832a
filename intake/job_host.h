#pragma once
// What the intake needs from the window that owns it: the printer, the picture, the print
// procedures, the print server's answers about jobs, and the operator's view.

#include <cstdint>
#include <string>
#include <vector>

#include "common/message.h"
#include "common/print_job.h"
#include "common/result.h"

namespace plx {

struct ListedFile {
    std::string name;
    Message mark;  // why the file is not being printed; empty for a plain job
    bool operator==(const ListedFile&) const = default;
};

// The printer the run's jobs go to, as found just before a job.
struct PrinterReadiness {
    std::string queue;        // where the jobs go now
    bool nameMatched = true;  // false: the configured name matches no queue
    std::string queues;       // every queue there is, for the warning
    bool blocked = false;     // stopped or not accepting: no new job now
    std::string state;        // the queue's own words and reasons; empty when it says nothing
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
    // What stands in the way of printing now (empty: nothing), shown until it clears.
    virtual void showCondition(const Message& condition) = 0;
    virtual bool stopping() const = 0;
};

}  // namespace plx
