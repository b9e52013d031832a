#include "intake/folder_poller.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "common/number.h"
#include "common/text.h"
#include "common/unique_fd.h"
#include "printing/printer_choice.h"

namespace plx {

namespace {

// Between files the window turns at least this often.
constexpr auto kTurnEvery = std::chrono::milliseconds(15);

std::string formatSeconds(double s) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", s);
    return buf;
}

}  // namespace

FolderPoller::FolderPoller(JobHost& host, PollerSettings settings)
    : m_host(host),
      m_settings(std::move(settings)),
      m_folder(m_settings.watchFolder),
      m_holding(m_folder),
      m_follower(host, m_holding) {
    m_follower.onSetAside([this](const std::string& name, const Message& why) {
        struct stat st {};
        if (::fstatat(m_folder.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            remember(FolderEntry{name, true, identityOf(st)}, State::SetAside, why, false);
    });
}

Result<std::int16_t> FolderPoller::copyCount(std::string_view fileName) {
    const std::vector<std::string> fields = splitAt(fileName, '_');
    if (fields.size() < 3) {
        return makeError(ErrorKind::Invalid,
                         "the name has no copy count (it needs three \"_\"-separated fields, "
                         "the third giving the copies)");
    }
    const double n = leadingNumber(fields[2]);
    Result<std::int16_t> q = toInt16(n);
    if (!q) {
        return makeError(ErrorKind::OutOfRange,
                         "the copy count in \"" + fields[2] + "\" does not fit 16 bits");
    }
    if (*q < 1) {
        return makeError(ErrorKind::OutOfRange, "the copy count in \"" + fields[2] + "\" is " +
                                                    std::to_string(*q) + ", below 1");
    }
    return q;
}

// --- Reporting -----------------------------------------------------------------------------

void FolderPoller::remember(const FolderEntry& entry, State state, const Message& mark,
                            bool reportIt) {
    m_files[entry.name] = Remembered{state, entry.identity, mark};
    if (reportIt) {
        const bool bad = state == State::Rejected || state == State::NotRegular;
        reportFile(bad ? Severity::Warning : Severity::Notice, entry.name,
                   Message(PLX_TR("Station", "%1: %2"), {entry.name, mark}));
        // A bad file is decided on once, when it is said; it is looked at again only when it
        // changes.
        if (bad) {
            const Result<std::int16_t> copies = copyCount(entry.name);
            decided(JobDecision::Rejected, entry, mark, nullptr, nullptr, copies ? *copies : 0);
        }
    }
}

void FolderPoller::reportFile(Severity severity, const std::string& name, const Message& message) {
    m_host.reportAbout(severity, message, EventSubject{name, {}, {}});
}

void FolderPoller::decided(JobDecision decision, const FolderEntry& entry, const Message& reason,
                           const HeldJob* held, const JobRef* job, int copies) {
    JobEvent e;
    e.decision = decision;
    e.file = entry.name;
    e.size = entry.identity == FileIdentity{} ? -1 : std::int64_t(entry.identity.size);
    e.copies = copies;
    e.reason = reason;
    e.fd = m_lookingAt;
    if (held != nullptr) {
        e.token = held->token;
        e.queue = held->job.queue;
    }
    if (job != nullptr) {
        e.queue = job->queue;
        e.jobId = job->id;
        e.uuid = job->uuid;
    }
    m_host.jobDecided(e);
}

FileState FolderPoller::stateOf(const std::string& name) const {
    const auto known = m_files.find(name);
    if (known == m_files.end()) return FileState::Waiting;
    switch (known->second.state) {
        case State::Rejected:
        case State::NotRegular:
            return FileState::Bad;
        case State::SetAside:
            return FileState::SetAside;
        case State::Waiting:
        case State::Changing:
            return FileState::Changing;
        case State::Retry:
            return FileState::Retrying;
        case State::Shown:
            return FileState::Shown;
    }
    return FileState::Waiting;
}

void FolderPoller::reportOnce(std::string& said, Severity severity, const Message& message) {
    const std::string text = message.text();
    if (text == said) return;
    said = text;
    m_host.report(severity, message);
}

void FolderPoller::reportServerTrouble(const std::string& message, bool refusedJob) {
    m_troubleRefusedJob = refusedJob;
    if (message == m_serverTrouble) return;  // said once, not every tick
    m_serverTrouble = message;
    m_host.report(Severity::Error,
                  Message(PLX_TR("Station",
                                 "print server trouble: %1; the job files stay and are "
                                 "tried again at the next tick"),
                          {message}));
    updateCondition();
}

void FolderPoller::serverAnswered(bool tookJob) {
    // A server that answers questions may still refuse jobs: only a job taken ends that.
    if (m_serverTrouble.empty() || (m_troubleRefusedJob && !tookJob)) return;
    m_serverTrouble.clear();
    m_host.report(Severity::Notice, PLX_TR("Station", "print server available again"));
    updateCondition();
}

// A standing condition of the station's own: said once when it comes, once when it goes.
void FolderPoller::standing(Message& trouble, Severity severity, const Message& now,
                            const Message& cleared) {
    if (now.text() == trouble.text()) return;
    const bool had = !trouble.empty();
    trouble = now;
    if (!now.empty())
        m_host.report(severity, now);
    else if (had && !cleared.empty())
        m_host.report(Severity::Notice, cleared);
    updateCondition();
}

void FolderPoller::updateCondition() {
    using Kind = StationCondition::Kind;
    std::vector<StationCondition> now;
    if (!m_folderTrouble.empty())
        now.push_back({Kind::Folder,
                       Message(PLX_TR("Station", "Watch folder trouble: %1"), {m_folderTrouble}),
                       {}});
    if (!m_heldTrouble.empty())
        now.push_back({m_heldByOther ? Kind::StandingBy : Kind::HeldFolder, m_heldTrouble,
                       m_heldByOther ? m_holding.holder() : std::string()});
    if (!m_claimTrouble.empty()) now.push_back({Kind::Claim, m_claimTrouble, {}});
    if (!m_serverTrouble.empty())
        now.push_back(
            {Kind::PrintServer,
             Message(PLX_TR("Station", "Waiting for the print server: %1"), {m_serverTrouble}),
             {}});
    if (!m_queueBlocked.empty())
        now.push_back({Kind::Printer,
                       Message(PLX_TR("Station", "Waiting for the printer: %1"), {m_queueBlocked}),
                       {}});
    if (now == m_conditions) return;
    m_conditions = std::move(now);
    m_host.showConditions(m_conditions);
}

// --- The folder and the jobs handed over ---------------------------------------------------

void FolderPoller::start() {
    if (m_settings.printing && m_folder.open()) takeFolder();
    announcePrinter();
}

// The held folder checked and the folder's lock taken, or said why not.
void FolderPoller::takeFolder() {
    const HoldingArea::Standing s = m_holding.take();
    switch (s.access) {
        case HoldingArea::Access::StandingBy:
            m_standingBy = m_heldByOther = true;
            standing(m_heldTrouble, Severity::Notice, s.why, {});
            return;
        case HoldingArea::Access::Unusable:
            m_heldByOther = false;
            standing(m_heldTrouble, Severity::Error, s.why, {});
            return;
        case HoldingArea::Access::Ready:
            m_heldByOther = false;
            break;
    }
    // A station that stood by says it took over instead.
    standing(m_heldTrouble, Severity::Notice, {},
             m_standingBy
                 ? Message()
                 : Message(PLX_TR("Station", "watch folder \"%1\": job files are taken again"),
                           {m_settings.watchFolder}));
    if (s.tookLock) recoverHeld(m_standingBy);
    m_standingBy = false;
}

// What the held folder holds is this station's now: an earlier run's, or another station's.
void FolderPoller::recoverHeld(bool takenOver) {
    HoldingArea::Recovered r = m_holding.recover();
    if (takenOver) {
        m_host.report(Severity::Notice,
                      Message(PLX_TR("Station",
                                     "took over watch folder \"%1\": the station that held it "
                                     "let it go"),
                              {m_settings.watchFolder}));
    }
    for (const Message& e : r.events) m_host.report(Severity::Notice, e);
    if (!r.jobs.empty()) {
        const std::string n = std::to_string(r.jobs.size());
        m_host.report(Severity::Notice,
                      takenOver ? Message(PLX_TR("Station",
                                                 "following %1 job(s) taken over from the "
                                                 "station that held the folder"),
                                          {n})
                                : Message(PLX_TR("Station",
                                                 "following %1 job(s) handed over before the "
                                                 "station was last stopped"),
                                          {n}));
    }
    for (const HeldJob& j : r.jobs) {
        m_follower.add(j);
        JobEvent e;
        e.decision = takenOver ? JobDecision::TakenOver : JobDecision::Resumed;
        e.file = j.name;
        e.token = j.token;
        e.queue = j.job.queue;
        e.jobId = j.job.id;
        e.uuid = j.job.uuid;
        e.size = std::int64_t(j.file.size);
        m_host.jobDecided(e);
    }
}

void FolderPoller::follow(const std::string& what, const JobRef& job) {
    HeldJob held;
    held.name = what;
    held.job = job;
    m_follower.add(held);
}

void FolderPoller::followJobs() {
    m_followedAt = std::chrono::steady_clock::now();
    const bool asking = m_follower.size() > 0;
    const Result<void> r = m_follower.follow();
    if (!r) {
        // Every job is asked again next tick; a question abandoned at a stop is no trouble.
        if (r.error().kind != ErrorKind::Aborted) reportServerTrouble(r.error().message, false);
    } else if (asking) {
        serverAnswered(false);
    }
}

void FolderPoller::announcePrinter() {
    if (!m_settings.printing) return;
    Message unused;
    if (checkPrinter(unused) == Outcome::Next && m_printerWarning.empty()) {
        m_host.reportAbout(Severity::Info,
                           Message(PLX_TR("Station", "printer \"%1\" is print queue \"%2\""),
                                   {m_settings.printerName, m_queueUsed}),
                           EventSubject{{}, m_queueUsed, {}});
    }
}

// --- One job file ---------------------------------------------------------------------------

// A link, FIFO, socket or device under a job file's name: never read, said once.
void FolderPoller::notRegular(const FolderEntry& entry, Message& mark) {
    mark = PLX_TR("Station", "not a regular file: never opened");
    const auto known = m_files.find(entry.name);
    if (known == m_files.end() || known->second.state != State::NotRegular) {
        remember(entry, State::NotRegular, mark, true);
    }
}

// Files whose state holds until they change are not looked at again; a file seen changing
// waits until it has stayed the same for a whole tick.
bool FolderPoller::alreadyDecided(const FolderEntry& entry, Message& mark) {
    if (!entry.regular) {
        notRegular(entry, mark);
        return true;
    }
    const auto known = m_files.find(entry.name);
    if (known == m_files.end()) return false;
    if (known->second.state == State::Changing) {
        if (known->second.stamp == entry.identity) return false;
        known->second.stamp = entry.identity;
        mark = known->second.mark;
        return true;
    }
    if (!(known->second.stamp == entry.identity)) return false;
    const State s = known->second.state;
    if (s == State::Waiting || s == State::Retry || s == State::NotRegular) return false;
    mark = known->second.mark;
    return true;
}

FolderPoller::Outcome FolderPoller::checkPrinter(Message& mark) {
    const Result<PrinterReadiness> r = m_host.printerReadiness();
    if (!r) {
        mark = PLX_TR("Station", "waiting for the print server");
        if (r.error().kind != ErrorKind::Aborted) reportServerTrouble(r.error().message, false);
        return Outcome::StopTick;
    }
    serverAnswered(false);
    m_queueUsed = r->queue;
    if (!r->nameMatched) {
        reportOnce(m_printerWarning, Severity::Warning,
                   Message(PLX_TR("Station",
                                  "printer \"%1\" matches no print queue: the jobs go "
                                  "to print queue \"%2\" (queues: %3)"),
                           {m_settings.printerName, r->queue, r->queues}));
    } else {
        m_printerWarning.clear();
    }
    if (r->blocked) {
        const Message why(PLX_TR("Station", "print queue \"%1\" is %2"), {r->queue, r->state});
        if (why.text() != m_queueBlocked.text()) {
            m_queueBlocked = why;
            m_host.reportAbout(Severity::Warning,
                               Message(PLX_TR("Station",
                                              "%1; the job files stay and are printed when "
                                              "it takes jobs again"),
                                       {why}),
                               EventSubject{{}, r->queue, {}});
            updateCondition();
        }
        mark = Message(PLX_TR("Station", "waiting: %1"), {why});
        return Outcome::StopTick;
    }
    if (!m_queueBlocked.empty()) {
        m_queueBlocked = {};
        m_host.reportAbout(
            Severity::Notice,
            Message(PLX_TR("Station", "print queue \"%1\" takes jobs again"), {r->queue}),
            EventSubject{{}, r->queue, {}});
        updateCondition();
    }
    // Warnings and reports do not stop the queue: said once, then printing goes on.
    if (r->state.empty()) {
        m_queueReasons.clear();
    } else {
        reportOnce(
            m_queueReasons, Severity::Notice,
            Message(PLX_TR("Station", "print queue \"%1\" reports: %2"), {r->queue, r->state}));
    }
    return Outcome::Next;
}

bool FolderPoller::load(const FolderEntry& entry, const Result<void>& loaded, Message& mark) {
    if (loaded) return true;
    const Error& e = loaded.error();
    const auto known = m_files.find(entry.name);
    const bool seen = known != m_files.end() && known->second.stamp == entry.identity;
    switch (e.kind) {
        case ErrorKind::NotFound:
            m_files.erase(entry.name);
            mark = PLX_TR("Station", "gone");
            reportFile(
                Severity::Notice, entry.name,
                Message(PLX_TR("Station", "%1: removed before it could be loaded"), {entry.name}));
            decided(JobDecision::Withdrawn, entry,
                    PLX_TR("Station", "removed before it was printed"));
            return false;
        case ErrorKind::Incomplete:
            mark = Message(PLX_TR("Station", "waiting: %1"), {e.message});
            remember(entry, State::Waiting, mark, !(seen && known->second.state == State::Waiting));
            return false;
        case ErrorKind::Aborted:
            // The station is closing while the picture decodes: not the file's fault.
            mark = PLX_TR("Station", "interrupted: printed at the next start");
            reportFile(Severity::Notice, entry.name,
                       Message(PLX_TR("Station", "%1: %2; the file stays in the folder"),
                               {entry.name, e.message}));
            return false;
        case ErrorKind::Io: {
            // Not the file's fault (permissions, a failing disk): tried again at every tick.
            mark = Message(PLX_TR("Station", "waiting: %1; tried again at the next tick"),
                           {e.message});
            const bool same = seen && known->second.state == State::Retry &&
                              known->second.mark.text() == mark.text();
            remember(entry, State::Retry, mark, !same);
            return false;
        }
        default:
            mark = Message(PLX_TR("Station", "not printed: %1"), {e.message});
            remember(entry, State::Rejected, mark, true);
            return false;
    }
}

// The file changed while it was looked at: it waits until it stays the same for a tick.
void FolderPoller::changing(const FolderEntry& entry, const FileIdentity& now, Message& mark) {
    mark = PLX_TR("Station", "waiting: the file is still being written");
    const auto known = m_files.find(entry.name);
    const bool said = known != m_files.end() && known->second.state == State::Changing;
    remember(FolderEntry{entry.name, true, now}, State::Changing, mark, !said);
}

FolderPoller::Outcome FolderPoller::process(const FolderEntry& listed, Message& mark) {
    if (alreadyDecided(listed, mark)) return Outcome::Next;

    // Opened without following a link, and never waiting on a FIFO; what is read is
    // whatever this descriptor holds, whatever happens to the name meanwhile.
    const UniqueFd fd(::openat(m_folder.fd(), listed.name.c_str(),
                               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
        const int err = errno;
        if (err == ELOOP) {
            notRegular(listed, mark);
        } else {
            load(listed,
                 makeError(err == ENOENT ? ErrorKind::NotFound : ErrorKind::Io,
                           listed.name + ": " + std::strerror(err)),
                 mark);
        }
        return Outcome::Next;
    }
    if (!S_ISREG(st.st_mode)) {
        notRegular(listed, mark);
        return Outcome::Next;
    }
    const FolderEntry entry{listed.name, true, identityOf(st)};
    m_lookingAt = fd.get();
    struct Done {
        int& fd;
        ~Done() { fd = -1; }
    } done{m_lookingAt};
    if (!load(entry, m_host.loadPicture(fd.get(), entry.name), mark)) return Outcome::Next;
    if (!m_settings.printing) {
        mark = Message(PLX_TR("Station", "shown only: print mode \"%1\" prints nothing"),
                       {m_settings.printMode});
        remember(entry, State::Shown, mark, true);
        return Outcome::Next;
    }
    // The picture first, then the copy count from the name, as the print procedures are
    // called: a file with a bad count is shown before it is set aside.
    const Result<std::int16_t> copies = copyCount(entry.name);
    if (!copies) {
        mark = Message(PLX_TR("Station", "not printed: %1"), {copies.error().message});
        remember(entry, State::Rejected, mark, true);
        return Outcome::Next;
    }
    if (checkPrinter(mark) == Outcome::StopTick) return Outcome::StopTick;
    // A file that changed while it was being read is still being written.
    if (::fstat(fd.get(), &st) == 0 && !identityOf(st).sameContent(entry.identity)) {
        changing(entry, identityOf(st), mark);
        return Outcome::Next;
    }
    return print(entry, fd.get(), *copies, mark);
}

FolderPoller::Outcome FolderPoller::print(const FolderEntry& entry, int fd, std::int16_t copies,
                                          Message& mark) {
    // Claimed before anything is sent: a station stopped at any moment after this finds the
    // file and its record in the held folder and knows whether the server got the job.
    const HoldingArea::Claim claim =
        m_holding.claim(entry.name, entry.identity, m_queueUsed, m_follower.highestJobId());
    if (claim.failure != HoldingArea::ClaimFailure::None) return claimFailed(entry, claim, mark);
    standing(m_claimTrouble, Severity::Notice, {},
             Message(PLX_TR("Station", "watch folder \"%1\": job files can be taken out again"),
                     {m_settings.watchFolder}));
    // Right before it is sent: still the content that was read?
    struct stat st {};
    if (::fstat(fd, &st) == 0 && !identityOf(st).sameContent(entry.identity)) {
        unclaim(claim.held);
        changing(entry, identityOf(st), mark);
        return Outcome::Next;
    }
    const auto started = std::chrono::steady_clock::now();
    const Result<JobRef> job = m_host.printJob(copies, entry.name, claim.held.token);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (!job) return printFailed(entry, claim.held, job.error(), mark);
    serverAnswered(true);
    if (!job->notice.empty() && m_saidOnce.insert(job->notice.text()).second) {
        m_host.report(Severity::Notice, job->notice);
    }
    if (!job->submitted()) {
        nothingToPrint(entry, claim.held, mark);
        return Outcome::Next;
    }
    // Recorded before the line that says so: whoever reads the log finds it in the history.
    decided(JobDecision::Sent, entry, {}, &claim.held, &*job, copies);
    handOver(entry, claim.held, *job, copies, seconds, mark);
    return Outcome::HandedOver;
}

FolderPoller::Outcome FolderPoller::claimFailed(const FolderEntry& entry,
                                                const HoldingArea::Claim& claim, Message& mark) {
    switch (claim.failure) {
        case HoldingArea::ClaimFailure::Gone:
            m_files.erase(entry.name);
            mark = PLX_TR("Station", "gone");
            reportFile(
                Severity::Notice, entry.name,
                Message(PLX_TR("Station", "%1: removed before it could be printed"), {entry.name}));
            decided(JobDecision::Withdrawn, entry,
                    PLX_TR("Station", "removed before it was printed"));
            return Outcome::Next;
        case HoldingArea::ClaimFailure::Replaced:
            changing(entry, FileIdentity{}, mark);
            return Outcome::Next;
        case HoldingArea::ClaimFailure::NotWritable:
            standing(m_claimTrouble, Severity::Error, m_holding.notWritable(), {});
            break;
        default:
            standing(m_claimTrouble, Severity::Error,
                     Message(PLX_TR("Station",
                                    "job files cannot be taken out of watch folder \"%1\" (%2): "
                                    "nothing is printed until that is mended; the files stay"),
                             {m_settings.watchFolder, claim.reason}),
                     {});
            break;
    }
    // The files behind would fail the same way: they wait with this one.
    mark = PLX_TR("Station", "waiting: the file cannot be taken out of the folder");
    return Outcome::StopTick;
}

// Nothing reached the print server: the file goes back where it was.
void FolderPoller::unclaim(const HeldJob& held) {
    if (m_holding.putBack(held)) return;
    // Stuck in the held folder: followed as a claim, which the server does not know, so it
    // is put back (and printed) as soon as it can be.
    m_follower.add(held);
}

FolderPoller::Outcome FolderPoller::printFailed(const FolderEntry& entry, const HeldJob& held,
                                                const Error& e, Message& mark) {
    if (e.kind == ErrorKind::Unanswered) {
        // The server may have made the job: it is looked up by its token, not sent again.
        m_follower.add(held);
        m_files.erase(entry.name);
        if (const auto copies = copyCount(entry.name))
            decided(JobDecision::Sent, entry, {}, &held, nullptr, *copies);
        mark = PLX_TR("Station", "waiting for the print server");
        reportServerTrouble(e.message, true);
        return Outcome::StopTick;
    }
    unclaim(held);
    switch (e.kind) {
        case ErrorKind::PrintServer:
            mark = PLX_TR("Station", "waiting for the print server");
            reportServerTrouble(e.message, true);
            return Outcome::StopTick;
        case ErrorKind::Aborted:
            mark = PLX_TR("Station", "interrupted: printed at the next start");
            reportFile(Severity::Notice, entry.name,
                       Message(PLX_TR("Station", "%1: %2; the file stays in the folder"),
                               {entry.name, e.message}));
            return Outcome::StopTick;
        case ErrorKind::Io: {
            // The document could not be made (memory, say): not the file's fault.
            mark = Message(PLX_TR("Station", "waiting: %1; tried again at the next tick"),
                           {e.message});
            const auto known = m_files.find(entry.name);
            const bool same = known != m_files.end() && known->second.state == State::Retry &&
                              known->second.mark.text() == mark.text();
            remember(entry, State::Retry, mark, !same);
            return Outcome::Next;
        }
        default:
            mark = Message(PLX_TR("Station", "not printed: %1"), {e.message});
            remember(entry, State::Rejected, mark, true);
            return Outcome::Next;
    }
}

// Nothing fell on the label: no blank label is sent, and the job is done. The file is
// deleted where it is held, never by its name in the folder (a new file may have it).
void FolderPoller::nothingToPrint(const FolderEntry& entry, const HeldJob& held, Message& mark) {
    if (const Result<void> gone = m_holding.release(held); !gone) {
        unclaim(held);
        mark = Message(PLX_TR("Station",
                              "nothing to print, but the file could not be "
                              "deleted (%1)"),
                       {gone.error().message});
        remember(entry, State::Rejected, mark, true);
        return;
    }
    m_files.erase(entry.name);
    mark = PLX_TR("Station", "nothing to print");
    reportFile(Severity::Info, entry.name,
               Message(PLX_TR("Station",
                              "%1: nothing to print (no dot of it falls on the "
                              "label): no job sent, the file is deleted"),
                       {entry.name}));
    const Result<std::int16_t> copies = copyCount(entry.name);
    decided(JobDecision::NothingToPrint, entry, {}, &held, nullptr, copies ? *copies : 0);
}

void FolderPoller::handOver(const FolderEntry& entry, HeldJob held, const JobRef& job,
                            std::int16_t copies, double seconds, Message& mark) {
    const Message sent(copies == 1
                           ? PLX_TR("Station",
                                    "%1: sent to print queue \"%2\" as job %3 (mode %4, %5 copy, "
                                    "printer \"%6\", %7 s)")
                           : PLX_TR("Station",
                                    "%1: sent to print queue \"%2\" as job %3 (mode %4, %5 "
                                    "copies, printer \"%6\", %7 s)"),
                       {entry.name, job.queue, job.text(), m_settings.printMode,
                        std::to_string(copies), m_settings.printerName, formatSeconds(seconds)});
    // A record that cannot be rewritten still holds the claim: the job is found by its token.
    const Result<void> recorded = m_holding.recordHandOver(held, job);
    m_follower.add(held);
    m_files.erase(entry.name);
    mark = PLX_TR("Station", "sent to the printer");
    m_host.reportAbout(Severity::Info, sent, EventSubject{entry.name, job.queue, job.text()});
    if (!recorded) reportFile(Severity::Warning, entry.name, Message(recorded.error().message));
}

std::vector<std::string> FolderPoller::filesBeingWritten(bool* changedWhileRead) const {
    std::vector<std::string> out;
    if (changedWhileRead != nullptr) *changedWhileRead = false;
    for (const auto& [name, f] : m_files) {
        if (f.state != State::Waiting && f.state != State::Changing) continue;
        out.push_back(name);
        if (f.state == State::Changing && changedWhileRead != nullptr) *changedWhileRead = true;
    }
    return out;
}

// --- The tick -------------------------------------------------------------------------------

// The window's list is told only what changed: with thousands of files left in the folder, an
// idle tick costs the listing and nothing more.
void FolderPoller::showListing(const std::vector<ListedFile>& files) {
    if (files == m_shown) return;
    m_shown = files;
    m_host.showListing(files);
}

std::optional<std::vector<FolderEntry>> FolderPoller::listFolder(const Result<void>& opened) {
    Result<std::vector<FolderEntry>> listing =
        opened ? m_folder.jobFiles() : Result<std::vector<FolderEntry>>(opened.error());
    if (!listing) {
        if (listing.error().message != m_folderTrouble) {
            m_folderTrouble = listing.error().message;
            m_host.report(Severity::Error,
                          Message(PLX_TR("Station",
                                         "folder trouble: %1; looked at again every "
                                         "tick"),
                                  {m_folderTrouble}));
            updateCondition();
        }
        return std::nullopt;
    }
    if (!m_folderTrouble.empty()) {
        m_folderTrouble.clear();
        m_host.report(Severity::Notice,
                      Message(PLX_TR("Station", "watch folder \"%1\" is readable again"),
                              {m_settings.watchFolder}));
        updateCondition();
    }
    return std::move(listing).value();
}

void FolderPoller::tick(bool follow) {
    m_host.setTimerEnabled(false);
    const Result<void> opened = m_folder.open();
    if (opened && m_settings.printing) takeFolder();
    if (follow || std::chrono::steady_clock::now() - m_followedAt >=
                      std::chrono::milliseconds(m_settings.followEveryMs))
        followJobs();

    const std::optional<std::vector<FolderEntry>> listing = listFolder(opened);
    if (!listing) {
        showListing({});
        if (!m_host.stopping()) m_host.setTimerEnabled(true);
        return;
    }
    const std::vector<FolderEntry>& entries = *listing;
    // Forget what is no longer there (a set: a big folder would make this quadratic).
    std::unordered_set<std::string_view> present;
    for (const FolderEntry& e : entries) present.insert(e.name);
    std::erase_if(m_files, [&](const auto& f) { return !present.contains(f.first); });

    std::vector<ListedFile> shown;
    shown.reserve(entries.size());
    for (const FolderEntry& e : entries) {
        const auto known = m_files.find(e.name);
        const bool same = known != m_files.end() && known->second.stamp == e.identity;
        shown.push_back({e.name, same ? known->second.mark : Message(),
                         same ? stateOf(e.name) : FileState::Waiting});
    }
    showListing(shown);

    // Standing by, or the held folder unusable: nothing is claimed, so nothing is printed.
    const bool blocked = m_settings.printing && !m_holding.ready();
    const auto followEvery = std::chrono::milliseconds(m_settings.followEveryMs);
    auto turned = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < entries.size() && !blocked; ++i) {
        // Files that keep their decision cost a look-up; the window turns between the others,
        // and a long batch does not hold back the jobs already handed over.
        const auto now = std::chrono::steady_clock::now();
        if (now - turned >= kTurnEvery) {
            m_host.yieldToWindow();
            turned = std::chrono::steady_clock::now();
        }
        if (m_host.stopping()) break;
        if (now - m_followedAt >= followEvery) followJobs();
        const Outcome outcome = process(entries[i], shown[i].mark);
        shown[i].state =
            outcome == Outcome::HandedOver ? FileState::Held : stateOf(entries[i].name);
        if (outcome == Outcome::StopTick) {
            // The files behind wait for the same reason.
            for (std::size_t j = i + 1; j < shown.size(); ++j) {
                if (shown[j].mark.empty()) shown[j].mark = shown[i].mark;
            }
            break;
        }
    }
    if (blocked) {
        for (ListedFile& f : shown) {
            if (f.mark.empty()) f.mark = Message(PLX_TR("Station", "waiting: %1"), {m_heldTrouble});
        }
    }
    showListing(shown);
    if (!m_host.stopping()) m_host.setTimerEnabled(true);
}

}  // namespace plx
