#include "app/station_monitor.h"

#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <cstdlib>
#include <set>

#include "app/job_records.h"
#include "intake/folder_poller.h"
#include "intake/watch_folder.h"
#include "monitoring/history_recorder.h"
#include "monitoring/snapshot_file.h"
#include "monitoring/state_places.h"
#include "monitoring/status_line.h"
#include "monitoring/time_text.h"
#include "printing/queue_wording.h"

namespace plx {
namespace {

// A change is published this long after it, so that a burst (a tick, a job's rows) is one
// snapshot and one STATUS= line; the snapshot file is written no more often anyway.
constexpr int kSettleMs = SnapshotPublisher::kMinIntervalMs;
// Standing conditions are looked at this often for the log's reminders.
constexpr int kRemindCheckMs = 30 * 1000;

std::string hostName() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0) return {};
    return host;
}

FileMark markOf(FileState state) {
    switch (state) {
        case FileState::Waiting:
            return FileMark::Waiting;
        case FileState::Printing:
            return FileMark::Printing;
        case FileState::Held:
            return FileMark::Held;
        case FileState::SetAside:
            return FileMark::SetAside;
        case FileState::Bad:
            return FileMark::Bad;
        case FileState::Changing:
            return FileMark::Incomplete;
        case FileState::Retrying:
            return FileMark::Retrying;
        case FileState::Shown:
            return FileMark::Shown;
    }
    return FileMark::Waiting;
}

const char* kindWord(StationCondition::Kind kind) {
    switch (kind) {
        case StationCondition::Kind::Printer:
            return "printer";
        case StationCondition::Kind::PrintServer:
            return "print-server";
        case StationCondition::Kind::StandingBy:
            return "standby";
        case StationCondition::Kind::Folder:
        case StationCondition::Kind::HeldFolder:
        case StationCondition::Kind::Claim:
            break;
    }
    return "folder";
}

}  // namespace

RecordPlaces RecordPlaces::fromEnvironment() {
    RecordPlaces p;
    p.stateFolder = plx::stateFolder();
    p.runtimeFolder = plx::runtimeFolder();
    if (const char* page = std::getenv("PLIXAGRAM_STATUS_PAGE")) p.statusPage = page;
    p.retentionDays = retentionDaysFromEnvironment();
    return p;
}

StationMonitor::StationMonitor(QObject* parent) : QObject(parent) {
    m_state.station.pid = int(::getpid());
    m_state.station.host = hostName();
    m_state.station.version = PLX_VERSION;
    m_state.station.started = wallNowMs();
    m_update.setSingleShot(true);
    m_update.setInterval(kSettleMs);
    connect(&m_update, &QTimer::timeout, this, &StationMonitor::publish);
    m_remind.setInterval(kRemindCheckMs);
    connect(&m_remind, &QTimer::timeout, this, [this] {
        remind();
        changed();  // the counters and spans move on
    });
}

// The records go before the history they write to.
StationMonitor::~StationMonitor() {
    m_page.reset();
    m_records.reset();
}

void StationMonitor::settingsLoaded(const RunSettings& s) {
    m_state.settings = {s.printer_name, s.watch_folder, s.print_mode, s.offset_x, s.offset_y};
    m_state.station.watchFolder = absoluteFolder(watchFolderPath(s.watch_folder).string());
    m_listed.clear();
    m_held.clear();
    m_conditions.clear();
    startRecords();
    m_remind.start();
    changed(true);
}

void StationMonitor::startRecords() {
    m_page.reset();
    m_records.reset();
    m_recorder.reset();
    m_publisher.reset();
    m_published.reset();
    const std::string key = folderKey(m_state.station.watchFolder);
    if (!m_places.stateFolder.empty()) {
        m_recorder =
            std::make_unique<HistoryRecorder>(m_places.stateFolder + "/" + key + ".sqlite",
                                              m_state.station.watchFolder, m_places.retentionDays);
        connect(m_recorder.get(), &HistoryRecorder::stateChanged, this,
                &StationMonitor::historyStateChanged);
        m_records = std::make_unique<JobRecords>(*m_recorder, m_state.settings.mode);
        if (!m_recorder->kept()) historyStateChanged();
    }
    if (!m_places.runtimeFolder.empty()) {
        if (const Result<void> made = ensureFolder(m_places.runtimeFolder); !made) {
            if (m_say)
                m_say(Severity::Warning, Message(PLX_TR("Station",
                                                        "the station's state is not written for "
                                                        "\"plixagram status\": %1"),
                                                 {made.error().message}));
        } else {
            m_publisher = std::make_unique<SnapshotPublisher>(
                snapshotPathFor(m_places.runtimeFolder, m_state.station.watchFolder));
        }
    }
    if (!m_places.statusPage.empty()) startPage();
}

