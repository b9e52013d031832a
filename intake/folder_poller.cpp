#include "intake/folder_poller.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <system_error>
#include <unordered_set>

#include "common/number.h"
#include "common/text.h"
#include "intake/watch_folder.h"

namespace plx {
namespace fs = std::filesystem;

namespace {

std::string formatSeconds(double s) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", s);
    return buf;
}

// "aborted: job-aborted-by-system; Printer not responding" for the log.
std::string describe(const JobStatus& s) {
    std::string out = s.state.empty() ? "ended" : s.state;
    if (!s.reasons.empty()) out += ": " + s.reasons;
    if (!s.message.empty()) out += "; " + s.message;
    return out;
}

}  // namespace

bool isJobFileName(std::string_view name) {
    if (name.empty() || name.front() == '.' || name.size() < 5) return false;
    const std::string_view ext = name.substr(name.size() - 4);
    return ext[0] == '.' && lowerAscii(ext[1]) == 'b' && lowerAscii(ext[2]) == 'm' &&
           lowerAscii(ext[3]) == 'p';
}

FolderPoller::FolderPoller(JobHost& host, PollerSettings settings)
    : m_host(host),
      m_settings(std::move(settings)),
      m_holding(watchFolderPath(m_settings.watchFolder)) {}

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

Result<std::vector<FolderPoller::Entry>> FolderPoller::listFolder() const {
    const fs::path folder = watchFolderPath(m_settings.watchFolder);
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) {
        return makeError(ErrorKind::Io, "watch folder \"" + m_settings.watchFolder + "\" (" +
                                            folder.string() + "): " + ec.message());
    }
    std::vector<Entry> entries;
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) break;
        const std::string name = it->path().filename().string();
        if (!isJobFileName(name)) continue;
        std::error_code sec;
        const fs::file_status st = it->symlink_status(sec);
        if (sec || st.type() == fs::file_type::directory) continue;  // folders are never jobs
        Entry e;
        e.name = name;
        e.regular = st.type() == fs::file_type::regular;
        if (e.regular) {
            e.stamp.size = it->file_size(sec);
            e.stamp.mtime = it->last_write_time(sec);
        }
        entries.push_back(std::move(e));
    }
    if (ec) {
        return makeError(ErrorKind::Io,
                         "watch folder \"" + m_settings.watchFolder + "\": " + ec.message());
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return lessIgnoringCase(a.name, b.name); });
    return entries;
}

// --- Reporting -----------------------------------------------------------------------------

