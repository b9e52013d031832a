#pragma once
// Jobs handed to the print server, followed to their end. Once a tick the server is asked
// which jobs changed (one question, however many jobs wait), and then how those of the
// station's stand (one more); when it cannot tell what changed (at start, after a restart, or
// when it kept too few events), every queue is asked for all the station's jobs. Each job is
// known by its number and
// checked by its uuid and claim token, so that a number the server has given to another job
// is never taken for the station's. A job that completed or was cancelled by a person lets
// its held file go; one that failed at the printer, that the server no longer knows, or that
// was claimed but never reached the server, goes back into the folder to be printed again.

#include <cstddef>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "intake/held_record.h"
#include "intake/holding_area.h"
#include "intake/job_host.h"

namespace plx {

class JobFollower {
  public:
    // A job that failed at the printer this many times in a row is set aside until its file
    // changes, so that a broken printer does not get the same label forever.
    static constexpr int kMaxPrinterFailures = 3;

    JobFollower(JobHost& host, HoldingArea& holding);

    // Called with a job file put back and set aside, and why.
    void onSetAside(std::function<void(const std::string& name, const Message& why)> f) {
        m_setAside = std::move(f);
    }

    // A job to follow: handed over, or claimed with its hand-over unanswered (looked up by
    // its token at the next look).
    void add(const HeldJob& job);
    // One look at the jobs followed. An error when the print server cannot be asked; every
    // job is looked up again at the next look.
    Result<void> follow();
    std::size_t size() const { return m_jobs.size(); }
    // Any job the server makes from now on gets a higher number than this.
    int highestJobId() const { return m_highest; }

  private:
    struct Followed {
        HeldJob held;
        bool waitSaid = false;   // "waits at the printer" was said
        bool stuckSaid = false;  // "cannot be put back" was said
        bool askAgain = false;   // ended, but not yet done with: asked again at the next look
    };
    Result<void> sweep(const std::set<std::string>& queues);
    Result<void> askChanged(const std::set<int>& changed, std::set<std::string>& sweepToo);
    // Acts on the followed jobs that `covers` says the answer speaks for: one of those it does
    // not list is a job the server no longer knows.
    void settleListed(const std::vector<JobStatus>& listed,
                      const std::function<bool(const HeldJob&)>& covers);
    bool resolve(Followed& f, const std::map<int, const JobStatus*>& byId,
                 const std::map<std::string, const JobStatus*>& byToken);
    bool settle(Followed& f, const JobStatus& s);
    bool ended(const Followed& f, Severity severity, const Message& what, JobDecision decision,
               const JobStatus& s);
    // `decision`: FailedAtPrinter, UnknownToServer or Returned.
    bool putBack(Followed& f, Severity severity, const Message& why, JobDecision decision);
    void say(const HeldJob& held, Severity severity, const Message& what);
    void decided(JobDecision decision, const HeldJob& held, const Message& reason,
                 const JobStatus* s = nullptr, const std::string& returnedAs = {});

    JobHost& m_host;
    HoldingArea& m_holding;
    std::vector<Followed> m_jobs;
    std::map<std::string, int> m_printerFailures;  // by job file name
    std::function<void(const std::string&, const Message&)> m_setAside;
    int m_highest = 0;
    bool m_lookUpAll = false;  // the last look failed half way: what changed is not known
};

}  // namespace plx