// A page that cannot be served is said, and the station prints on without it.
void StationMonitor::startPage() {
    const Result<PageAddress> where = parsePageAddress(m_places.statusPage);
    Result<void> started = where ? Result<void>() : Result<void>(where.error());
    if (where) {
        m_page = std::make_unique<StatusPage>(*this);
        started = m_page->start(*where);
    }
    if (!started) {
        m_page.reset();
        if (m_say)
            m_say(Severity::Warning,
                  Message(PLX_TR("Station", "no status page: %1"), {started.error().message}));
        return;
    }
    if (m_say)
        m_say(Severity::Notice, Message(PLX_TR("Station", "status page on %1"), {m_page->url()}));
}

std::string StationMonitor::snapshotPath() const {
    return m_publisher ? m_publisher->path() : std::string();
}

void StationMonitor::eventSaid(const std::string& line) {
    m_state.lastEvent = line;
    m_state.lastEventAt = wallNowMs();
    changed();
}

void StationMonitor::listing(const std::vector<ListedFile>& files) {
    const std::int64_t now = wallNowMs();
    std::map<std::string, std::int64_t> firstSeen;
    std::vector<std::string> names;
    names.reserve(files.size());
    for (const ListedFile& f : files) {
        const auto known = m_firstSeen.find(f.name);
        firstSeen[f.name] = known != m_firstSeen.end() ? known->second : now;
        names.push_back(f.name);
    }
    m_firstSeen = std::move(firstSeen);
    m_listed = files;
    // A folder that cannot be read lists nothing: its files have not gone.
    const bool folderRead =
        std::none_of(m_conditions.begin(), m_conditions.end(),
                     [](const auto& c) { return c.what.kind == StationCondition::Kind::Folder; });
    if (m_records && folderRead) m_records->listed(names);
    changed(true);
}

void StationMonitor::conditions(const std::vector<StationCondition>& now) {
    std::vector<Condition> next;
    for (const StationCondition& c : now) {
        // A condition that goes on with other words (another reason) goes on since it arose.
        const auto same = std::find_if(m_conditions.begin(), m_conditions.end(),
                                       [&c](const Condition& o) { return o.what.kind == c.kind; });
        next.push_back({c, same != m_conditions.end() ? same->since : wallNowMs()});
    }
    m_conditions = std::move(next);
    const auto standby = std::find_if(m_conditions.begin(), m_conditions.end(), [](const auto& c) {
        return c.what.kind == StationCondition::Kind::StandingBy;
    });
    m_state.station.holdsFolder = standby == m_conditions.end();
    m_state.station.standsByFor =
        m_state.station.holdsFolder ? std::string() : standby->what.holder;
    remind();
    changed();
}

void StationMonitor::printer(const std::string& queue, const std::optional<QueueState>& q) {
    PrinterState next;
    next.queue = queue;
    if (!q) {
        next.state = "unknown";
    } else {
        next.blocked = q->blocksJobs();
        next.state = !q->accepting ? "not accepting jobs" : q->stopped ? "stopped" : "idle";
        next.reasons = next.blocked ? describeQueueState(*q) : attentionReasons(*q);
        if (next.reasons == next.state) next.reasons.clear();
    }
    PrinterState& p = m_state.printer;
    next.since = p.since;
    if (next.queue != p.queue || next.state != p.state || next.reasons != p.reasons) {
        const std::int64_t now = wallNowMs();
        if (p.blocked && p.since > 0) m_stoppedMs += now - p.since;
        next.since = now;
    }
    if (next == p) return;
    p = next;
    changed();
}

void StationMonitor::jobStarted(const std::string& file, int copies) {
    m_state.job = CurrentJob{file, copies, 0, 0, wallNowMs()};
    changed(true);
}

void StationMonitor::progress(int row, int height) {
    if (!m_state.job) return;
    m_state.job->row = row;
    m_state.job->height = height;
    changed();
}

void StationMonitor::jobEnded() {
    m_state.job.reset();
    changed(true);
}

void StationMonitor::pictureChanged(const std::string& file, int width, int height) {
    const bool shown = width > 0 && height > 0;
    m_state.picture = {shown ? ++m_pictures : 0, shown ? file : std::string(), width, height};
    changed();
}

void StationMonitor::jobDecided(const JobEvent& e) {
    if (m_records) {
        JobRecords::Context c;
        if (const auto seen = m_firstSeen.find(e.file); seen != m_firstSeen.end())
            c.seenAt = seen->second;
        c.holder = m_state.station.standsByFor;
        m_records->record(e, c);
    }
    count(e);
    switch (e.decision) {
        case JobDecision::Sent:
        case JobDecision::Resumed:
        case JobDecision::TakenOver:
            held(e);
            break;
        default:
            released(e.token);
            break;
    }
    changed(true);
}