void FolderPoller::remember(const Entry& entry, State state, const Message& mark, bool reportIt) {
    m_files[entry.name] = Remembered{state, entry.stamp, mark};
    if (reportIt) {
        m_host.report(state == State::Rejected ? Severity::Warning : Severity::Notice,
                      Message(PLX_TR("Station", "%1: %2"), {entry.name, mark}));
    }
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

void FolderPoller::updateCondition() {
    Message now;
    if (!m_folderTrouble.empty()) {
        now = Message(PLX_TR("Station", "Watch folder trouble: %1"), {m_folderTrouble});
    } else if (!m_serverTrouble.empty()) {
        now = Message(PLX_TR("Station", "Waiting for the print server: %1"), {m_serverTrouble});
    } else if (!m_queueBlocked.empty()) {
        now = Message(PLX_TR("Station", "Waiting for the printer: %1"), {m_queueBlocked});
    }
    if (now.text() == m_condition.text()) return;
    m_condition = now;
    m_host.showCondition(m_condition);
}

// --- Jobs handed over earlier --------------------------------------------------------------

void FolderPoller::announcePrinter() {
    if (!m_settings.printing) return;
    Message unused;
    if (checkPrinter(unused) == Outcome::Next && m_printerWarning.empty()) {
        m_host.report(Severity::Info,
                      Message(PLX_TR("Station", "printer \"%1\" is print queue \"%2\""),
                              {m_settings.printerName, m_queueUsed}));
    }
}

void FolderPoller::follow(const std::string& what, const JobRef& job) {
    m_held.push_back(HeldJob{what, job, {}, {}, false});
}

void FolderPoller::recoverHeldJobs() {
    HoldingArea::Recovered r = m_holding.recover();
    for (const Message& e : r.events) m_host.report(Severity::Notice, e);
    if (!r.jobs.empty()) {
        m_host.report(Severity::Notice, Message(PLX_TR("Station",
                                                       "following %1 job(s) handed over before the "
                                                       "station was last stopped"),
                                                {std::to_string(r.jobs.size())}));
    }
    m_held.insert(m_held.end(), r.jobs.begin(), r.jobs.end());
}

void FolderPoller::followHeldJobs() {
    for (std::size_t i = 0; i < m_held.size();) {
        if (m_host.stopping()) return;
        const Result<JobStatus> status = m_host.jobStatus(m_held[i].job);
        if (!status) {
            reportServerTrouble(status.error().message, false);
            return;  // every job is asked again at the next tick
        }
        serverAnswered(false);
        if (settle(m_held[i], *status)) {
            m_waitingSaid.erase(m_held[i].job.text());
            m_held.erase(m_held.begin() + std::ptrdiff_t(i));
        } else {
            ++i;
        }
    }
}

// Acts on a job that has ended; false while it has not.
bool FolderPoller::settle(const HeldJob& held, const JobStatus& s) {
    const std::string job = held.job.text();
    const std::string& name = held.name;
    Message ended;
    Severity severity = Severity::Notice;
    switch (s.phase) {
        case JobPhase::Waiting:
            if (s.state == "processing-stopped" || s.state == "pending-held") {
                if (m_waitingSaid.insert(job).second) {
                    m_host.report(Severity::Notice,
                                  Message(PLX_TR("Station", "%1: job %2 waits at the printer (%3)"),
                                          {name, job, describe(s)}));
                }
            }
            return false;
        case JobPhase::Failed:
            return reprint(held, s);
        case JobPhase::Completed:
            severity = Severity::Info;
            ended = s.pages > 0 ? Message(PLX_TR("Station",
                                                 "%1: printed on print queue \"%2\": job %3 "
                                                 "completed at the printer (%4 page(s))"),
                                          {name, held.job.queue, job, std::to_string(s.pages)})
                                : Message(PLX_TR("Station",
                                                 "%1: printed on print queue \"%2\": job %3 "
                                                 "completed at the printer"),
                                          {name, held.job.queue, job});
            m_printerFailures.erase(name);
            break;
        case JobPhase::CanceledByPerson:
            ended = Message(PLX_TR("Station", "%1: job %2 was cancelled (%3): not printed again"),
                            {name, job, describe(s)});
            break;
        case JobPhase::Unknown:
            ended = Message(PLX_TR("Station",
                                   "%1: the print server no longer knows job %2: "
                                   "counted as ended"),
                            {name, job});
            break;
    }
    // The file goes before the line that says so: whoever reads the log finds it gone.
    if (Result<void> r = m_holding.release(held); !r) {
        m_host.report(Severity::Warning,
                      Message(PLX_TR("Station", "%1: cannot delete the held file: %2"),
                              {name, r.error().message}));
    }
    m_host.report(severity, ended);
    return true;
}

// A job the printer failed: its label did not come out, so the file is printed again.
bool FolderPoller::reprint(const HeldJob& held, const JobStatus& s) {
    const std::string job = held.job.text();
    const Message failed(PLX_TR("Station", "%1: job %2 failed at the printer (%3)"),
                         {held.name, job, describe(s)});
    if (!held.jobFile) {
        m_host.report(Severity::Warning, failed);
        return true;
    }
    if (held.file.empty()) {
        // Left in the folder when it could not be taken out: it prints again from there.
        const auto inPlace = m_files.find(held.name);
        const bool there = inPlace != m_files.end() && inPlace->second.state == State::HeldInPlace;
        if (there) m_files.erase(inPlace);
        m_host.report(Severity::Warning,
                      there ? Message(PLX_TR("Station", "%1: printed again"), {failed})
                            : Message(PLX_TR("Station",
                                             "%1; its file is no longer there to "
                                             "print again"),
                                      {failed}));
        (void)m_holding.release(held);  // a record at most: nothing held to lose
        return true;
    }
    const Result<std::string> back = m_holding.putBack(held);
    if (!back) {
        const Message stuck(PLX_TR("Station",
                                   "%1, and it cannot be put back into the folder: %2; "
                                   "it stays in %3"),
                            {failed, back.error().message, held.file.string()});
        if (m_waitingSaid.insert(job).second) m_host.report(Severity::Error, stuck);
        return false;  // tried again at the next tick
    }
    const int failures = ++m_printerFailures[*back];
    if (failures < kMaxPrinterFailures) {
        m_host.report(
            Severity::Warning,
            Message(PLX_TR("Station", "%1: put back as %2 to be printed again"), {failed, *back}));
        return true;
    }
    // The same label failed again and again: the printer needs a person, not another job.
    m_printerFailures.erase(*back);
    Entry entry{*back, true, {}};
    std::error_code ec;
    const fs::path path = jobFilePath(m_settings.watchFolder, *back);
    entry.stamp = Stamp{fs::file_size(path, ec), fs::last_write_time(path, ec)};
    remember(entry, State::Rejected,
             Message(PLX_TR("Station",
                            "failed at the printer %1 times in a row (%2): set "
                            "aside until the file changes or the station restarts"),
                     {std::to_string(failures), describe(s)}),
             false);
    m_host.report(Severity::Error, Message(PLX_TR("Station",
                                                  "%1: put back as %2 and set aside: "
                                                  "it failed %3 times in a row"),
                                           {failed, *back, std::to_string(failures)}));
    return true;
}

// --- One job file ---------------------------------------------------------------------------

// Files whose state holds until they change are not looked at again.
bool FolderPoller::alreadyDecided(const Entry& entry, Message& mark) {
    const auto known = m_files.find(entry.name);
    if (!entry.regular) {
        mark = PLX_TR("Station", "not a regular file: never opened");
        if (known == m_files.end() || known->second.state != State::NotRegular) {
            remember(entry, State::NotRegular, mark, true);
        }
        return true;
    }
    if (known == m_files.end() || !(known->second.stamp == entry.stamp)) return false;
    const State s = known->second.state;
    if (s == State::Waiting || s == State::Retry || s == State::NotRegular) return false;
    mark = known->second.mark;
    return true;
}

FolderPoller::Outcome FolderPoller::checkPrinter(Message& mark) {
    const Result<PrinterReadiness> r = m_host.printerReadiness();
    if (!r) {
        mark = PLX_TR("Station", "waiting for the print server");
        reportServerTrouble(r.error().message, false);
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
        if (why.text() != m_queueBlocked) {
            m_queueBlocked = why.text();
            m_host.report(Severity::Warning,
                          Message(PLX_TR("Station",
                                         "%1; the job files stay and are printed when "
                                         "it takes jobs again"),
                                  {why}));
            updateCondition();
        }
        mark = Message(PLX_TR("Station", "waiting: %1"), {why});
        return Outcome::StopTick;
    }
    if (!m_queueBlocked.empty()) {
        m_queueBlocked.clear();
        m_host.report(
            Severity::Notice,
            Message(PLX_TR("Station", "print queue \"%1\" takes jobs again"), {r->queue}));
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

bool FolderPoller::load(const Entry& entry, const std::string& path, Message& mark) {
    const Result<void> loaded = m_host.loadPicture(path);
    if (loaded) return true;
    const Error& e = loaded.error();
    const auto known = m_files.find(entry.name);
    const bool seen = known != m_files.end() && known->second.stamp == entry.stamp;
    switch (e.kind) {
        case ErrorKind::NotFound:
            m_files.erase(entry.name);
            mark = PLX_TR("Station", "gone");
            m_host.report(
                Severity::Notice,
                Message(PLX_TR("Station", "%1: removed before it could be loaded"), {entry.name}));
            return false;
        case ErrorKind::Incomplete:
            mark = Message(PLX_TR("Station", "waiting: %1"), {e.message});
            remember(entry, State::Waiting, mark, !(seen && known->second.state == State::Waiting));
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

FolderPoller::Outcome FolderPoller::process(const Entry& entry, Message& mark) {
    if (alreadyDecided(entry, mark)) return Outcome::Next;
    std::int16_t copies = 0;
    if (m_settings.printing) {
        const Result<std::int16_t> count = copyCount(entry.name);
        if (!count) {
            mark = Message(PLX_TR("Station", "not printed: %1"), {count.error().message});
            remember(entry, State::Rejected, mark, true);
            return Outcome::Next;
        }
        copies = *count;
        if (checkPrinter(mark) == Outcome::StopTick) return Outcome::StopTick;
    }

    const std::string path = jobFilePath(m_settings.watchFolder, entry.name).string();
    if (!load(entry, path, mark)) return Outcome::Next;
    if (!m_settings.printing) {
        mark = Message(PLX_TR("Station", "shown only: print mode \"%1\" prints nothing"),
                       {m_settings.printMode});
        remember(entry, State::Shown, mark, true);
        return Outcome::Next;
    }

    // A file that changed while it was being read is still being written.
    std::error_code ec;
    const Stamp now{fs::file_size(path, ec), fs::last_write_time(path, ec)};
    if (!ec && !(now == entry.stamp)) {
        mark = PLX_TR("Station", "waiting: the file is still being written");
        remember(Entry{entry.name, true, now}, State::Waiting, mark, true);
        return Outcome::Next;
    }
    return print(entry, copies, mark);
}

FolderPoller::Outcome FolderPoller::print(const Entry& entry, std::int16_t copies, Message& mark) {
    const fs::path path = jobFilePath(m_settings.watchFolder, entry.name);
    // Taken before printing: the file held afterwards must be the one that was printed.
    const Result<FileIdentity> identity = identityOf(path);
    const auto started = std::chrono::steady_clock::now();
    const Result<JobRef> job = m_host.printJob(copies, entry.name);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (!job) return printFailed(entry, job.error(), mark);
    serverAnswered(true);
    if (!job->notice.empty() && m_saidOnce.insert(job->notice.text()).second) {
        m_host.report(Severity::Notice, job->notice);
    }
    if (!job->submitted()) {
        // Nothing fell on the label: no blank label is sent, and the job is done.
        std::error_code ec;
        fs::remove(path, ec);
        if (ec) {
            mark = Message(PLX_TR("Station",
                                  "nothing to print, but the file could not be "
                                  "deleted (%1)"),
                           {ec.message()});
            remember(entry, State::Rejected, mark, true);
            return Outcome::Next;
        }
        m_files.erase(entry.name);
        mark = PLX_TR("Station", "nothing to print");
        m_host.report(Severity::Info,
                      Message(PLX_TR("Station",
                                     "%1: nothing to print (no dot of it falls on the "
                                     "label): no job sent, the file is deleted"),
                              {entry.name}));
        return Outcome::Next;
    }
    handOver(entry, *job, identity ? *identity : FileIdentity{}, copies, seconds, mark);
    return Outcome::Next;
}

FolderPoller::Outcome FolderPoller::printFailed(const Entry& entry, const Error& e, Message& mark) {
    switch (e.kind) {
        case ErrorKind::PrintServer:
            mark = PLX_TR("Station", "waiting for the print server");
            reportServerTrouble(e.message, true);
            return Outcome::StopTick;
        case ErrorKind::Aborted:
            mark = PLX_TR("Station", "interrupted: printed at the next start");
            m_host.report(Severity::Notice,
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

void FolderPoller::handOver(const Entry& entry, const JobRef& job, const FileIdentity& identity,
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
    const Result<HeldJob> held = m_holding.hold(entry.name, job, identity);
    if (held) {
        m_held.push_back(*held);
        m_files.erase(entry.name);
        mark = PLX_TR("Station", "sent to the printer");
        m_host.report(Severity::Info, sent);
        return;
    }
    // It cannot leave the folder (a read-only folder, say): the job is followed from here,
    // and the file is not printed again while the station runs unless the job fails.
    m_held.push_back(HeldJob{entry.name, job, {}, {}, true});
    mark = Message(PLX_TR("Station",
                          "sent as job %1, but it could not be taken out of the "
                          "folder (%2): not printed again while the station runs"),
                   {job.text(), held.error().message});
    remember(entry, State::HeldInPlace, mark, false);
    m_host.report(Severity::Warning, Message(PLX_TR("Station", "%1; %2"), {sent, mark}));
}

// --- The tick -------------------------------------------------------------------------------

void FolderPoller::tick() {
    m_host.setTimerEnabled(false);
    // Once the folder is there: what an earlier run was holding lives inside it.
    std::error_code ec;
    if (!m_recovered && fs::is_directory(watchFolderPath(m_settings.watchFolder), ec)) {
        recoverHeldJobs();
        m_recovered = true;
    }
    followHeldJobs();

    Result<std::vector<Entry>> listing = listFolder();
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
        m_host.showListing({});
        if (!m_host.stopping()) m_host.setTimerEnabled(true);
        return;
    }
    if (!m_folderTrouble.empty()) {
        m_folderTrouble.clear();
        m_host.report(Severity::Notice,
                      Message(PLX_TR("Station", "watch folder \"%1\" is readable again"),
                              {m_settings.watchFolder}));
        updateCondition();
    }

    const std::vector<Entry>& entries = *listing;
    // Forget what is no longer there (a set: a big folder would make this quadratic).
    std::unordered_set<std::string_view> present;
    for (const Entry& e : entries) present.insert(e.name);
    std::erase_if(m_files, [&](const auto& f) { return !present.contains(f.first); });

    std::vector<ListedFile> shown;
    shown.reserve(entries.size());
    for (const Entry& e : entries) {
        const auto known = m_files.find(e.name);
        shown.push_back({e.name, known != m_files.end() && known->second.stamp == e.stamp
                                     ? known->second.mark
                                     : Message()});
    }
    m_host.showListing(shown);

    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (m_host.stopping()) break;
        if (process(entries[i], shown[i].mark) == Outcome::StopTick) {
            // The files behind wait for the same reason.
            for (std::size_t j = i + 1; j < shown.size(); ++j) {
                if (shown[j].mark.empty()) shown[j].mark = shown[i].mark;
            }
            break;
        }
    }
    m_host.showListing(shown);
    if (!m_host.stopping()) m_host.setTimerEnabled(true);
}

}  // namespace plx
