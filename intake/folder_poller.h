#pragma once
// One look into the watch folder: every job file found is claimed (taken into the held
// folder with a record of it) before it is sent, printed once, held until its job has ended
// at the printer, and then deleted (or put back to be printed again). The poller decides what
// happens to each file and hands the jobs over; the job follower follows them to their end.

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "common/message.h"
#include "common/print_job.h"
#include "common/result.h"
#include "intake/holding_area.h"
#include "intake/job_follower.h"
#include "intake/job_host.h"
#include "intake/watch_folder.h"

namespace plx {

struct PollerSettings {
    std::string watchFolder;  // verbatim, backslashes standing for separators
    std::string printMode;
    std::string printerName;
    bool printing = true;  // false: job pictures are only loaded and shown
    // During a long tick (thousands of files handed over) the jobs are followed again this
    // often, between files.
    int followEveryMs = 10000;
};

class FolderPoller {
  public:
    FolderPoller(JobHost& host, PollerSettings settings);
    // One look at the folder: the jobs followed first (with `follow` false, a look prompted
    // by a change in the folder between the timer's ticks, only when they are due), then every
    // file that is new or changed since the last look. The window turns between files, and
    // the jobs are followed again in a long batch.
    void tick(bool follow = true);

    // At start-up: takes the watch folder for this station (or says which station holds it),
    // and says once which queue the jobs go to when the configured name matches none, and
    // why the printer cannot be asked, if it cannot.
    void start();
    // Follows a job that has no job file (the test print) to its end, for the log.
    void follow(const std::string& what, const JobRef& job);

    // Files still being written as last seen: shorter than their header says, or changed
    // while they were read. `changedWhileRead` tells whether any is of the second kind, which
    // prints once it has stayed the same from one look to the next.
    std::vector<std::string> filesBeingWritten(bool* changedWhileRead = nullptr) const;

    // Reading a job file's copy count from its name: the third "_"-separated field.
    static Result<std::int16_t> copyCount(std::string_view fileName);

    static constexpr int kMaxPrinterFailures = JobFollower::kMaxPrinterFailures;

  private:
    // Files looked at before whose state holds until they change; Waiting, Retry and
    // Changing are looked at again at every tick.
    enum class State { Rejected, SetAside, Waiting, Changing, Retry, Shown, NotRegular };
    struct Remembered {
        State state = State::Rejected;
        FileIdentity stamp;
        Message mark;
    };
    enum class Outcome { Next, HandedOver, StopTick };  // HandedOver goes on like Next

    void takeFolder();
    void recoverHeld(bool takenOver);
    void followJobs();
    void announcePrinter();

    Outcome process(const FolderEntry& entry, Message& mark);
    bool alreadyDecided(const FolderEntry& entry, Message& mark);
    Outcome checkPrinter(Message& mark);
    void notRegular(const FolderEntry& entry, Message& mark);
    bool load(const FolderEntry& entry, const Result<void>& loaded, Message& mark);
    Outcome print(const FolderEntry& entry, int fd, std::int16_t copies, Message& mark);
    Outcome claimFailed(const FolderEntry& entry, const HoldingArea::Claim& claim, Message& mark);
    void unclaim(const HeldJob& held);
    Outcome printFailed(const FolderEntry& entry, const HeldJob& held, const Error& e,
                        Message& mark);
    void nothingToPrint(const FolderEntry& entry, const HeldJob& held, Message& mark);
    void handOver(const FolderEntry& entry, HeldJob held, const JobRef& job, std::int16_t copies,
                  double seconds, Message& mark);
    // Tells the window what was decided on the job file open as m_lookingAt (if any).
    void decided(JobDecision decision, const FolderEntry& entry, const Message& reason,
                 const HeldJob* held = nullptr, const JobRef* job = nullptr, int copies = 0);
    FileState stateOf(const std::string& name) const;
    void changing(const FolderEntry& entry, const FileIdentity& now, Message& mark);

    // The folder's job files; nothing when it cannot be read (said once, until it can).
    std::optional<std::vector<FolderEntry>> listFolder(const Result<void>& opened);
    void showListing(const std::vector<ListedFile>& files);
    void remember(const FolderEntry& entry, State state, const Message& mark, bool reportIt);
    void reportOnce(std::string& said, Severity severity, const Message& message);
    void reportServerTrouble(const std::string& message, bool refusedJob);
    void serverAnswered(bool tookJob);
    void standing(Message& trouble, Severity severity, const Message& now, const Message& cleared);
    void updateCondition();
    void reportFile(Severity severity, const std::string& name, const Message& message);

    JobHost& m_host;
    PollerSettings m_settings;
    WatchFolder m_folder;
    HoldingArea m_holding;  // after the folder: it goes first at a stop
    JobFollower m_follower;
    bool m_standingBy = false;   // another station held the folder
    bool m_heldByOther = false;  // ... and still does
    std::map<std::string, Remembered> m_files;
    std::set<std::string> m_saidOnce;  // notices not to repeat (a substituted resolution)
    std::string m_queueUsed;
    std::string m_folderTrouble;
    Message m_heldTrouble;   // the held folder cannot be used, or another station holds it
    Message m_claimTrouble;  // files cannot be taken out of the folder
    std::string m_serverTrouble;
    bool m_troubleRefusedJob = false;
    Message m_queueBlocked;
    std::string m_printerWarning;
    std::string m_queueReasons;
    std::vector<StationCondition> m_conditions;
    int m_lookingAt = -1;  // the job file being decided on, open while process() runs
    // What the window shows, to tell whether it changed; nothing before the first look.
    std::optional<std::vector<ListedFile>> m_shown;
    std::chrono::steady_clock::time_point m_followedAt{};
};

}  // namespace plx