void StationMonitor::count(const JobEvent& e) {
    StationCounters& c = m_state.counters;
    switch (e.decision) {
        case JobDecision::Sent:
            if (e.copies > 0) m_copies[e.token] = e.copies;
            return;
        case JobDecision::Printed: {
            const auto known = m_copies.find(e.token);
            const Result<std::int16_t> named = FolderPoller::copyCount(e.file);
            c.labelsPrinted += known != m_copies.end() ? known->second : named ? *named : 1;
            break;
        }
        case JobDecision::FailedAtPrinter:
            ++c.jobsFailed;
            return;
        case JobDecision::SetAside:
            ++c.jobsFailed;
            ++c.setAside;
            break;
        case JobDecision::Rejected:
            ++c.setAside;
            break;
        default:
            break;
    }
    m_copies.erase(e.token);
}

void StationMonitor::held(const JobEvent& e) {
    const auto row = std::find_if(m_held.begin(), m_held.end(),
                                  [&e](const HeldRow& h) { return h.token == e.token; });
    const std::string job = e.jobId > 0 ? e.queue + "-" + std::to_string(e.jobId) : std::string();
    if (row != m_held.end()) {
        row->job = job;
        return;
    }
    m_held.push_back({e.token, e.file, job});
}

void StationMonitor::released(const std::string& token) {
    if (token.empty()) return;
    std::erase_if(m_held, [&token](const HeldRow& h) { return h.token == token; });
}

std::vector<FileRow> StationMonitor::fileRows() const {
    std::vector<FileRow> rows;
    rows.reserve(m_listed.size() + m_held.size());
    for (const ListedFile& f : m_listed) {
        // A file just handed over is shown with its job, below.
        if (f.state == FileState::Held) continue;
        const bool printing = m_state.job && m_state.job->file == f.name &&
                              (f.state == FileState::Waiting || f.state == FileState::Held);
        rows.push_back({f.name, f.name, printing ? FileState::Printing : f.state,
                        printing ? Message() : f.mark});
    }
    for (const HeldRow& h : m_held) {
        rows.push_back({"held:" + h.token, h.name, FileState::Held,
                        h.job.empty()
                            ? Message(PLX_TR("Station", "waiting for the print server's answer"))
                            : Message(PLX_TR("Station", "job %1 at the printer"), {h.job})});
    }
    return rows;
}

StationSnapshot StationMonitor::snapshot() const {
    StationSnapshot s = m_state;
    const std::int64_t now = wallNowMs();
    s.updated = now;
    for (const FileRow& r : fileRows()) {
        s.files.push_back({r.name, markOf(r.state), r.reason.text()});
        if (r.state == FileState::Waiting || r.state == FileState::Changing ||
            r.state == FileState::Retrying)
            ++s.counters.filesWaiting;
    }
    s.counters.queueStoppedSeconds =
        (m_stoppedMs + (s.printer.blocked && s.printer.since > 0 ? now - s.printer.since : 0)) /
        1000;
    for (const Condition& c : m_conditions)
        s.conditions.push_back({kindWord(c.what.kind), c.what.text.text(), c.since});
    if (m_recorder) {
        s.history = {m_recorder->kept(), m_recorder->problem(), m_recorder->path()};
    }
    return s;
}

std::vector<JobRecord> StationMonitor::recentJobs(int count) const {
    return m_recorder ? m_recorder->recent(count) : std::vector<JobRecord>{};
}

QImage StationMonitor::picture() const { return m_pictureSource ? m_pictureSource() : QImage(); }

void StationMonitor::changed(bool files) {
    if (files) emit filesChanged();
    if (!m_update.isActive()) m_update.start();
}

void StationMonitor::publish() {
    m_update.stop();
    StationSnapshot s = snapshot();
    // A tick that changed nothing writes nothing (the file is synced at each write).
    const std::int64_t now = s.updated;
    s.updated = 0;
    if (m_published && *m_published == s) return;
    m_published = s;
    s.updated = now;
    if (m_publisher) m_publisher->publish(s);
    if (m_statusSink) m_statusSink(composeStatusLine(s, now));
}

void StationMonitor::publishNow() {
    publish();
    if (m_publisher) m_publisher->flush();
}

// Each standing condition is said again every so often while it lasts, and its end once.
void StationMonitor::remind() {
    std::vector<std::string> standing;
    for (const Condition& c : m_conditions) standing.push_back(c.what.text.text());
    for (const Reminder& r : m_reminder.update(standing, ConditionReminder::Clock::now()))
        if (m_say) m_say(r.severity, r.message);
}

void StationMonitor::historyStateChanged() {
    if (m_say && m_recorder) {
        if (m_recorder->kept())
            m_say(Severity::Notice, PLX_TR("Station", "the job history is kept again"));
        else
            m_say(Severity::Warning, Message(PLX_TR("Station", "history is not being kept: %1"),
                                             {m_recorder->problem()}));
    }
    changed();
}

}  // namespace plx
