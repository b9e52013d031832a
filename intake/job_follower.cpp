#include "intake/job_follower.h"

#include <algorithm>
#include <functional>

namespace plx {
namespace {

// "aborted: job-aborted-by-system; Printer not responding" for the log.
std::string describe(const JobStatus& s) {
    std::string out = s.state.empty() ? "ended" : s.state;
    if (!s.reasons.empty()) out += ": " + s.reasons;
    if (!s.message.empty()) out += "; " + s.message;
    return out;
}

// The job under that number is the station's: its claim token and uuid, where both sides
// have one, are the ones recorded. A foreign job carries no token of ours, and a uuid is
// never given to two jobs.
bool isOurs(const HeldJob& held, const JobStatus& s) {
    if (!s.token.empty() && s.token != held.token) return false;
    return s.uuid.empty() || held.job.uuid.empty() || s.uuid == held.job.uuid;
}

}  // namespace

JobFollower::JobFollower(JobHost& host, HoldingArea& holding) : m_host(host), m_holding(holding) {}

// An event about one job, with its file, queue and job as the log's fields.
void JobFollower::say(const HeldJob& held, Severity severity, const Message& what) {
    m_host.reportAbout(severity, what,
                       EventSubject{held.jobFile() ? held.name : std::string(), held.job.queue,
                                    held.handedOver() ? held.job.text() : std::string()});
}

void JobFollower::decided(JobDecision decision, const HeldJob& held, const Message& reason,
                          const JobStatus* s, const std::string& returnedAs) {
    if (!held.jobFile()) return;  // the test print: no job file to keep a record of
    JobEvent e;
    e.decision = decision;
    e.file = held.name;
    e.token = held.token;
    e.returnedAs = returnedAs;
    e.size = std::int64_t(held.file.size);
    e.queue = held.job.queue;
    e.jobId = held.job.id;
    e.uuid = held.job.uuid;
    e.reason = reason;
    if (s != nullptr) e.pages = s->pages;
    m_host.jobDecided(e);
}

void JobFollower::add(const HeldJob& job) {
    m_highest = std::max(m_highest, std::max(job.job.id, job.after));
    m_jobs.push_back(Followed{job});
}

Result<void> JobFollower::follow() {
    if (m_jobs.empty()) return {};
    const Result<JobChanges> changes = m_host.jobChanges();
    if (!changes) {
        m_lookUpAll = true;
        return changes.error();
    }
    // Swept: every queue when what changed is not known whole; else the queues of claims
    // whose job number is not known, which only a sweep finds (by their token).
    const bool all = m_lookUpAll || !changes->complete;
    std::set<std::string> queues;
    for (const Followed& f : m_jobs) {
        if (all || !f.held.handedOver()) queues.insert(f.held.job.queue);
    }
    m_lookUpAll = true;  // until this look is through
    std::set<int> changed;
    for (const Followed& f : m_jobs) {
        if (!queues.contains(f.held.job.queue) &&
            (f.askAgain || changes->changed.contains(f.held.job.id)))
            changed.insert(f.held.job.id);
    }
    if (!changed.empty()) {
        if (Result<void> r = askChanged(changed, queues); !r) return r;
    }
    if (Result<void> r = sweep(queues); !r) return r;
    m_lookUpAll = false;
    return {};
}

// The jobs that changed, asked by number in one question.
Result<void> JobFollower::askChanged(const std::set<int>& changed,
                                     std::set<std::string>& sweepToo) {
    if (m_host.stopping()) return {};
    const Result<std::vector<JobStatus>> listed =
        m_host.jobsById(std::vector<int>(changed.begin(), changed.end()));
    if (!listed) return listed.error();
    std::set<int> answered;
    for (const JobStatus& s : *listed) {
        m_highest = std::max(m_highest, s.id);
        answered.insert(s.id);
    }
    // One left out may be forgotten, or the server may not take the question: only a sweep
    // of its queue can tell.
    for (const Followed& f : m_jobs) {
        if (changed.contains(f.held.job.id) && !answered.contains(f.held.job.id))
            sweepToo.insert(f.held.job.queue);
    }
    settleListed(*listed, [&](const HeldJob& held) {
        return held.handedOver() && answered.contains(held.job.id) &&
               !sweepToo.contains(held.job.queue);
    });
    return {};
}

// Each queue asked once, from the lowest number any of its jobs can have.
Result<void> JobFollower::sweep(const std::set<std::string>& queues) {
    std::map<std::string, int> fromId;
    for (const Followed& f : m_jobs) {
        if (!queues.contains(f.held.job.queue)) continue;
        const int from = f.held.handedOver() ? f.held.job.id : f.held.after + 1;
        const auto [at, fresh] = fromId.emplace(f.held.job.queue, from);
        if (!fresh) at->second = std::min(at->second, from);
    }
    for (const auto& [name, from] : fromId) {
        if (m_host.stopping()) return {};
        const std::string& queue = name;
        const Result<std::vector<JobStatus>> listed = m_host.jobs(queue, from);
        if (!listed) return listed.error();
        for (const JobStatus& s : *listed) m_highest = std::max(m_highest, s.id);
        settleListed(*listed, [&queue](const HeldJob& held) { return held.job.queue == queue; });
        m_host.yieldToWindow();
    }
    return {};
}

void JobFollower::settleListed(const std::vector<JobStatus>& listed,
                               const std::function<bool(const HeldJob&)>& covers) {
    std::map<int, const JobStatus*> byId;
    std::map<std::string, const JobStatus*> byToken;
    for (const JobStatus& s : listed) {
        byId[s.id] = &s;
        if (!s.token.empty()) byToken[s.token] = &s;
    }
    // In one pass: thousands of jobs may end in one answer.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < m_jobs.size(); ++i) {
        Followed& f = m_jobs[i];
        if (covers(f.held)) {
            if (resolve(f, byId, byToken)) continue;
            // Ended but kept (its file could not be put back): no event will say so again.
            const auto s = byId.find(f.held.job.id);
            f.askAgain = s != byId.end() && s->second->phase != JobPhase::Waiting;
        }
        if (kept != i) m_jobs[kept] = std::move(m_jobs[i]);
        ++kept;
    }
    m_jobs.resize(kept);
}

// Finds the job in the server's answer and acts on it; true once it is done with.
bool JobFollower::resolve(Followed& f, const std::map<int, const JobStatus*>& byId,
                          const std::map<std::string, const JobStatus*>& byToken) {
    HeldJob& held = f.held;
    const std::string& name = held.name;
    if (!held.handedOver()) {
        // Claimed, and then the station stopped or the answer was lost before the job's
        // number was recorded: the server knows the job by its token, or never got it.
        const auto found = held.token.empty() ? byToken.end() : byToken.find(held.token);
        if (found == byToken.end())
            return putBack(f, Severity::Notice,
                           Message(PLX_TR("Station",
                                          "%1: claimed, but the print server has no job for "
                                          "it"),
                                   {name}),
                           JobDecision::Returned);
        const JobRef job{held.job.queue, found->second->id, {}, found->second->uuid};
        if (const Result<void> r = m_holding.recordHandOver(held, job); !r)
            m_host.report(Severity::Warning, Message(r.error().message));
        say(held, Severity::Notice,
            Message(PLX_TR("Station",
                           "%1: the print server has it as job %2 (handed over "
                           "before that was recorded): followed"),
                    {name, job.text()}));
        decided(JobDecision::Sent, held, {});
        return settle(f, *found->second);
    }
    const auto found = byId.find(held.job.id);
    if (found == byId.end())
        return putBack(f, Severity::Warning,
                       Message(PLX_TR("Station",
                                      "%1: the print server no longer knows job %2, so "
                                      "whether it printed cannot be told"),
                               {name, held.job.text()}),
                       JobDecision::UnknownToServer);
    const JobStatus& s = *found->second;
    if (!isOurs(held, s))
        return putBack(f, Severity::Warning,
                       Message(PLX_TR("Station",
                                      "%1: job number %2 now belongs to another job on the "
                                      "print server, so whether it printed cannot be told"),
                               {name, held.job.text()}),
                       JobDecision::UnknownToServer);
    if (held.job.uuid.empty() && !s.uuid.empty()) {
        // Not known at the hand-over: known from now on, so a reused number shows.
        JobRef job = held.job;
        job.uuid = s.uuid;
        (void)m_holding.recordHandOver(held, job);
    }
    return settle(f, s);
}

// Acts on a job of ours as it stands; false while it has not ended.
bool JobFollower::settle(Followed& f, const JobStatus& s) {
    const HeldJob& held = f.held;
    const std::string job = held.job.text();
    const std::string& name = held.name;
    switch (s.phase) {
        case JobPhase::Waiting:
            if ((s.state == "processing-stopped" || s.state == "pending-held") && !f.waitSaid) {
                f.waitSaid = true;
                say(held, Severity::Notice,
                    Message(PLX_TR("Station", "%1: job %2 waits at the printer (%3)"),
                            {name, job, describe(s)}));
            }
            return false;
        case JobPhase::Failed:
            return putBack(f, Severity::Warning,
                           Message(PLX_TR("Station", "%1: job %2 failed at the printer (%3)"),
                                   {name, job, describe(s)}),
                           JobDecision::FailedAtPrinter);
        case JobPhase::Completed:
            m_printerFailures.erase(name);
            return ended(f, Severity::Info,
                         s.pages > 0 ? Message(PLX_TR("Station",
                                                      "%1: printed on print queue \"%2\": job "
                                                      "%3 completed at the printer (%4 page(s))"),
                                               {name, held.job.queue, job, std::to_string(s.pages)})
                                     : Message(PLX_TR("Station",
                                                      "%1: printed on print queue \"%2\": job "
                                                      "%3 completed at the printer"),
                                               {name, held.job.queue, job}),
                         JobDecision::Printed, s);
        case JobPhase::CanceledByPerson:
            return ended(f, Severity::Notice,
                         Message(PLX_TR("Station",
                                        "%1: job %2 was cancelled (%3): not printed "
                                        "again"),
                                 {name, job, describe(s)}),
                         JobDecision::Cancelled, s);
    }
    return false;
}

bool JobFollower::ended(const Followed& f, Severity severity, const Message& what,
                        JobDecision decision, const JobStatus& s) {
    // The file goes before the line that says so: whoever reads the log finds it gone.
    if (const Result<void> r = m_holding.release(f.held); !r) {
        say(f.held, Severity::Warning,
            Message(PLX_TR("Station", "%1: cannot delete the held file: %2"),
                    {f.held.name, r.error().message}));
    }
    say(f.held, severity, what);
    decided(decision, f.held, decision == JobDecision::Cancelled ? Message(describe(s)) : Message(),
            &s);
    return true;
}

// The label may not have come out: the file goes back into the folder to be printed again.
bool JobFollower::putBack(Followed& f, Severity severity, const Message& why,
                          JobDecision decision) {
    const HeldJob& held = f.held;
    if (!held.jobFile()) {
        say(held, severity, why);  // the test print: nothing to print again
        return true;
    }
    const Result<std::string> back = m_holding.putBack(held);
    if (!back && back.error().kind == ErrorKind::NotFound) {
        say(held, severity,
            Message(PLX_TR("Station", "%1; its file is no longer there to print again"), {why}));
        decided(JobDecision::Withdrawn, held, why);
        return true;
    }
    if (!back) {
        if (!f.stuckSaid) {
            f.stuckSaid = true;
            say(held, Severity::Error,
                Message(PLX_TR("Station",
                               "%1, and it cannot be put back into the folder: %2; "
                               "it stays in %3"),
                        {why, back.error().message,
                         std::string(HoldingArea::kFolderName) + "/" + held.key + ".bmp"}));
        }
        return false;  // tried again at the next look
    }
    const bool printerFailure = decision == JobDecision::FailedAtPrinter;
    const int failures = printerFailure ? ++m_printerFailures[*back] : 0;
    if (failures < kMaxPrinterFailures) {
        say(held, severity,
            Message(PLX_TR("Station", "%1: put back as %2 to be printed again"), {why, *back}));
        decided(decision, held, why, nullptr, *back);
        return true;
    }
    // The same label failed again and again: the printer needs a person, not another job.
    m_printerFailures.erase(*back);
    const Message aside(PLX_TR("Station",
                               "failed at the printer %1 times in a row: set "
                               "aside until the file changes or the station restarts"),
                        {std::to_string(failures)});
    if (m_setAside) m_setAside(*back, aside);
    say(held, Severity::Error,
        Message(PLX_TR("Station", "%1: put back as %2 and set aside: it failed %3 times in a row"),
                {why, *back, std::to_string(failures)}));
    decided(JobDecision::SetAside, held, why, nullptr, *back);
    return true;
}

}  // namespace plx
